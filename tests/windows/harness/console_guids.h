// The console interfaces' identifiers: the SDK declares them, no import
// library defines them, so the console defines them itself.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <mmc.h>
