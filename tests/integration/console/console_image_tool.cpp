// Writes a console file whose inventory holds hosts that hold lshw XML
// files, as scans leave them (for the README's pictures). The build tree's
// snap-in builds it, registered in a registry of the tool's own.
//   console_image_tool OUT GROUP HOST XMLFILE [GROUP HOST XMLFILE ...]
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "console/inventory_image.h"
#include "console/snapin_module.h"
#include "platform/text.h"

namespace {

// A registry folder of the tool's own, removed at the end.
class CToolRegistry {
public:
    CToolRegistry()
    {
        if (mkdtemp(m_folder) != nullptr) setenv("FERRODEX_REGISTRY", m_folder, 1);
    }
    ~CToolRegistry() { std::filesystem::remove_all(m_folder); }
    CToolRegistry(const CToolRegistry&) = delete;
    CToolRegistry& operator=(const CToolRegistry&) = delete;

private:
    char m_folder[64] = "/tmp/fdx-image-tool-XXXXXX";
};

}  // namespace

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
    CToolRegistry registry;
    std::string error;
    const std::unique_ptr<CSnapinModule> module =
        CSnapinModule::Load(std::string(FDX_BINARY_DIR) + "/snapin/libferrodex-snapin.so", error);
    if (!module || module->Register() != S_OK) {
        std::fprintf(stderr, "console_image_tool: the snap-in module cannot be registered: %s\n", error.c_str());
        return 1;
    }
    std::vector<std::uint8_t> image;
    if (HostStatus status = BuildInventoryImage(hosts, image); !status) {
        std::fprintf(stderr, "console_image_tool: %s\n", status.message.c_str());
        return 1;
    }
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    return out ? 0 : 1;
}
