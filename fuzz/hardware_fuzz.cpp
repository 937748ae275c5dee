// Arbitrary bytes as a host's lshw XML: the build of the hardware tree and
// the reading of every node's rows must end cleanly, whatever the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "hardware/general_node.h"
#include "hardware/hardware_node.h"
#include "hardware/hardware_tree.h"
#include "inventory/host_hardware.h"
#include "hardware/property_item.h"
#include "inventory/host_node.h"
#include "platform/text.h"
#include "platform/ui.h"

namespace {

// Answers every box silently (an empty text shows one).
class CSilentUserInterface : public IUserInterface {
public:
    int DoModal(HWND, DialogState&) override { return IDCANCEL; }
    int ShowMessage(HWND, std::u16string_view, std::u16string_view, UINT) override { return IDOK; }
    HWND CreateProgress(HWND, const DialogState&) override { return nullptr; }
    void SetProgressText(HWND, int, std::u16string_view) override {}
    void DestroyProgress(HWND) override {}
    HWND ActiveWindow() override { return nullptr; }
};

// Reads every row the way the result pane would, through list items.
void ReadRows(CConsoleNode& owner, const RowList& names, const RowList& values)
{
    if (names.size() != values.size()) std::abort();
    for (std::size_t i = 0; i < names.size(); ++i) {
        CPropertyItem item(names[i], values[i], &owner);
        if (item.GetDisplayText(0) != names[i] || item.GetDisplayText(1) != values[i]) std::abort();
    }
}

void WalkTree(CHostNode& host)
{
    CGeneralNode general(host.m_generalNames, host.m_generalValues, &host);
    ReadRows(general, general.m_names, general.m_values);
    std::vector<CConsoleNode*> pending;
    for (const auto& child : host.GetChildren()) pending.push_back(child.get());
    while (!pending.empty()) {
        auto* node = dynamic_cast<CHardwareNode*>(pending.back());
        pending.pop_back();
        if (node == nullptr) std::abort();
        node->GetDisplayText(0);
        ReadRows(*node, node->Names(), node->Values());
        for (const auto& child : node->GetChildren()) pending.push_back(child.get());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static CSilentUserInterface ui;
    SetUserInterface(&ui);
    CHostNode host(nullptr);
    host.m_picture.SetText(AnsiToWide(std::string_view(reinterpret_cast<const char*>(data), size)));
    const int result = BuildHardwareTree(host);
    if (result != 0 && result != 1) std::abort();
    WalkTree(host);
    return 0;
}
