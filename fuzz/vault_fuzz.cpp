// Feeds arbitrary bytes to the inventory loader as a vault stream (the
// vault's header, its digest, check record and sealed host records), with
// cheap key derivation so that seeds written under the password "fuzz"
// open. Nothing may read out of bounds; what loads must save and load again
// alike. The same bytes are read as a bare header too: a header that reads
// must be spelt exactly as it is written again (the bytes bound into every
// record are the bytes on disk), and one that passes its own checks has a
// salt that is not all zeros and a cost inside the accepted set.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "inventory/group_node.h"
#include "inventory/host_node.h"
#include "inventory/module_state.h"
#include "inventory/persistence.h"
#include "inventory/root_node.h"
#include "inventory/stream_io.h"
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
    {
        // The header after the marker.
        const std::size_t start = size >= 8 ? 8 : 0;
        com_ptr<IStream> in = CreateMemoryStream(std::vector<std::uint8_t>(data + start, data + size));
        CStreamReader reader(in.get());
        SVaultHeader header;
        if (ReadVaultHeader(reader, header)) {
            const std::string bytes = VaultHeaderBytes(header);
            if (bytes.size() > size - start ||
                bytes.compare(0, bytes.size(), reinterpret_cast<const char*>(data + start), bytes.size()) != 0)
                std::abort();
            if (VaultHeaderFault(header) == nullptr &&
                (!VaultParamsAcceptable(header.params) ||
                 std::all_of(header.salt.begin(), header.salt.end(), [](unsigned char c) { return c == 0; })))
                std::abort();
        }
    }
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
