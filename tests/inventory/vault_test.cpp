// The vault of encrypted console files, attacked as someone holding a copy
// of the file would: known host names, flipped and moved bytes, weakened
// headers; and version 1 files read and written back in the new form.
#include <gtest/gtest.h>

#include <cstring>

#include "inventory/credential_crypt.h"
#include "inventory/group_node.h"
#include "inventory/host_node.h"
#include "inventory/module_state.h"
#include "inventory/persistence.h"
#include "inventory/root_node.h"
#include "inventory/vault.h"
#include "platform/process_guard.h"
#include "platform/text.h"
#include "res/resource_ids.h"
#include "tests/inventory/inventory_bytes.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr SVaultKdfParams kCheapKdf{10, 8, 1};
const std::u16string kWrongPassword = u"The main password is wrong.";
// The known 100-character host name of the attacks.
const std::u16string kKnownHost = u"srv-database-01.example.com." + std::u16string(72, u'x');

std::uint32_t U32At(const Bytes& bytes, std::size_t at)
{
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, 4);
    return value;
}

// Where things are in a version 2 stream: the header's cost fields and each
// host's sealed record (offset of its bytes and their count).
struct VaultLayout {
    std::size_t log2N = 0;
    std::size_t digest = 0;
    std::size_t checkRecord = 0;
    std::vector<std::pair<std::size_t, std::size_t>> hosts;
};

VaultLayout Layout(const Bytes& bytes)
{
    VaultLayout layout;
    std::size_t at = 8;             // marker
    at += 4 + U32At(bytes, at);     // KDF name
    layout.log2N = at;
    at += 12;                       // N, r, p
    at += 4 + U32At(bytes, at);     // salt
    at += 4 + U32At(bytes, at);     // cipher name
    layout.digest = at;
    at += kVaultHeaderDigestBytes;  // the header's digest
    layout.checkRecord = at + 4;
    at += 4 + U32At(bytes, at);     // check record
    const std::uint32_t groups = U32At(bytes, at);
    at += 4;
    for (std::uint32_t g = 0; g < groups; ++g) {
        at += 4 + 2 * U32At(bytes, at);  // name
        const std::uint32_t hosts = U32At(bytes, at);
        at += 4;
        for (std::uint32_t h = 0; h < hosts; ++h) {
            EXPECT_EQ(U32At(bytes, at), 2u);  // the sealed form
            const std::uint32_t length = U32At(bytes, at + 4);
            layout.hosts.emplace_back(at + 8, length);
            at += 8 + length;
            at += 4 + U32At(bytes, at);  // the sealed XML
        }
    }
    EXPECT_EQ(at, bytes.size());
    return layout;
}

// A record's plain bytes as the vault seals them.
std::string HostPlain(std::string_view host, std::string_view port, std::string_view login, std::string_view password)
{
    std::string plain;
    for (std::string_view field : {host, port, login, password}) AppendText(plain, field);
    return plain;
}

// The attack that works on version 1: the bytes of a known plain text
// XORed with its cipher text give the keystream, which XORed with another
// field's cipher text gives that field.
std::string XorRecover(std::string_view knownPlain, std::string_view knownCipher, std::string_view otherCipher)
{
    std::string out;
    for (std::size_t i = 0; i < knownPlain.size() && i < knownCipher.size() && i < otherCipher.size(); ++i)
        out.push_back(static_cast<char>(knownPlain[i] ^ knownCipher[i] ^ otherCipher[i]));
    return out;
}

class VaultTest : public InventoryFileTest {
protected:
    // Two hosts with one password, the first with a known long name.
    Bytes TwoHostVault()
    {
        CRootNode root;
        root.m_bSavePasswords = true;
        g_bstrMainPassword = u"main password";
        CGroupNode& lab = AddGroup(root, u"Lab");
        AddHost(lab, kKnownHost, 22, u"dbadmin", u"Tr0ub4dor&3-xyz");
        AddHost(lab, u"db", 22, u"backup", u"Tr0ub4dor&3-xyz");
        return Save(root);
    }

