#include "detector/edit_helpers.h"
