#include "detector/annotate_class.h"