    // Loads `bytes` with the right main password: refused as damage that
    // says `told`, never as a wrong password. Returns what was kept.
    std::unique_ptr<CRootNode> ExpectDamage(const Bytes& bytes, const std::u16string& password,
                                            std::u16string_view told, const std::string& what)
    {
        ui.Clear();
        auto back = std::make_unique<CRootNode>();  // a new root forgets the main password
        g_bstrMainPassword = password;
        EXPECT_EQ(Load(*back, bytes), HRESULT_INVALID_DATA) << what;
        EXPECT_EQ(Told(kWrongPassword), 0) << what;
        EXPECT_EQ(Told(told), 1) << what;
        return back;
    }
};

const std::u16string kDamaged = u"The encrypted inventory in the console file is damaged";

TEST_F(VaultTest, VersionOneGivesUpPasswordsToAKnownHostNameAndVersionTwoDoesNot)
{
    // Version 1 (the file of the tests' data): host 1's name is known, so
    // host 2's password is read without the main password.
    const std::string legacy = ReadWholeFile(SourceDir() + "/tests/data/crypt/version1_encrypted.stream");
    ASSERT_FALSE(legacy.empty());
    const std::string knownName = "srv-database-01.example.com";
    const std::size_t host1 = 28 + 12;  // marker, group "Lab", form and check: then the host's length and bytes
    const std::string host1Cipher = legacy.substr(host1 + 4, knownName.size());
    std::size_t at = host1 + 4 + knownName.size();
    at += 4 + 2 + 4 + 7;  // port "22", login "dbadmin"
    const std::string password1Cipher = legacy.substr(at + 4, U32At(Bytes(legacy.begin(), legacy.end()), at));
    EXPECT_EQ(XorRecover(knownName, host1Cipher, password1Cipher), "Tr0ub4dor&3-xyz");

    // Version 2: the same attack over a known name of 100 characters, which
    // covers all of the other record, recovers none of it.
    const Bytes vault = TwoHostVault();
    const VaultLayout layout = Layout(vault);
    ASSERT_EQ(layout.hosts.size(), 2u);
    auto cipher = [&](std::size_t host) {
        const auto [offset, length] = layout.hosts[host];
        return std::string(vault.begin() + static_cast<long>(offset + kVaultNonceBytes),
                           vault.begin() + static_cast<long>(offset + length - kVaultTagBytes));
    };
    const std::string known = HostPlain(WideToAnsi(kKnownHost), "22", "dbadmin", "Tr0ub4dor&3-xyz");
    const std::string target = HostPlain("db", "22", "backup", "Tr0ub4dor&3-xyz");
    const std::string recovered = XorRecover(known, cipher(0), cipher(1));
    ASSERT_EQ(recovered.size(), target.size());
    EXPECT_NE(recovered, target);
    EXPECT_EQ(recovered.find("Tr0ub"), std::string::npos);
    EXPECT_EQ(recovered.find("backup"), std::string::npos);
    // The two sealed records differ wherever they could: nonces and the
    // bytes of the one password.
    EXPECT_NE(cipher(0).substr(target.size() - 15), cipher(1).substr(target.size() - 15));
    const std::string text(vault.begin(), vault.end());
    EXPECT_EQ(text.find("Tr0ub4dor"), std::string::npos);
    EXPECT_EQ(text.find("srv-database"), std::string::npos);
}

TEST_F(VaultTest, SamePlainRecordsSealToDifferentBytes)
{
    // Two identical hosts (one group, names differ only by their place).
    CRootNode root;
    root.m_bSavePasswords = true;
    g_bstrMainPassword = u"m";
    CGroupNode& group = AddGroup(root, u"G");
    AddHost(group, u"h", 22, u"root", u"same");
    AddHost(group, u"h", 22, u"root", u"same");
    const Bytes first = Save(root);
    const Bytes second = Save(root);
    const VaultLayout a = Layout(first);
    const VaultLayout b = Layout(second);
    auto record = [](const Bytes& bytes, const std::pair<std::size_t, std::size_t>& where) {
        return Bytes(bytes.begin() + static_cast<long>(where.first),
                     bytes.begin() + static_cast<long>(where.first + where.second));
    };
    EXPECT_NE(record(first, a.hosts[0]), record(first, a.hosts[1]));
    EXPECT_NE(record(first, a.hosts[0]), record(second, b.hosts[0]));  // a new salt and nonce per save
    EXPECT_NE(Bytes(first.begin() + 34, first.begin() + 50), Bytes(second.begin() + 34, second.begin() + 50));  // salts
}

