// Class identifiers of the module.
#pragma once

#include "platform/com.h"

inline constexpr CLSID CLSID_Ferrodex = MakeGuid("D89C902C-BBEF-4E6D-BD92-E71764806F79");
inline constexpr CLSID CLSID_FerrodexAbout = MakeGuid("3C233F7B-D357-4DB7-9572-0F990C3D420D");
