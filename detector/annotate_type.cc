#include "detector/annotate_type.h"
