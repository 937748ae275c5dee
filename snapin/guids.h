// Class identifiers of the module.
#pragma once

#include "platform/snapin_contract.h"
