#include "detector/class_tables.h"
