// The five tables a class record points to.
#pragma once

#include "detector/core/host_api.h"
