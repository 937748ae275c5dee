// Node type identifiers of the inventory's nodes, as the console sees them.
#pragma once

#include "platform/com.h"

inline constexpr GUID kRootNodeType = MakeGuid("3A92C98A-1FC8-4482-AD60-4D78790549DB");
inline constexpr GUID kGroupNodeType = MakeGuid("DA119E39-0D74-4CE9-ABE4-BFEDFCD8DE0D");
inline constexpr GUID kHostNodeType = MakeGuid("C4FBF6AC-2761-4DF4-A117-648CA6594B48");

// Image indices in the node image strips.
constexpr int kImageGroup = 0;
constexpr int kImageServer = 2;
constexpr int kImageListLine = 3;
constexpr int kImageHardware = 4;

// Bitmap resources of the strips and their transparent colour.
constexpr int kSmallStripBitmap = 113;
constexpr int kLargeStripBitmap = 105;
constexpr COLORREF kImageMask = RGB(0, 128, 128);

// Context-menu command identifiers.
constexpr long IDM_ADD_GROUP = 0;
constexpr long IDM_SAVE_PASSWORDS = 1;
constexpr long IDM_ABOUT = 2;
constexpr long IDM_ADD_HOST = 2;
constexpr long IDM_DELETE_GROUP = 3;
constexpr long IDM_REMOVE_HOST = 2;
constexpr long IDM_REFRESH_HOST = 3;
constexpr long IDM_EDIT_HOST = 4;
// "Refresh All" of the root and of a group.
constexpr long IDM_REFRESH_ALL = 5;
