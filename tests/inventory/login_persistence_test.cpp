// The hosts' login settings in the console file: what each form keeps, what
// it never holds in clear, and files of earlier releases.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "inventory/credential_crypt.h"
#include "inventory/group_node.h"
#include "inventory/host_node.h"
#include "inventory/module_state.h"
#include "inventory/persistence.h"
#include "inventory/root_node.h"
#include "inventory/vault.h"
#include "platform/text.h"
#include "tests/inventory/inventory_bytes.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/temp_dir.h"

namespace {

// One host of each login method, each with a secret of its own.
struct SSampleHost {
    std::u16string host, login, password, keyFile, passphrase;
    bool agent = false;
};
const SSampleHost kHosts[] = {
    {u"pw-host", u"ops", u"Pw-Secret-1", u"", u"", false},
    {u"key-host", u"deploy", u"", u"/home/ops/.ssh/id_ed25519", u"Pp-Secret-2", false},
    {u"agent-host", u"root", u"", u"", u"", true},
    {u"both-host", u"admin", u"Pw-Secret-3", u"~/.ssh/id_rsa", u"Pp-Secret-4", true},
};
constexpr std::u16string_view kXml = u"<node id=\"machine\" class=\"system\"><product>Box</product></node>";

void FillInventory(CRootNode& root)
{
    CGroupNode& lab = AddGroup(root, u"Lab");
    for (const SSampleHost& sample : kHosts) {
        auto& node = static_cast<CHostNode&>(lab.AppendChild(std::make_unique<CHostNode>(&lab)));
        node.SetName(sample.host);
        node.m_bstrHost = sample.host;
        node.m_nPort = 22;
        node.m_bstrLogin = sample.login;
        node.m_bstrPassword = sample.password;
        node.m_bstrKeyFile = sample.keyFile;
        node.m_bstrPassphrase = sample.passphrase;
        node.m_bUseAgent = sample.agent;
        node.m_picture.SetText(kXml);
    }
}

CHostNode& HostAt(CRootNode& root, std::size_t host)
{
    return static_cast<CHostNode&>(*root.GetChildren().at(0)->GetChildren().at(host));
}

bool Contains(const std::string& haystack, std::u16string_view secret)
{
    const std::string narrow = WideToAnsi(secret);
    std::string wide;
    for (char16_t unit : secret) {
        wide.push_back(static_cast<char>(unit & 0xFF));
        wide.push_back(static_cast<char>(unit >> 8));
    }
    return haystack.find(narrow) != std::string::npos || haystack.find(wide) != std::string::npos;
}

void PutU32(Bytes& bytes, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

class LoginPersistenceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_bDirty = false;
        WipeString(g_bstrMainPassword);
        SetVaultTestParameters(&kCheapKdf);
    }
    void TearDown() override { SetVaultTestParameters(nullptr); }
    static constexpr SVaultKdfParams kCheapKdf{10, 8, 1};
    CScopedScriptedUi ui;
};

}  // namespace

TEST_F(LoginPersistenceTest, AFileOfEarlierReleasesLoadsAndSavesInTodaysForm)
{
    const std::string file = ReadWholeFile(SourceDir() + "/tests/data/console/version1_plain.stream");
    ASSERT_FALSE(file.empty());
    const Bytes bytes(file.begin(), file.end());
    CRootNode root;
    ASSERT_EQ(Load(root, bytes), S_OK);
    ASSERT_EQ(root.GetChildren().size(), 2u);
    EXPECT_EQ(root.GetChildren()[1]->GetDisplayText(0), u"Empty");
    const CHostNode& srv = HostAt(root, 0);
    EXPECT_EQ(srv.m_bstrHost, u"srv1");
    EXPECT_NE(srv.m_picture.Text().find(u"Rack server"), std::u16string::npos);
    EXPECT_FALSE(srv.m_bSudo);
    const CHostNode& db = HostAt(root, 1);
    EXPECT_EQ(db.m_nPort, 2222);
    EXPECT_TRUE(db.m_bSudo);
    for (const CHostNode* host : {&srv, &db}) {
        EXPECT_TRUE(host->m_bstrLogin.empty());
        EXPECT_TRUE(host->m_bstrKeyFile.empty());
        EXPECT_FALSE(host->m_bUseAgent);
    }
    EXPECT_FALSE(root.m_bSavePasswords);
    // Written in today's form: the same hosts, each XML packed.
    const Bytes saved = Save(root);
    EXPECT_EQ(saved[4], 0x34);
    EXPECT_LT(saved.size(), bytes.size());
    CRootNode back;
    ASSERT_EQ(Load(back, saved), S_OK);
    EXPECT_EQ(HostAt(back, 0).m_picture.Text(), HostAt(root, 0).m_picture.Text());
    EXPECT_EQ(HostAt(back, 1).m_picture.Text(), HostAt(root, 1).m_picture.Text());
    EXPECT_TRUE(HostAt(back, 1).m_bSudo);
    EXPECT_EQ(HostAt(back, 1).m_nPort, 2222);
    EXPECT_EQ(Save(back), saved);
}

