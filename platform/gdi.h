// Window, bitmap and icon handles.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/com.h"

#ifndef _WIN32

struct WindowObject;
using HWND = WindowObject*;

// A decoded picture: width × height pixels, each 0x00BBGGRR.
struct Bitmap {
    int width = 0;
    int height = 0;
    std::vector<COLORREF> pixels;
};
using HBITMAP = Bitmap*;
using HICON = Bitmap*;

// Decodes an uncompressed 24- or 32-bit BMP file; false on anything else.
bool DecodeBmp(const std::uint8_t* data, std::size_t size, Bitmap& out);

BOOL DeleteObject(HBITMAP bitmap);
BOOL DestroyIcon(HICON icon);
#endif
