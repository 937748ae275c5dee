// fdx-preview: the hardware tree of an lshw XML file as the console shows
// it, printed as an indented tree. Every node lists its Name/Value rows;
// a node with children shows them under its "general" child, which comes
// first.
//
//   fdx-preview [lshw.xml]
//
// Without a file it runs this machine's own `lshw -xml`.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "hardware/hardware_node.h"
#include "hardware/hardware_tree.h"
#include "inventory/console_node.h"
#include "platform/text.h"

namespace {

bool OnPath(const std::string& program)
{
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    dirs += ":/usr/sbin:/sbin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string candidate = dirs.substr(start, end - start) + "/" + program;
        if (end > start && access(candidate.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

bool ReadFile(const std::string& path, std::string& text)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool RunLshw(std::string& text)
{
    if (!OnPath("lshw")) {
        std::fprintf(stderr, "lshw is not installed. Install it with:\n  %sapt-get install -y lshw\n",
                     geteuid() == 0 ? "" : "sudo ");
        return false;
    }
    if (geteuid() != 0) std::fprintf(stderr, "(not root: lshw shows less than it would as root)\n");
    FILE* pipe = popen("lshw -xml 2>/dev/null", "r");
    if (pipe == nullptr) return false;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    return pclose(pipe) == 0;
}

void PrintRows(const RowList& names, const RowList& values, int depth)
{
    std::size_t width = 0;
    for (const auto& name : names) width = std::max(width, std::min<std::size_t>(name.size(), 32));
    const std::string indent(2 * depth, ' ');
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::string name = WideToAnsi(names[i]);
        const std::string value = WideToAnsi(i < values.size() ? values[i] : u"");
        if (value.empty()) {
            std::printf("%s%s\n", indent.c_str(), name.c_str());
            continue;
        }
        if (name.size() < width) name.resize(width, ' ');
        std::printf("%s%s  %s\n", indent.c_str(), name.c_str(), value.c_str());
    }
}

void PrintChildren(const CConsoleNode& parent, const RowList& names, const RowList& values, int depth)
{
    std::printf("%s[general]\n", std::string(2 * depth, ' ').c_str());
    PrintRows(names, values, depth + 1);
    for (const auto& child : parent.GetChildren()) {
        const auto& node = dynamic_cast<const CHardwareNode&>(*child);
        std::printf("%s[%s]\n", std::string(2 * depth, ' ').c_str(), WideToAnsi(node.Name()).c_str());
        if (node.GetChildren().empty())
            PrintRows(node.Names(), node.Values(), depth + 1);
        else
            PrintChildren(node, node.Names(), node.Values(), depth + 1);
    }
}

// The place of the machine in the tree: the hardware nodes' parent.
class CPreviewTop : public CConsoleNode {
public:
    std::u16string GetDisplayText(int) override { return {}; }
    int GetImageIndex() override { return 0; }
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 2 || (argc == 2 && (std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help"))) {
        std::fprintf(stderr, "usage: %s [lshw.xml]\nWithout a file, runs this machine's lshw -xml.\n", argv[0]);
        return argc > 2 ? 2 : 0;
    }
    std::string text;
    std::string title;
    if (argc == 2) {
        title = argv[1];
        if (!ReadFile(argv[1], text)) {
            std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
            return 1;
        }
    } else {
        char host[256] = {};
        gethostname(host, sizeof host - 1);
        title = host;
        if (!RunLshw(text)) return 1;
    }

    CPreviewTop top;
    SHardwareTree tree;
    if (ReadHardwareTree(AnsiToWide(text), &top, tree) != 0 || tree.nodes.empty()) {
        std::fprintf(stderr, "%s: no hardware nodes in this lshw output\n", title.c_str());
        return 1;
    }
    for (auto& node : tree.nodes) top.AppendChild(std::move(node));
    std::printf("%s\n", title.c_str());
    PrintChildren(top, tree.generalNames, tree.generalValues, 1);
    return 0;
}
