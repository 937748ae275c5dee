// What a stolen encrypted console file costs an attacker, and what the
// vault costs its owner, measured in one run:
//  - guesses per second on one core against version 1 (one MD5 key
//    derivation and a 4-byte check per guess) and against version 2 (one
//    scrypt derivation and an AES-GCM check per guess);
//  - open and save of an encrypted inventory of 1,000 hosts, beside one
//    derivation alone (both should take about one derivation).
// Times are processor time of this one thread, so that other load on the
// machine does not change them.
//   vault_bench [HOSTS]
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "inventory/credential_crypt.h"
#include "inventory/group_node.h"
#include "inventory/host_node.h"
#include "inventory/module_state.h"
#include "inventory/persistence.h"
#include "inventory/root_node.h"
#include "inventory/vault.h"
#include "platform/text.h"
#include "platform/ui.h"

namespace {

// Processor time of this (single-threaded) process: per-core figures that
// other load on the machine does not inflate.
double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// Answers nothing: the main password is always known here.
class CSilentUserInterface final : public IUserInterface {
public:
    int DoModal(HWND, DialogState&) override { return IDCANCEL; }
    int ShowMessage(HWND, std::u16string_view, std::u16string_view, UINT) override { return IDOK; }
    HWND CreateProgress(HWND, const DialogState&) override { return nullptr; }
    void SetProgressText(HWND, int, std::u16string_view) override {}
    void DestroyProgress(HWND) override {}
    HWND ActiveWindow() override { return nullptr; }
};

// Guesses against version 1's check text for about `budget` seconds.
double LegacyGuessRate(double budget)
{
    std::string check;
    CryptCredential("wvej", check, "the right one", 1);
    std::string plain;
    long guesses = 0;
    const double start = CpuSeconds();
    while (CpuSeconds() - start < budget) {
        for (int i = 0; i < 1000; ++i, ++guesses) {
            const std::string guess = "guess-" + std::to_string(guesses);
            if (CryptCredential(check, plain, guess, 0) == kCryptOk && plain == "wvej") std::puts("found");
        }
    }
    return static_cast<double>(guesses) / (CpuSeconds() - start);
}

// Guesses against a version 2 check record with the default parameters.
double VaultGuessRate(int guesses, double& perGuess)
{
    CVaultKey owner;
    if (owner.Create("the right one") != VAULT_OK) return 0;
    std::string check;
    owner.Seal("wvej", "check", check);
    std::string plain;
    const double start = CpuSeconds();
    for (int i = 0; i < guesses; ++i) {
        CVaultKey attempt;
        attempt.Derive("guess-" + std::to_string(i), owner.Params(), owner.Salt());
        if (attempt.Open(check, "check", plain) == VAULT_OK) std::puts("found");
    }
    perGuess = (CpuSeconds() - start) / guesses;
    return 1.0 / perGuess;
}

}  // namespace

int main(int argc, char** argv)
{
    const int hosts = argc > 1 ? std::atoi(argv[1]) : 1000;
    CSilentUserInterface ui;
    SetUserInterface(&ui);

    const double legacy = LegacyGuessRate(1.0);
    double derivation = 0;
    const double vault = VaultGuessRate(5, derivation);
    std::printf("key derivation: scrypt N=2^%u r=%u p=%u, %llu MiB\n", kVaultDefaultKdf.log2N, kVaultDefaultKdf.r,
                kVaultDefaultKdf.p,
                static_cast<unsigned long long>((128ull * kVaultDefaultKdf.r << kVaultDefaultKdf.log2N) >> 20));
    std::printf("guesses per second on one core: version 1 %.0f, version 2 %.2f (%.0f times fewer)\n", legacy, vault,
                legacy / vault);
    std::printf("one derivation: %.3f s of processor time\n", derivation);

    CRootNode root;
    root.m_bSavePasswords = true;
    for (int g = 0; g < hosts / 10; ++g) {
        auto& group = static_cast<CGroupNode&>(root.AppendChild(std::make_unique<CGroupNode>(&root)));
        group.SetName(u"group " + IntToDecimal(g));
        for (int h = 0; h < 10; ++h) {
            auto& host = static_cast<CHostNode&>(group.AppendChild(std::make_unique<CHostNode>(&group)));
            host.m_bstrHost = u"host-" + IntToDecimal(g * 10 + h) + u".example.com";
            host.SetName(host.m_bstrHost);
            host.m_nPort = 22;
            host.m_bstrLogin = u"root";
            host.m_bstrPassword = u"password-" + IntToDecimal(h);
        }
    }
    g_bstrMainPassword = u"the main password";
    double save = 1e30;
    std::vector<std::uint8_t> saved;
    for (int i = 0; i < 3; ++i) {
        com_ptr<IStream> stream = CreateMemoryStream();
        const double start = CpuSeconds();
        if (SaveInventory(root, stream.get()) != S_OK) return 1;
        save = std::min(save, CpuSeconds() - start);
        saved = MemoryStreamBytes(stream.get());
    }
    double open = 1e30;
    for (int i = 0; i < 3; ++i) {
        CRootNode back;
        g_bstrMainPassword = u"the main password";
        com_ptr<IStream> stream = CreateMemoryStream(saved);
        const double start = CpuSeconds();
        if (LoadInventory(back, stream.get()) != S_OK) return 1;
        open = std::min(open, CpuSeconds() - start);
    }
    std::printf("encrypted inventory of %d hosts (%zu bytes): save %.3f s, open %.3f s of processor time (%.2f and %.2f derivations)\n",
                hosts, saved.size(), save, open, save / derivation, open / derivation);
    SetUserInterface(nullptr);
    return 0;
}
