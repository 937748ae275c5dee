// Writes a console file whose inventory holds one group with one host that
// holds an lshw XML file, as a scan leaves it (for the terminal face's
// end-to-end tests, which cannot scan).
//   console_image_tool OUT GROUP HOST XMLFILE
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "console/inventory_image.h"
#include "platform/text.h"

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: console_image_tool OUT GROUP HOST XMLFILE\n");
        return 2;
    }
    std::ifstream in(argv[4], std::ios::binary);
    const std::string xml((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (xml.empty()) {
        std::fprintf(stderr, "console_image_tool: %s is empty or missing\n", argv[4]);
        return 1;
    }
    const auto image = InventoryImageWithXml(AnsiToWide(argv[2]), AnsiToWide(argv[3]), AnsiToWide(xml));
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    return out ? 0 : 1;
}
