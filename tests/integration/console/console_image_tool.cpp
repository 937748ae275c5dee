// Writes a console file whose inventory holds hosts that hold lshw XML
// files, as scans leave them (for the terminal face's end-to-end tests,
// which cannot scan, and for the README's pictures).
//   console_image_tool OUT GROUP HOST XMLFILE [GROUP HOST XMLFILE ...]
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "console/inventory_image.h"
#include "platform/text.h"

int main(int argc, char** argv)
{
    if (argc < 5 || (argc - 2) % 3 != 0) {
        std::fprintf(stderr, "usage: console_image_tool OUT GROUP HOST XMLFILE [GROUP HOST XMLFILE ...]\n");
        return 2;
    }
    std::vector<InventoryImageHost> hosts;
    for (int i = 2; i < argc; i += 3) {
        std::ifstream in(argv[i + 2], std::ios::binary);
        const std::string xml((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (xml.empty()) {
            std::fprintf(stderr, "console_image_tool: %s is empty or missing\n", argv[i + 2]);
            return 1;
        }
        hosts.push_back({AnsiToWide(argv[i]), AnsiToWide(argv[i + 1]), AnsiToWide(xml)});
    }
    const auto image = InventoryImageWithHosts(hosts);
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    return out ? 0 : 1;
}