TEST_F(VaultTest, AWrongPasswordADamagedRecordAndAnOlderFormInsideAreToldApart)
{
    const Bytes vault = TwoHostVault();
    const VaultLayout layout = Layout(vault);

    // A wrong password: told as such, asked again, never called damage.
    WipeString(g_bstrMainPassword);
    ui.AnswerDialog({IDOK, {{IDC_MAIN_PASSWORD, u"main passwore"}}, {}});
    ui.AnswerDialog({IDOK, {{IDC_MAIN_PASSWORD, u"main password"}}, {}});
    CRootNode opened;
    ASSERT_EQ(Load(opened, vault), S_OK);
    EXPECT_EQ(Told(kWrongPassword), 1);
    EXPECT_EQ(HostAt(opened, 0, 1).m_bstrLogin, u"backup");
    EXPECT_EQ(HostAt(opened, 0, 0).m_bstrHost, kKnownHost);

    // Every byte of a sealed host record, flipped: damage, not a wrong password.
    const auto [offset, length] = layout.hosts[1];
    for (std::size_t i = 0; i < length; ++i) {
        Bytes damaged = vault;
        damaged[offset + i] ^= 0x01;
        const auto back = ExpectDamage(damaged, u"main password", kDamaged, "byte " + std::to_string(i));
        // What came before the damaged record is kept.
        ASSERT_EQ(back->GetChildren().size(), 1u);
        EXPECT_EQ(back->GetChildren()[0]->GetChildren().size(), 1u);
    }
    // A version 1 record pasted into a vault would skip the seal.
    for (std::uint32_t form : {0u, 1u, 3u}) {
        Bytes edited = vault;
        std::memcpy(edited.data() + layout.hosts[0].first - 8, &form, 4);
        CRootNode back;  // a new root forgets the main password
        g_bstrMainPassword = u"main password";
        EXPECT_EQ(Load(back, edited), HRESULT_INVALID_DATA) << form;
        EXPECT_TRUE(back.GetChildren().at(0)->GetChildren().empty());
    }
}

TEST_F(VaultTest, RecordsMovedDroppedOrRenamedAreDamage)
{
    CRootNode root;
    root.m_bSavePasswords = true;
    g_bstrMainPassword = u"m";
    AddHost(AddGroup(root, u"Web"), u"web1", 22, u"www", u"w-pw");
    CGroupNode& db = AddGroup(root, u"Db");
    AddHost(db, u"db1", 22, u"root", u"d1-pw");
    AddHost(db, u"db2", 22, u"root", u"d2-pw");
    const Bytes vault = Save(root);
    const VaultLayout layout = Layout(vault);
    ASSERT_EQ(layout.hosts.size(), 3u);
    auto slice = [&](std::size_t host) {
        return Bytes(vault.begin() + static_cast<long>(layout.hosts[host].first),
                     vault.begin() + static_cast<long>(layout.hosts[host].first + layout.hosts[host].second));
    };
    auto put = [&](Bytes& bytes, std::size_t host, const Bytes& record) {
        std::copy(record.begin(), record.end(), bytes.begin() + static_cast<long>(layout.hosts[host].first));
    };
    auto expectDamage = [&](const Bytes& bytes, const char* what) { ExpectDamage(bytes, u"m", kDamaged, what); };
    ASSERT_EQ(slice(1).size(), slice(2).size());
    // db1's and db2's records swapped: a password pointed at the other host.
    Bytes swapped = vault;
    put(swapped, 1, slice(2));
    put(swapped, 2, slice(1));
    expectDamage(swapped, "swapped in one group");
    // The last record dropped, with the host count to match.
    Bytes dropped(vault.begin(), vault.begin() + static_cast<long>(layout.hosts[2].first - 8));
    dropped[layout.hosts[1].first - 12] = 1;  // Db's host count was 2
    expectDamage(dropped, "dropped");
    // The group renamed in the file ("Db" → "Dc"): its records no longer open.
    Bytes renamed = vault;
    renamed[layout.hosts[1].first - 16] += 1;
    expectDamage(renamed, "renamed");
    // Unchanged, it opens.
    CRootNode back;  // a new root forgets the main password
    g_bstrMainPassword = u"m";
    ASSERT_EQ(Load(back, vault), S_OK);
    EXPECT_EQ(HostAt(back, 1, 1).m_bstrPassword, u"d2-pw");
    EXPECT_EQ(HostAt(back, 1, 1).m_bstrHost, u"db2");
}

