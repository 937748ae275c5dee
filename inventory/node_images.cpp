#include "inventory/node_images.h"

#include "res/module_strings.h"
#include "inventory/node_types.h"

const NodeImageStrips& GetNodeImageStrips()
{
    static const NodeImageStrips strips{LoadBitmap(g_hInstance, kSmallStripBitmap),
                                        LoadBitmap(g_hInstance, kLargeStripBitmap)};
    return strips;
}
