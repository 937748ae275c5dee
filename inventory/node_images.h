// The two node image strips, loaded once per process.
#pragma once

#include "platform/gdi.h"

struct NodeImageStrips {
    HBITMAP small;  // six 16×16 images
    HBITMAP large;  // six 32×32 images
};

const NodeImageStrips& GetNodeImageStrips();