TEST_F(VaultTest, HeaderCostsOutsideTheirBoundsAreDamageAndNeverDerived)
{
    const Bytes vault = TwoHostVault();
    const VaultLayout layout = Layout(vault);
    struct Case {
        std::uint32_t log2N, r, p;
    };
    // Below the tests' floor, zero, and above the ceilings of memory, work
    // and each parameter.
    for (const Case c : {Case{9, 8, 1}, Case{10, 4, 1}, Case{0, 8, 1}, Case{10, 0, 1}, Case{10, 8, 0},
                         Case{24, 8, 1}, Case{40, 8, 1}, Case{10, 8, 17}, Case{20, 64, 16}, Case{10, 0xFFFFFFFF, 1}}) {
        Bytes edited = vault;
        std::memcpy(edited.data() + layout.log2N, &c.log2N, 4);
        std::memcpy(edited.data() + layout.log2N + 4, &c.r, 4);
        std::memcpy(edited.data() + layout.log2N + 8, &c.p, 4);
        ui.Clear();
        WipeString(g_bstrMainPassword);
        CRootNode back;
        EXPECT_EQ(Load(back, edited), HRESULT_INVALID_DATA) << c.log2N << "/" << c.r << "/" << c.p;
        EXPECT_TRUE(ui.Dialogs().empty()) << "no password is asked for a header refused";
        EXPECT_TRUE(back.GetChildren().empty());
    }
    // The production floor refuses what the tests' cheap parameters wrote.
    SetVaultTestParameters(nullptr);
    EXPECT_FALSE(VaultParamsAcceptable(kCheapKdf));
    EXPECT_TRUE(VaultParamsAcceptable(kVaultDefaultKdf));
    CRootNode back;
    EXPECT_EQ(Load(back, vault), HRESULT_INVALID_DATA);
    EXPECT_TRUE(ui.Dialogs().empty());
}

TEST_F(VaultTest, EmptyMainPasswordIsRefused)
{
    CRootNode root;
    root.m_bSavePasswords = true;
    AddHost(AddGroup(root, u"G"), u"h", 22, u"", u"pw");
    com_ptr<IStream> stream = CreateMemoryStream();
    EXPECT_EQ(SaveInventory(root, stream.get()), E_MAIN_PASSWORD_EMPTY);
    EXPECT_TRUE(MemoryStreamBytes(stream.get()).empty());
    EXPECT_TRUE(g_bDirty);
    EXPECT_EQ(Told(u"An empty main password is not allowed"), 1);

    // Setting one: an empty answer and a mismatch are asked again, the
    // second question is marked as the confirmation.
    CRootNode fresh;
    ui.Clear();
    ui.AnswerDialog({IDOK, {{IDC_MAIN_PASSWORD, u""}}, {}});
    ui.AnswerDialog({IDOK, {{IDC_MAIN_PASSWORD, u"first"}}, {}});
    ui.AnswerDialog({IDOK, {{IDC_MAIN_PASSWORD, u"frist"}}, {}});
    ui.AnswerDialog({IDOK, {{IDC_MAIN_PASSWORD, u"second"}}, {}});
    ui.AnswerDialog({IDOK, {{IDC_MAIN_PASSWORD, u"second"}}, {}});
    fresh.ToggleSavePasswords();
    EXPECT_TRUE(fresh.m_bSavePasswords);
    EXPECT_EQ(g_bstrMainPassword, u"second");
    ASSERT_EQ(ui.Dialogs().size(), 5u);
    EXPECT_EQ(ui.Dialogs()[1].texts.at(IDC_PASSWORD_CONFIRM), u"");
    EXPECT_EQ(ui.Dialogs()[2].texts.at(IDC_PASSWORD_CONFIRM), u"1");
    EXPECT_EQ(Told(u"An empty main password is not allowed"), 1);
    EXPECT_EQ(Told(u"The two passwords do not match"), 1);
    // Cancel at the confirmation leaves the option off.
    CRootNode cancelled;
    ui.AnswerDialog({IDOK, {{IDC_MAIN_PASSWORD, u"third"}}, {}});
    ui.AnswerDialog(IDCANCEL);
    cancelled.ToggleSavePasswords();
    EXPECT_FALSE(cancelled.m_bSavePasswords);
}

