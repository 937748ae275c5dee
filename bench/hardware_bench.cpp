// How long the hardware tree of a large lshw document takes to build,
// beside a bare pugixml parse of the same text in the same run.
//
//   hardware_bench [lshw.xml [megabytes]]
//
// The document is made from a real lshw output (this machine's, kept with
// the tests, unless another is named): its top node with the device nodes
// below the first bus repeated until the text reaches the size asked for
// (8 MB by default).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>

#include <pugixml.hpp>

#include "hardware/hardware_node.h"
#include "hardware/hardware_tree.h"
#include "inventory/host_hardware.h"
#include "inventory/host_node.h"
#include "platform/text.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The top element's opening and rows, the repeated device nodes (every
// `node` child of the first `node` child of the top), and the closing.
std::string MakeDocument(const std::string& lshw, std::size_t targetSize)
{
    pugi::xml_document source;
    if (!source.load_string(lshw.c_str())) return {};
    pugi::xml_node top = source.child("node");
    if (!top) top = source.child("list").child("node");
    const pugi::xml_node bus = top.child("node");
    if (!bus) return {};

    std::string devices;
    for (pugi::xml_node device = bus.child("node"); device; device = device.next_sibling("node")) {
        std::ostringstream out;
        device.print(out, " ");
        devices += out.str();
    }
    if (devices.empty()) return {};

    std::string head = "<?xml version=\"1.0\" standalone=\"yes\" ?>\n<node id=\"bench\" class=\"system\">\n";
    for (pugi::xml_node row = top.first_child(); row; row = row.next_sibling()) {
        if (std::string_view(row.name()) == "node") continue;
        std::ostringstream out;
        row.print(out, " ");
        head += out.str();
    }
    head += "<node id=\"core\" class=\"bus\">\n";
    const std::string tail = "</node>\n</node>\n";

    std::string document = head;
    while (document.size() + devices.size() + tail.size() <= targetSize) document += devices;
    document += tail;
    return document;
}

template <typename F>
double Seconds(F&& body)
{
    const auto start = Clock::now();
    body();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Every hardware node's rows, as showing each node once would read them.
std::size_t ReadAllRows(const CConsoleNode& node)
{
    std::size_t count = 0;
    for (const auto& child : node.GetChildren()) {
        if (const auto* hardware = dynamic_cast<const CHardwareNode*>(child.get())) count += hardware->Names().size();
        count += ReadAllRows(*child);
    }
    return count;
}

std::size_t CountNodes(const CConsoleNode& node)
{
    std::size_t count = 0;
    for (const auto& child : node.GetChildren()) count += 1 + CountNodes(*child);
    return count;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string path = argc > 1 ? argv[1] : std::string(FDX_SOURCE_DIR) + "/tests/data/lshw/root.xml";
    const double megabytes = argc > 2 ? std::atof(argv[2]) : 8.0;
    const std::string document = MakeDocument(ReadFile(path), static_cast<std::size_t>(megabytes * 1024 * 1024));
    if (document.empty()) {
        std::fprintf(stderr, "%s: not an lshw document with device nodes below a bus\n", path.c_str());
        return 1;
    }
    const std::u16string wide = AnsiToWide(document);
    // The two are measured in turn, best of several runs each, so that
    // other load on the machine touches both alike.
    const int runs = 7;
    double bare = 1e9;
    double bareWide = 1e9;
    double build = 1e9;
    double load = 1e9;
    double showRows = 1e9;
    std::size_t shownRows = 0;
    std::size_t hardwareNodes = 0;
    std::size_t rows = 0;
    std::size_t bareNodes = 0;
    for (int run = 0; run < runs; ++run) {
        bare = std::min(bare, Seconds([&] {
            pugi::xml_document parsed;
            if (!parsed.load_buffer(document.data(), document.size(), pugi::parse_default, pugi::encoding_utf8))
                std::abort();
            bareNodes = static_cast<std::size_t>(std::distance(parsed.begin(), parsed.end()));
        }));
        bareWide = std::min(bareWide, Seconds([&] {
            pugi::xml_document parsed;
            if (!parsed.load_buffer(wide.data(), wide.size() * sizeof(char16_t), pugi::parse_default,
                                    pugi::encoding_utf16))
                std::abort();
        }));
        load = std::min(load, Seconds([&] {
            com_ptr<IXMLDOMDocument> parsed;
            BOOL ok = FALSE;
            if (FAILED(CreateXmlDocument(CLSID_DOMDocument, parsed.put())) || FAILED(parsed->loadXML(wide, &ok)) || !ok)
                std::abort();
        }));
        // The host holds its XML before the build, as after a scan or a
        // load, and is put away after it: only the build is timed.
        auto host = std::make_unique<CHostNode>(nullptr);
        host->m_picture.SetText(wide);
        build = std::min(build, Seconds([&] {
            if (BuildHardwareTree(*host) != 0) std::abort();
        }));
        hardwareNodes = CountNodes(*host);
        rows = host->m_generalNames.size();
        showRows = std::min(showRows, Seconds([&] { shownRows = ReadAllRows(*host); }));
        host.reset();
    }

    std::printf("document:        %.1f MB, %zu hardware nodes (%zu top rows, %zu top elements)\n",
                document.size() / (1024.0 * 1024.0), hardwareNodes, rows, bareNodes);
    std::printf("bare pugixml:    %8.1f ms  (the UTF-8 text)\n", bare * 1000);
    std::printf("bare pugixml:    %8.1f ms  (the same text in UTF-16, as the host holds it)\n", bareWide * 1000);
    std::printf("XML service load:%8.1f ms  (UTF-16 text into the document)\n", load * 1000);
    std::printf("hardware tree:   %8.1f ms  (text conversion, parse and build)\n", build * 1000);
    std::printf("every node's rows:%8.1f ms  (%zu rows, read when the nodes are first shown)\n", showRows * 1000,
                shownRows);
    std::printf("ratio:           %8.2f x  to the bare UTF-8 parse (target: at most 2 x)\n", build / bare);
    std::printf("                 %8.2f x  to the bare UTF-16 parse\n", build / bareWide);
    return 0;
}
