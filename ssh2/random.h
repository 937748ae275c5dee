// The random pool lives with the other primitives.
#pragma once

#include "sshcore/random.h"