TEST_F(LoginPersistenceTest, EveryMethodRoundTripsInBothForms)
{
    for (const bool vault : {false, true}) {
        SCOPED_TRACE(vault ? "vault" : "plain");
        CRootNode root;
        root.m_bSavePasswords = vault;
        g_bstrMainPassword = u"main";
        FillInventory(root);
        const Bytes bytes = Save(root);
        CRootNode back;
        g_bstrMainPassword = u"main";
        ASSERT_EQ(Load(back, bytes), S_OK);
        EXPECT_EQ(back.m_bSavePasswords, vault);
        for (std::size_t i = 0; i < std::size(kHosts); ++i) {
            SCOPED_TRACE(WideToAnsi(kHosts[i].host));
            const CHostNode& host = HostAt(back, i);
            EXPECT_EQ(host.m_bstrLogin, kHosts[i].login);
            EXPECT_EQ(host.m_bstrKeyFile, kHosts[i].keyFile);
            EXPECT_EQ(host.m_bUseAgent, kHosts[i].agent);
            EXPECT_EQ(host.m_picture.Text(), kXml) << "both forms keep the last scan";
            // Secrets only come back from the vault.
            EXPECT_EQ(host.m_bstrPassword, vault ? kHosts[i].password : u"");
            EXPECT_EQ(host.m_bstrPassphrase, vault ? kHosts[i].passphrase : u"");
        }
        // Saved again, the plain form is the same bytes; the vault the same
        // size (fresh salt and nonces).
        if (vault)
            EXPECT_EQ(Save(back).size(), bytes.size());
        else
            EXPECT_EQ(Save(back), bytes);
    }
}

TEST_F(LoginPersistenceTest, NoPasswordOrPassphraseIsWrittenInClearAnywhere)
{
    TempDir dir;
    for (const bool vault : {false, true}) {
        CRootNode root;
        root.m_bSavePasswords = vault;
        g_bstrMainPassword = u"main";
        FillInventory(root);
        const Bytes bytes = Save(root);
        std::ofstream(dir.file(vault ? "vault.stream" : "plain.stream"), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        // A key path is no secret: the plain form says where the key is.
        const std::string text(bytes.begin(), bytes.end());
        if (vault) {
            EXPECT_FALSE(Contains(text, u"deploy")) << "the vault seals the logins too";
        } else {
            EXPECT_TRUE(Contains(text, u"/home/ops/.ssh/id_ed25519"));
        }
    }
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
        if (!entry.is_regular_file()) continue;
        ++files;
        const std::string text = ReadWholeFile(entry.path().string());
        for (const SSampleHost& sample : kHosts) {
            if (!sample.password.empty()) {
                EXPECT_FALSE(Contains(text, sample.password)) << entry.path();
            }
            if (!sample.passphrase.empty()) {
                EXPECT_FALSE(Contains(text, sample.passphrase)) << entry.path();
            }
        }
    }
    EXPECT_EQ(files, 2u);
}

TEST_F(LoginPersistenceTest, APassphraseInThePlainFormIsNeverTaken)
{
    // A plain record (form 3) whose block carries the sealed-only tag 5 and
    // a login: the login is taken, the passphrase is not.
    Bytes block;
    PutU32(block, 2);
    PutU32(block, 5);
    PutU32(block, 6);
    block.insert(block.end(), {'s', 'e', 'c', 'r', 'e', 't'});
    PutU32(block, 2);
    PutU32(block, 3);
    block.insert(block.end(), {'o', 'p', 's'});
    Bytes bytes{4, 0, 0, 0, 0x31, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0x47, 0, 0, 0, 1, 0, 0, 0,
                3, 0, 0, 0, 1, 0, 0, 0, 0x68, 0, 1, 0, 0, 0, 0x31, 0, 0, 0, 0, 0};
    PutU32(bytes, static_cast<std::uint32_t>(block.size()));
    bytes.insert(bytes.end(), block.begin(), block.end());
    CRootNode root;
    ASSERT_EQ(Load(root, bytes), S_OK);
    EXPECT_EQ(HostAt(root, 0).m_bstrLogin, u"ops");
    EXPECT_EQ(HostAt(root, 0).m_bstrPassphrase, u"");
}

