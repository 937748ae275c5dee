// Feeds arbitrary bytes to the inventory loader as a version 2 stream (the
// vault's header, check record and sealed host records), with cheap key
// derivation so that seeds written under the password "fuzz" open. Nothing
// may read out of bounds; what loads must save and load again alike.
#include <cstdint>
#include <cstdlib>

#include "inventory/group_node.h"
#include "inventory/host_node.h"
#include "inventory/module_state.h"
#include "inventory/persistence.h"
#include "inventory/root_node.h"
#include "inventory/vault.h"
#include "platform/ui.h"

namespace {

constexpr SVaultKdfParams kFuzzKdf{4, 1, 1};

// Answers the main-password prompt with "fuzz" once; a second prompt (a
// wrong password) is cancelled.
class FuzzUserInterface final : public IUserInterface {
public:
    int DoModal(HWND, DialogState& dialog) override
    {
        if (m_nPrompts++ > 0) return IDCANCEL;
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

std::u16string Describe(CRootNode& root)
{
    std::u16string text;
    for (auto& group : root.GetChildren()) {
        text += group->Name();
        text += u'\n';
        for (auto& child : group->GetChildren()) {
            const auto& host = static_cast<CHostNode&>(*child);
            text += host.m_bstrHost + u'|' + host.m_bstrLogin + u'|' + host.m_bstrPassword + u'\n';
        }
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    SetVaultTestParameters(&kFuzzKdf);
    FuzzUserInterface ui;
    IUserInterface* previous = SetUserInterface(&ui);
    {
        CRootNode root;
        com_ptr<IStream> in = CreateMemoryStream(std::vector<std::uint8_t>(data, data + size));
        const HRESULT loaded = LoadInventory(root, in.get());
        if (loaded == S_OK && root.m_bSavePasswords) {
            com_ptr<IStream> out = CreateMemoryStream();
            if (SaveInventory(root, out.get()) != S_OK) std::abort();
            const std::u16string before = Describe(root);
            CRootNode back;
            g_bstrMainPassword = u"fuzz";
            com_ptr<IStream> again = CreateMemoryStream(MemoryStreamBytes(out.get()));
            if (LoadInventory(back, again.get()) != S_OK || Describe(back) != before) std::abort();
        }
    }
    SetUserInterface(previous);
    SetVaultTestParameters(nullptr);
    return 0;
}
