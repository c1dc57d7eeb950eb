#include "detector/core/host_api.h"