TEST_F(VaultTest, VersionOneFileOpensAndIsWrittenBackAsAVaultOnce)
{
    const std::string legacy = ReadWholeFile(SourceDir() + "/tests/data/crypt/version1_encrypted.stream");
    ui.AnswerDialog({IDOK, {{IDC_MAIN_PASSWORD, u"wrong"}}, {}});
    ui.AnswerDialog({IDOK, {{IDC_MAIN_PASSWORD, u"fixture-main"}}, {}});
    CRootNode root;
    ASSERT_EQ(Load(root, Bytes(legacy.begin(), legacy.end())), S_OK);
    EXPECT_EQ(Told(kWrongPassword), 1);
    EXPECT_TRUE(SecretsHeldInProcess());
    EXPECT_TRUE(root.m_bSavePasswords);
    EXPECT_EQ(HostAt(root, 0, 1).m_bstrHost, u"srv-backup-02.example.com");
    EXPECT_EQ(HostAt(root, 0, 1).m_nPort, 2222);
    EXPECT_EQ(HostAt(root, 0, 1).m_bstrLogin, u"backup");
    EXPECT_EQ(HostAt(root, 0, 0).m_bstrPassword, u"Tr0ub4dor&3-xyz");

    const Bytes saved = Save(root);
    EXPECT_EQ(Bytes(saved.begin(), saved.begin() + 8), (Bytes{4, 0, 0, 0, 0x36, 0, 0, 0}));
    EXPECT_EQ(Told(u"The logins and passwords of this console file were re-encrypted"), 1);
    Save(root);
    EXPECT_EQ(Told(u"The logins and passwords of this console file were re-encrypted"), 1) << "said once";

    CRootNode back;
    g_bstrMainPassword = u"fixture-main";  // a new root forgets it
    ASSERT_EQ(Load(back, saved), S_OK);
    EXPECT_FALSE(back.m_bReencrypt);
    EXPECT_EQ(HostAt(back, 0, 1).m_bstrPassword, u"Tr0ub4dor&3-xyz");
    EXPECT_EQ(HostAt(back, 0, 1).m_nPort, 2222);
    EXPECT_EQ(HostAt(back, 0, 0).m_bstrLogin, u"dbadmin");
}

