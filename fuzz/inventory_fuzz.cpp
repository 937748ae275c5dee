// Feeds arbitrary bytes to the inventory loader as a console file's stream,
// then saves what was read: nothing may read or write out of bounds, and a
// damaged stream must still leave a tree that saves.
#include <cstdint>
#include <cstring>

#include "inventory/module_state.h"
#include "inventory/persistence.h"
#include "inventory/root_node.h"
#include "inventory/vault.h"
#include "platform/ui.h"

namespace {

struct PromptRefused {};

// Answers the main-password prompt once with the password the seeds were
// written with; a second prompt (a wrong password) ends the input.
class FuzzUserInterface final : public IUserInterface {
public:
    int DoModal(HWND, DialogState& dialog) override
    {
        if (m_nPrompts++ > 0) throw PromptRefused{};
        dialog.texts[1021] = u"fuzz";
        return IDOK;
    }
    int ShowMessage(HWND, std::u16string_view, std::u16string_view, UINT) override { return IDOK; }
    HWND CreateProgress(HWND, const DialogState&) override { return nullptr; }
    void SetProgressText(HWND, int, std::u16string_view) override {}
    void DestroyProgress(HWND) override {}
    HWND ActiveWindow() override { return nullptr; }

private:
    int m_nPrompts = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Cheap key derivation, so that vault seeds open.
    constexpr SVaultKdfParams kFuzzKdf{4, 1, 1};
    SetVaultTestParameters(&kFuzzKdf);
    FuzzUserInterface ui;
    IUserInterface* previous = SetUserInterface(&ui);
    try {
        CRootNode root;
        com_ptr<IStream> in = CreateMemoryStream(std::vector<std::uint8_t>(data, data + size));
        LoadInventory(root, in.get());
        com_ptr<IStream> out = CreateMemoryStream();
        SaveInventory(root, out.get());
    } catch (const PromptRefused&) {
    }
    SetUserInterface(previous);
    SetVaultTestParameters(nullptr);
    return 0;
}