TEST_F(LoginPersistenceTest, TooLongSettingsAreRefusedNotCut)
{
    for (const bool vault : {false, true}) {
        CRootNode root;
        root.m_bSavePasswords = vault;
        g_bstrMainPassword = u"main";
        FillInventory(root);
        HostAt(root, 1).m_bstrKeyFile = u"/" + std::u16string(1024, u'k');  // 1025 bytes
        com_ptr<IStream> stream = CreateMemoryStream();
        EXPECT_EQ(SaveInventory(root, stream.get()), E_CREDENTIAL_TOO_LONG);
        EXPECT_TRUE(g_bDirty);
        HostAt(root, 1).m_bstrKeyFile = std::u16string(1024, u'k');
        HostAt(root, 1).m_bstrPassphrase = std::u16string(513, u'p');
        com_ptr<IStream> again = CreateMemoryStream();
        EXPECT_EQ(SaveInventory(root, again.get()), vault ? E_CREDENTIAL_TOO_LONG : S_OK);
    }
}

TEST_F(LoginPersistenceTest, AVaultWithoutXmlStillOpensAndIsWrittenWithIt)
{
    // A vault as the previous release wrote it: version 2, a host record
    // sealed under version 2's associated data, and no XML.
    constexpr std::string_view kCheck = "ferrodex vault check";
    constexpr std::string_view kHost = "ferrodex vault host";
    CVaultKey key;
    ASSERT_EQ(key.Create("main"), VAULT_OK);
    com_ptr<IStream> stream = CreateMemoryStream();
    CStreamWriter writer(stream.get());
    writer.WriteU32(4);
    writer.WriteWide(std::u16string_view(u"2\0", 2));
    WriteVaultHeader(writer, key);
    std::string check("wvej", 4), place(kCheck), sealed;
    check.insert(0, std::string("\x04\0\0\0", 4));
    AppendU32(check, 1);
    AppendU32(check, 1);
    AppendU32(place, 2);
    ASSERT_EQ(key.Seal(check, place, sealed), VAULT_OK);
    WriteSealed(writer, sealed);
    writer.WriteU32(1);
    writer.WriteU32(2);
    writer.WriteWide(std::u16string_view(u"G\0", 2));
    writer.WriteU32(1);
    std::string plain;
    AppendText(plain, "srv");
    AppendText(plain, "22");
    AppendText(plain, "ops");
    AppendText(plain, "pw");
    std::string hostPlace(kHost);
    AppendU32(hostPlace, 2);
    AppendU32(hostPlace, 0);
    AppendU32(hostPlace, 0);
    AppendText(hostPlace, "G");
    ASSERT_EQ(key.Seal(plain, hostPlace, sealed), VAULT_OK);
    writer.WriteU32(2);
    WriteSealed(writer, sealed);
    ASSERT_EQ(writer.Result(), S_OK);
    const Bytes version2 = MemoryStreamBytes(stream.get());

    CRootNode root;
    g_bstrMainPassword = u"main";
    ASSERT_EQ(Load(root, version2), S_OK);
    EXPECT_EQ(HostAt(root, 0).m_bstrPassword, u"pw");
    EXPECT_EQ(HostAt(root, 0).m_bstrLogin, u"ops");
    // The same bytes read as versions 3 and 5 want an XML record that is not there.
    Bytes relabelled = version2;
    for (const std::uint8_t version : {0x33, 0x35}) {
        relabelled[4] = version;
        CRootNode damaged;
        g_bstrMainPassword = u"main";
        ui.AnswerDialog(IDCANCEL);
        EXPECT_NE(Load(damaged, relabelled), S_OK);
    }

    HostAt(root, 0).m_picture.SetText(std::u16string(kXml));
    g_bstrMainPassword = u"main";
    const Bytes saved = Save(root);
    EXPECT_EQ(saved[4], 0x36);
    CRootNode back;
    g_bstrMainPassword = u"main";
    ASSERT_EQ(Load(back, saved), S_OK);
    EXPECT_EQ(HostAt(back, 0).m_picture.Text(), kXml);
}

TEST_F(LoginPersistenceTest, ADamagedXmlRecordIsRefused)
{
    CRootNode root;
    root.m_bSavePasswords = true;
    g_bstrMainPassword = u"main";
    FillInventory(root);
    HostAt(root, 0).m_picture.SetText(u"<node id=\"first\"/>");
    const Bytes bytes = Save(root);
    // Every cut of the vault is refused, and never crashes.
    for (std::size_t cut = 8; cut < bytes.size(); cut += 37) {
        CRootNode back;
        g_bstrMainPassword = u"main";
        EXPECT_NE(Load(back, Bytes(bytes.begin(), bytes.begin() + cut)), S_OK) << cut;
    }
    // A flipped byte in the last record (the last host's XML) is damage.
    Bytes flipped = bytes;
    flipped[flipped.size() - 5] ^= 0x01;
    CRootNode back;
    g_bstrMainPassword = u"main";
    EXPECT_EQ(Load(back, flipped), HRESULT_INVALID_DATA);
    EXPECT_EQ(back.GetChildren().at(0)->GetChildren().size(), std::size(kHosts) - 1);
}