TEST_F(VaultTest, AStreamWrittenByAnotherImplementationOfTheLayoutOpens)
{
    // Written from the documented layout with Python's scrypt and AES-GCM.
    constexpr SVaultKdfParams kSeedKdf{4, 1, 1};
    SetVaultTestParameters(&kSeedKdf);
    const std::string seed = ReadWholeFile(SourceDir() + "/fuzz/corpus/vault/two_groups");
    CRootNode root;
    g_bstrMainPassword = u"fuzz";
    ASSERT_EQ(Load(root, Bytes(seed.begin(), seed.end())), S_OK);
    ASSERT_EQ(root.GetChildren().size(), 2u);
    EXPECT_EQ(HostAt(root, 0, 0).m_bstrHost, u"srv-database-01.example.com");
    EXPECT_EQ(HostAt(root, 0, 0).m_bstrLogin, u"root");
    EXPECT_EQ(HostAt(root, 0, 1).m_nPort, 2222);
    EXPECT_EQ(HostAt(root, 0, 1).m_bstrPassword, u"pw2");
    EXPECT_TRUE(root.GetChildren()[1]->GetChildren().empty());

    // Today's version, its header bound into every record, written the same way.
    const std::string bound = ReadWholeFile(SourceDir() + "/fuzz/corpus/vault/bound_header");
    CRootNode today;
    g_bstrMainPassword = u"fuzz";
    ASSERT_EQ(Load(today, Bytes(bound.begin(), bound.end())), S_OK);
    EXPECT_EQ(HostAt(today, 0, 0).m_bstrPassword, u"pw1");
}

TEST(VaultKeyTest, SealAndOpenBindThePlaceAndRefuseWhatIsShortOrLong)
{
    SetVaultTestParameters(&kCheapKdf);
    CVaultKey key;
    EXPECT_EQ(key.Create(""), VAULT_EMPTY_PASSWORD);
    std::string sealed;
    EXPECT_EQ(key.Seal("x", "p", sealed), VAULT_FAILED) << "no key yet";
    ASSERT_EQ(key.Create("pw"), VAULT_OK);
    ASSERT_EQ(key.Seal("secret", "place 1", sealed), VAULT_OK);
    EXPECT_EQ(sealed.size(), kVaultNonceBytes + 6 + kVaultTagBytes);
    std::string plain;
    EXPECT_EQ(key.Open(sealed, "place 2", plain), VAULT_DAMAGED);
    EXPECT_TRUE(plain.empty());
    EXPECT_EQ(key.Open(sealed, "place 1", plain), VAULT_OK);
    EXPECT_EQ(plain, "secret");
    EXPECT_EQ(key.Open(sealed.substr(0, kVaultNonceBytes + kVaultTagBytes - 1), "place 1", plain), VAULT_DAMAGED);
    EXPECT_EQ(key.Seal(std::string(kVaultMaxPlainBytes + 1, 'a'), "p", sealed), VAULT_DAMAGED);

    // The same password and salt give the same key; another salt does not.
    CVaultKey same;
    ASSERT_EQ(same.Derive("pw", key.Params(), key.Salt()), VAULT_OK);
    ASSERT_EQ(key.Seal("secret", "p", sealed), VAULT_OK);
    EXPECT_EQ(same.Open(sealed, "p", plain), VAULT_OK);
    auto salt = key.Salt();
    salt[0] ^= 1;
    ASSERT_EQ(same.Derive("pw", key.Params(), salt), VAULT_OK);
    EXPECT_EQ(same.Open(sealed, "p", plain), VAULT_DAMAGED);

    // The bounded reader of opened records.
    std::string fields;
    AppendText(fields, "abc");
    CPlainReader reader(fields);
    std::string text;
    EXPECT_FALSE(reader.ReadText(2, text));  // over its limit
    EXPECT_TRUE(reader.ReadText(3, text));
    EXPECT_EQ(text, "abc");
    EXPECT_TRUE(reader.AtEnd());
    std::uint32_t value = 0;
    EXPECT_FALSE(reader.ReadU32(value));
    CPlainReader truncated(std::string_view(fields).substr(0, 5));
    EXPECT_FALSE(truncated.ReadText(10, text));
    SetVaultTestParameters(nullptr);
}

}  // namespace

