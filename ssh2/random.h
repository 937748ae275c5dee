// The random pool lives with the other primitives.
#pragma once

#include "ssh2/crypto/random.h"
