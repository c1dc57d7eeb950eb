#include "detector/prop_list.h"
