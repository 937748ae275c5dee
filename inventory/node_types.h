// Node type identifiers of the inventory's nodes, as the console sees them.
#pragma once

#include "platform/com.h"
#include "platform/snapin_contract.h"

// Image indices in the node image strips.
constexpr int kImageGroup = 0;
constexpr int kImageServer = 2;
constexpr int kImageListLine = 3;
constexpr int kImageHardware = 4;

// Bitmap resources of the strips and their transparent colour.
constexpr int kSmallStripBitmap = 113;
constexpr int kLargeStripBitmap = 105;
constexpr COLORREF kImageMask = RGB(0, 128, 128);

// The node types and context-menu command ids are the host's contract
// (platform/snapin_contract.h).