TEST_F(VaultTest, ATamperedHeaderIsDamageNeverAWrongPassword)
{
    const Bytes vault = TwoHostVault();
    const VaultLayout layout = Layout(vault);
    const std::u16string kHeaderRefused = u"The encrypted inventory in the console file is damaged or was tampered with";
    auto expectRefusedHeader = [&](const Bytes& bytes, const std::string& what) {
        const auto back = ExpectDamage(bytes, u"main password", kHeaderRefused, what);
        EXPECT_TRUE(ui.Dialogs().empty()) << what << ": no password is asked again";
        EXPECT_TRUE(back->GetChildren().empty()) << what;
    };

    // Every byte of the header and its digest flipped, with the right password.
    for (std::size_t at = 8; at < layout.checkRecord - 4; ++at) {
        Bytes flipped = vault;
        flipped[at] ^= 0x40;
        expectRefusedHeader(flipped, "byte " + std::to_string(at));
    }

    // The salt zeroed and the digest recomputed, as a forger would: the
    // header's own checks refuse it before any derivation.
    Bytes zeroed = vault;
    const std::size_t salt = layout.log2N + 12 + 4;
    std::fill(zeroed.begin() + static_cast<long>(salt), zeroed.begin() + static_cast<long>(salt + kVaultSaltBytes), 0);
    const std::string header(zeroed.begin() + 8, zeroed.begin() + static_cast<long>(layout.digest));
    const std::string digest = VaultHeaderDigest(6, header);
    std::copy(digest.begin(), digest.end(), zeroed.begin() + static_cast<long>(layout.digest));
    expectRefusedHeader(zeroed, "zero salt");
    EXPECT_EQ(Told(u"The encrypted inventory in the console file is damaged or was tampered with, whatever the main "
                   u"password: its vault header is refused: its salt is all zeros"),
              1);

    // The version marker changed to each older vault version.
    for (const std::uint8_t older : {0x32, 0x33, 0x35}) {
        Bytes relabelled = vault;
        relabelled[4] = older;
        expectRefusedHeader(relabelled, "marker " + std::to_string(older));
    }

    // A file of an older version (no digest) relabelled: its check record
    // opens only under the version it was written as, which tells a changed
    // marker from a wrong password.
    constexpr SVaultKdfParams kSeedKdf{4, 1, 1};
    SetVaultTestParameters(&kSeedKdf);
    const std::string seed = ReadWholeFile(SourceDir() + "/fuzz/corpus/vault/two_groups");
    Bytes relabelled(seed.begin(), seed.end());
    relabelled[4] = 0x35;
    ui.Clear();
    CRootNode back;
    g_bstrMainPassword = u"fuzz";
    EXPECT_EQ(Load(back, relabelled), HRESULT_INVALID_DATA);
    EXPECT_EQ(Told(kWrongPassword), 0);
    EXPECT_EQ(Told(kHeaderRefused + u", whatever the main password: its vault header is refused: its version marker "
                                    u"says 5 but its records were written as version 2"),
              1);
    // With a wrong password nothing opens, and that is all that can be said.
    ui.Clear();
    CRootNode wrong;
    g_bstrMainPassword = u"fuzz?";
    ui.AnswerDialog(IDCANCEL);
    EXPECT_EQ(Load(wrong, relabelled), E_MAIN_PASSWORD_CANCELLED);
    EXPECT_EQ(Told(kWrongPassword), 1);
}

TEST(VaultCostTest, TheWorstAcceptedHeaderStaysWithinAQuarterGibibyte)
{
    SetVaultTestParameters(nullptr);
    // Four times the default's work, 256 MiB: about 1.5 s on the reference machine.
    EXPECT_TRUE(VaultParamsAcceptable({18, 8, 1}));
    EXPECT_TRUE(VaultParamsAcceptable({16, 8, 4}));
    EXPECT_TRUE(VaultParamsAcceptable({15, 64, 1}));
    // What earlier releases accepted and cost up to 30 s and 1 GiB.
    for (const SVaultKdfParams too : {SVaultKdfParams{19, 8, 1}, SVaultKdfParams{18, 8, 2}, SVaultKdfParams{20, 8, 4},
                                      SVaultKdfParams{17, 16, 2}, SVaultKdfParams{16, 8, 8}})
        EXPECT_FALSE(VaultParamsAcceptable(too)) << too.log2N << "/" << too.r << "/" << too.p;
    // What we write is inside the ceiling.
    EXPECT_TRUE(VaultParamsAcceptable(kVaultDefaultKdf));
}
