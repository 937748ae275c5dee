#include <gtest/gtest.h>

#include <cctype>

#include "inventory/group_node.h"
#include "inventory/host_node.h"
#include "inventory/module_state.h"
#include "inventory/persistence.h"
#include "inventory/root_node.h"
#include "inventory/vault.h"
#include "platform/random_id.h"
#include "platform/text.h"
#include "res/resource_ids.h"
#include "tests/support/forwarding_stream.h"
#include "tests/inventory/inventory_bytes.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/temp_dir.h"

namespace {

class PersistenceTest : public ::testing::Test {
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

TEST_F(PersistenceTest, EmptyInventoryIsTwelveBytes)
{
    CRootNode root;
    EXPECT_EQ(Save(root), (Bytes{4, 0, 0, 0, 0x34, 0, 0, 0, 0, 0, 0, 0}));
    CRootNode back;
    EXPECT_EQ(Load(back, Save(root)), S_OK);
    EXPECT_TRUE(back.GetChildren().empty());
    EXPECT_TRUE(back.m_bInsertAll);
    EXPECT_FALSE(back.m_bSavePasswords);
}

TEST_F(PersistenceTest, PlainRecordsAreByteExactAndReload)
{
    CRootNode root;
    CGroupNode& lab = AddGroup(root, u"Lab");
    AddHost(lab, u"srv", 22, u"", u"secret");
    const Bytes expected{4, 0, 0, 0, 0x34, 0, 0, 0, 1, 0, 0, 0,                     // marker, one group
                         4, 0, 0, 0, 0x4C, 0, 0x61, 0, 0x62, 0, 0, 0, 1, 0, 0, 0,   // "Lab", one host
                         0, 0, 0, 0, 3, 0, 0, 0, 0x73, 0, 0x72, 0, 0x76, 0,         // plain, "srv"
                         2, 0, 0, 0, 0x32, 0, 0x32, 0, 0, 0, 0, 0};                 // "22", no XML
    EXPECT_EQ(Save(root), expected);
    EXPECT_FALSE(g_bDirty);

    CRootNode back;
    g_bDirty = true;
    ASSERT_EQ(Load(back, expected), S_OK);
    EXPECT_FALSE(g_bDirty);
    auto& group = static_cast<CGroupNode&>(*back.GetChildren().at(0));
    EXPECT_EQ(group.GetDisplayText(0), u"Lab");
    EXPECT_TRUE(group.m_bInsertAll);
    CHostNode& host = HostAt(back, 0, 0);
    EXPECT_EQ(host.m_bstrHost, u"srv");
    EXPECT_EQ(host.GetDisplayText(0), u"srv");
    EXPECT_EQ(host.m_nPort, 22);
    EXPECT_EQ(host.m_bstrPassword, u"");  // never stored in the plain form
    EXPECT_EQ(host.m_pGroup, &group);
}

TEST_F(PersistenceTest, EncryptedRecordsHideCredentialsAndAskOnceForThePassword)
{
    CRootNode root;
    root.m_bSavePasswords = true;
    g_bstrMainPassword = u"main";
    CGroupNode& lab = AddGroup(root, u"Lab");
    AddHost(lab, u"srv", 2222, u"", u"p\u00e4ss", u"<node/>");
    AddHost(lab, u"", 22, u"admin", u"x");
    const Bytes bytes = Save(root);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.find("admin"), std::string::npos);
    EXPECT_EQ(text.find("srv"), std::string::npos);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 8), (Bytes{4, 0, 0, 0, 0x36, 0, 0, 0}));  // version 6

    // A wrong password is told and asked again; the right one opens every record.
    WipeString(g_bstrMainPassword);
    ui.AnswerDialog({IDOK, {{IDC_MAIN_PASSWORD, u"wrong"}}, {}});
    ui.AnswerDialog({IDOK, {{IDC_MAIN_PASSWORD, u"main"}}, {}});
    CRootNode back;
    ASSERT_EQ(Load(back, bytes), S_OK);
    ASSERT_EQ(ui.Dialogs().size(), 2u);
    EXPECT_EQ(ui.Dialogs()[0].texts.at(IDC_PASSWORD_TEXT), u"Main password");
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].text, u"The main password is wrong.");
    EXPECT_TRUE(back.m_bSavePasswords);
    CHostNode& first = HostAt(back, 0, 0);
    EXPECT_EQ(first.m_bstrHost, u"srv");
    EXPECT_EQ(first.m_nPort, 2222);
    EXPECT_EQ(first.m_bstrLogin, u"");
    EXPECT_EQ(first.m_bstrPassword, u"p\u00e4ss");
    EXPECT_EQ(first.m_picture.Text(), u"<node/>");  // sealed beside the credentials
    CHostNode& second = HostAt(back, 0, 1);
    EXPECT_EQ(second.m_bstrHost, u"");
    EXPECT_EQ(second.m_bstrLogin, u"admin");
}

TEST_F(PersistenceTest, LargeInventoriesRoundTripInBothForms)
{
    for (bool encrypted : {false, true}) {
        CRootNode root;
        root.m_bSavePasswords = encrypted;
        g_bstrMainPassword = u"k";
        const std::u16string xml = u"<node id=\"x\">" + std::u16string(5000, u'y') + u"</node>";
        for (int g = 0; g < 120; ++g) {
            CGroupNode& group = AddGroup(root, u"group " + IntToDecimal(g));
            for (int h = 0; h < g % 7; ++h)
                AddHost(group, u"host-" + IntToDecimal(h), 1000 + h, u"user" + IntToDecimal(h), u"pw" + IntToDecimal(g), xml);
        }
        const Bytes bytes = Save(root);
        CRootNode back;
        g_bstrMainPassword = u"k";  // a new root forgets it
        ASSERT_EQ(Load(back, bytes), S_OK);
        // Sealed records take a fresh nonce at every save: same size, other bytes.
        const Bytes again = Save(back);
        if (encrypted)
            EXPECT_EQ(again.size(), bytes.size());
        else
            EXPECT_EQ(again, bytes);
        ASSERT_EQ(back.GetChildren().size(), 120u);
        CHostNode& host = HostAt(back, 13, 5);
        EXPECT_EQ(host.m_nPort, 1005);
        EXPECT_EQ(host.m_picture.Text(), xml);
        EXPECT_EQ(host.m_bstrPassword, encrypted ? u"pw13" : u"");
        EXPECT_EQ(back.m_bSavePasswords, encrypted);
    }
    EXPECT_EQ(ui.Dialogs().size(), 0u);  // the main password was known
}

// The console host's stream is a memory block, whose long texts the reader
// copies straight out; any other stream is read field by field. Both load
// the same inventory, also when a settings block of odd length leaves the
// next host's texts at odd places.
TEST_F(PersistenceTest, AMemoryBlockAndAnyOtherStreamLoadTheSame)
{
    CRootNode root;
    for (int g = 0; g < 3; ++g) {
        CGroupNode& group = AddGroup(root, u"group " + IntToDecimal(g));
        for (int h = 0; h < 4; ++h) {
            const std::u16string xml = u"<node id=\"" + IntToDecimal(h) + u"\">" +
                                       std::u16string(4000 + 700 * h + g, static_cast<char16_t>(u'a' + h)) + u"</node>";
            CHostNode& host = AddHost(group, u"h" + IntToDecimal(h), 22 + h, u"", u"", xml);
            host.m_bstrLogin = std::u16string(1 + h, u'u');  // a settings block of odd length or even
            host.m_bSudo = true;
        }
    }
    const Bytes bytes = Save(root);
    CRootNode fromBlock;
    ASSERT_EQ(Load(fromBlock, bytes), S_OK);
    com_ptr<IStream> memory = CreateMemoryStream(bytes);
    CForwardingStream forwarding(memory.get());
    CRootNode fromStream;
    ASSERT_EQ(LoadInventory(fromStream, &forwarding), S_OK);
    EXPECT_EQ(Save(fromBlock), bytes);
    EXPECT_EQ(Save(fromStream), bytes);
    for (std::size_t h = 0; h < 4; ++h) {
        EXPECT_EQ(HostAt(fromBlock, 2, h).m_picture.Text(), HostAt(root, 2, h).m_picture.Text()) << h;
        EXPECT_EQ(HostAt(fromStream, 2, h).m_picture.Text(), HostAt(root, 2, h).m_picture.Text()) << h;
        EXPECT_EQ(HostAt(fromBlock, 2, h).m_bstrLogin, HostAt(root, 2, h).m_bstrLogin) << h;
    }
}

TEST_F(PersistenceTest, GroupsWithoutHostsKeepSavePasswordsInAVault)
{
    CRootNode root;
    root.m_bSavePasswords = true;
    g_bstrMainPassword = u"m";
    AddGroup(root, u"empty");
    CRootNode back;
    g_bstrMainPassword = u"m";
    ASSERT_EQ(Load(back, Save(root)), S_OK);
    EXPECT_TRUE(back.m_bSavePasswords);
    // Plain, the option cannot be told from the stream and reloads off.
    back.m_bSavePasswords = false;
    CRootNode plain;
    plain.m_bSavePasswords = true;
    ASSERT_EQ(Load(plain, Save(back)), S_OK);
    EXPECT_FALSE(plain.m_bSavePasswords);
}

TEST_F(PersistenceTest, DamagedStreamsKeepWhatWasCompleteAndReportAnError)
{
    CRootNode root;
    for (int g = 0; g < 3; ++g) {
        CGroupNode& group = AddGroup(root, u"G" + IntToDecimal(g));
        AddHost(group, u"a", 22, u"", u"", u"<node/>");
        AddHost(group, u"b", 23);
    }
    const Bytes whole = Save(root);
    std::size_t previousHosts = 0;
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        CRootNode back;
        EXPECT_EQ(Load(back, Bytes(whole.begin(), whole.begin() + cut)), HRESULT_INVALID_DATA) << cut;
        std::size_t hosts = 0;
        for (auto& group : back.GetChildren()) hosts += group->GetChildren().size();
        EXPECT_GE(hosts, previousHosts) << "a longer prefix never keeps less";
        previousHosts = hosts;
    }
    EXPECT_EQ(previousHosts, 5u);

    // Counts and lengths far beyond the data.
    Bytes huge = whole;
    huge[8] = 0xFF, huge[9] = 0xFF, huge[10] = 0xFF, huge[11] = 0x7F;  // group count
    CRootNode back;
    EXPECT_EQ(Load(back, huge), HRESULT_INVALID_DATA);
    EXPECT_EQ(back.GetChildren().size(), 3u);
    Bytes longName = whole;
    longName[12] = 0x02, longName[13] = 0x01;  // 258 code units
    CRootNode none;
    EXPECT_EQ(Load(none, longName), HRESULT_INVALID_DATA);
    EXPECT_TRUE(none.GetChildren().empty());
}

TEST_F(PersistenceTest, OversizedEncryptedFieldIsRefusedOnLoad)
{
    Bytes bytes{4, 0, 0, 0, 0x31, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0x47, 0, 0, 0, 1, 0, 0, 0,
                1, 0, 0, 0, 0x01, 0x02, 0, 0};  // form 1 with a check of 513 bytes
    bytes.resize(bytes.size() + 600, 0xAB);
    CRootNode back;
    EXPECT_EQ(Load(back, bytes), HRESULT_INVALID_DATA);
    ASSERT_EQ(back.GetChildren().size(), 1u);
    EXPECT_TRUE(back.GetChildren()[0]->GetChildren().empty());
    EXPECT_TRUE(ui.Dialogs().empty());
}

TEST_F(PersistenceTest, FailedWritesAreReportedAndKeepTheInventoryDirty)
{
    CRootNode root;
    AddHost(AddGroup(root, u"Lab"), u"srv", 22, u"", u"", std::u16string(1000, u'x'));
    for (std::size_t limit : {0u, 11u, 30u, 60u}) {
        com_ptr<IStream> stream = CreateLimitedStream(limit);
        g_bDirty = true;
        EXPECT_EQ(SaveInventory(root, stream.get()), STG_E_MEDIUMFULL) << limit;
        EXPECT_TRUE(g_bDirty);
    }
}

TEST_F(PersistenceTest, TooLongCredentialsAreRefusedNotCut)
{
    CRootNode root;
    root.m_bSavePasswords = true;
    g_bstrMainPassword = u"m";
    AddHost(AddGroup(root, u"Lab"), u"srv", 22, u"root", std::u16string(300, u'\u00e9'));  // 600 bytes
    com_ptr<IStream> stream = CreateMemoryStream();
    g_bDirty = true;
    EXPECT_EQ(SaveInventory(root, stream.get()), E_CREDENTIAL_TOO_LONG);
    EXPECT_TRUE(g_bDirty);
    HostAt(root, 0, 0).m_bstrPassword = std::u16string(256, u'\u00e9');  // exactly 512 bytes
    com_ptr<IStream> fits = CreateMemoryStream();
    EXPECT_EQ(SaveInventory(root, fits.get()), S_OK);
}

TEST_F(PersistenceTest, TwoInstancesShareOneMainPassword)
{
    CRootNode first;
    first.m_bSavePasswords = true;
    g_bstrMainPassword = u"one";
    AddHost(AddGroup(first, u"A"), u"a", 22, u"u", u"p");
    const Bytes one = Save(first);
    CRootNode second;  // a new root forgets the main password
    EXPECT_TRUE(g_bstrMainPassword.empty());
    second.m_bSavePasswords = true;
    g_bstrMainPassword = u"two";
    AddHost(AddGroup(second, u"B"), u"b", 22, u"u", u"q");
    const Bytes two = Save(second);

    WipeString(g_bstrMainPassword);
    ui.AnswerDialog({IDOK, {{IDC_MAIN_PASSWORD, u"one"}}, {}});
    CRootNode loadedOne;
    ASSERT_EQ(Load(loadedOne, one), S_OK);
    ui.AnswerDialog({IDOK, {{IDC_MAIN_PASSWORD, u"two"}}, {}});
    CRootNode loadedTwo;  // empties the main password again: the second load asks
    ASSERT_EQ(Load(loadedTwo, two), S_OK);
    EXPECT_EQ(ui.Dialogs().size(), 2u);
    EXPECT_EQ(HostAt(loadedTwo, 0, 0).m_bstrPassword, u"q");
}

TEST_F(PersistenceTest, CancellingThePromptFailsTheLoadInBothVersions)
{
    CRootNode root;
    root.m_bSavePasswords = true;
    g_bstrMainPassword = u"m";
    AddHost(AddGroup(root, u"A"), u"a", 22, u"u", u"p");
    const Bytes vault = Save(root);
    const std::string legacy = ReadWholeFile(SourceDir() + "/tests/data/crypt/version1_encrypted.stream");
    for (const Bytes& bytes : {vault, Bytes(legacy.begin(), legacy.end())}) {
        WipeString(g_bstrMainPassword);
        ui.AnswerDialog(IDCANCEL);
        CRootNode back;
        EXPECT_EQ(Load(back, bytes), E_MAIN_PASSWORD_CANCELLED);
        EXPECT_TRUE(g_bstrMainPassword.empty());
    }
}

}  // namespace

namespace {

// The plain bytes of one group "G" holding one host record.
Bytes PlainFile(const Bytes& record, std::uint8_t version = 0x34)
{
    Bytes bytes{4, 0, 0, 0, version, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0x47, 0, 0, 0, 1, 0, 0, 0};
    bytes.insert(bytes.end(), record.begin(), record.end());
    return bytes;
}

void PutU32(Bytes& bytes, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

// A form 3 record of host "h", port "1", no XML, with `settings` as its block.
Bytes SettingsRecord(const Bytes& settings)
{
    Bytes record{3, 0, 0, 0, 1, 0, 0, 0, 0x68, 0, 1, 0, 0, 0, 0x31, 0, 0, 0, 0, 0};
    PutU32(record, static_cast<std::uint32_t>(settings.size()));
    record.insert(record.end(), settings.begin(), settings.end());
    return record;
}

// A plain file whose one host carries one setting `tag` = `value`, loaded.
HRESULT LoadSetting(std::uint32_t tag, std::string_view value, CRootNode& root)
{
    Bytes settings;
    PutU32(settings, 1);
    PutU32(settings, tag);
    PutU32(settings, static_cast<std::uint32_t>(value.size()));
    settings.insert(settings.end(), value.begin(), value.end());
    return Load(root, PlainFile(SettingsRecord(settings)));
}

}  // namespace

TEST_F(PersistenceTest, TheSudoSettingSurvivesBothFormsAndLeavesOtherRecordsAsBefore)
{
    for (const bool vault : {false, true}) {
        SCOPED_TRACE(vault ? "vault" : "plain");
        CRootNode root;
        root.m_bSavePasswords = vault;
        g_bstrMainPassword = u"main";
        CGroupNode& lab = AddGroup(root, u"Lab");
        AddHost(lab, u"a", 22, u"ops", u"pw", u"<node/>").m_bSudo = true;
        AddHost(lab, u"b", 22, u"ops", u"pw", u"<node/>");
        const Bytes bytes = Save(root);
        if (vault) ui.AnswerDialog({IDOK, {{IDC_MAIN_PASSWORD, u"main"}}, {}});
        CRootNode back;
        ASSERT_EQ(Load(back, bytes), S_OK);
        EXPECT_TRUE(HostAt(back, 0, 0).m_bSudo);
        EXPECT_FALSE(HostAt(back, 0, 1).m_bSudo);
        EXPECT_EQ(HostAt(back, 0, 0).m_bstrHost, u"a");
        if (vault) {
            EXPECT_EQ(HostAt(back, 0, 0).m_bstrPassword, u"pw");
        } else {
            EXPECT_EQ(HostAt(back, 0, 0).m_picture.Text(), u"<node/>");
        }
        // Saved again, the file is the same but for the vault's fresh salt
        // and nonces.
        if (!vault) {
            EXPECT_EQ(Save(back), bytes);
        }
    }
    // A host without the setting keeps the form older releases read.
    CRootNode plain;
    AddHost(AddGroup(plain, u"G"), u"h", 1);
    EXPECT_EQ(Save(plain), PlainFile({0, 0, 0, 0, 1, 0, 0, 0, 0x68, 0, 1, 0, 0, 0, 0x31, 0, 0, 0, 0, 0}));
}

TEST_F(PersistenceTest, SettingsBlocksSkipUnknownTagsAndRefuseDamage)
{
    // An unknown tag before the sudo flag is skipped.
    Bytes settings;
    PutU32(settings, 2);
    PutU32(settings, 99);
    PutU32(settings, 3);
    settings.insert(settings.end(), {'x', 'y', 'z'});
    PutU32(settings, 1);
    PutU32(settings, 1);
    settings.push_back('1');
    CRootNode root;
    ASSERT_EQ(Load(root, PlainFile(SettingsRecord(settings))), S_OK);
    EXPECT_TRUE(HostAt(root, 0, 0).m_bSudo);
    EXPECT_FALSE(root.m_bSavePasswords);

    const auto refused = [&](const Bytes& block) {
        CRootNode damaged;
        return Load(damaged, PlainFile(SettingsRecord(block))) != S_OK;
    };
    Bytes extra = settings;
    extra.push_back(0);
    EXPECT_TRUE(refused(extra)) << "bytes after the last setting";
    EXPECT_TRUE(refused(Bytes(settings.begin(), settings.end() - 1))) << "a value past the block's end";
    Bytes many;
    PutU32(many, 33);
    for (int i = 0; i < 33; ++i) {
        PutU32(many, 99);
        PutU32(many, 0);
    }
    EXPECT_TRUE(refused(many)) << "more settings than allowed";
    Bytes huge;
    PutU32(huge, 1);
    PutU32(huge, 99);
    PutU32(huge, 2000);
    huge.resize(huge.size() + 2000, 'a');
    EXPECT_TRUE(refused(huge)) << "a value longer than allowed";
}

TEST_F(PersistenceTest, TheJumpRouteSurvivesBothFormsBesideTheSudoFlag)
{
    for (const bool vault : {false, true}) {
        SCOPED_TRACE(vault ? "vault" : "plain");
        CRootNode root;
        root.m_bSavePasswords = vault;
        g_bstrMainPassword = u"main";
        CGroupNode& lab = AddGroup(root, u"Lab");
        CHostNode& both = AddHost(lab, u"a", 22, u"ops", u"pw", u"<node/>");
        both.m_bSudo = true;
        both.m_bstrJump = u"me@bastion:2222,[::1]";
        AddHost(lab, u"b", 22, u"ops", u"pw", u"<node/>").m_bstrJump = u"gw";
        AddHost(lab, u"c", 22, u"ops", u"pw", u"<node/>");
        const Bytes bytes = Save(root);
        if (vault) ui.AnswerDialog({IDOK, {{IDC_MAIN_PASSWORD, u"main"}}, {}});
        CRootNode back;
        ASSERT_EQ(Load(back, bytes), S_OK);
        EXPECT_TRUE(HostAt(back, 0, 0).m_bSudo);
        EXPECT_EQ(HostAt(back, 0, 0).m_bstrJump, u"me@bastion:2222,[::1]");
        EXPECT_FALSE(HostAt(back, 0, 1).m_bSudo);
        EXPECT_EQ(HostAt(back, 0, 1).m_bstrJump, u"gw");
        EXPECT_EQ(HostAt(back, 0, 2).m_bstrJump, u"");
        if (!vault) {
            EXPECT_EQ(Save(back), bytes);
        }
    }
}

TEST_F(PersistenceTest, AJumpRouteThatDoesNotReadIsDamage)
{
    const auto load = [](std::string_view value, CRootNode& root) { return LoadSetting(8, value, root); };
    CRootNode good;
    ASSERT_EQ(load(" ops@gw:2200 , 10.0.0.1:22 ", good), S_OK);
    // Kept in its written form.
    EXPECT_EQ(HostAt(good, 0, 0).m_bstrJump, u"ops@gw:2200,10.0.0.1");
    for (const std::string_view bad : {"a,b,c", "gw:0", "gw:99999", "a b", "x@y@z", "gw\n", ",", "[::1", "-oProxy"}) {
        CRootNode damaged;
        EXPECT_NE(load(bad, damaged), S_OK) << bad;
    }
}

TEST_F(PersistenceTest, HostNamesSurviveBothFormsAndBadOnesAreDamage)
{
    for (const bool vault : {false, true}) {
        SCOPED_TRACE(vault ? "vault" : "plain");
        CRootNode root;
        root.m_bSavePasswords = vault;
        g_bstrMainPassword = u"main";
        CGroupNode& lab = AddGroup(root, u"Lab");
        AddHost(lab, u"10.0.0.9", 22, u"ops", u"pw", u"<node/>").SetName(u"ops1");
        AddHost(lab, u"10.0.0.9", 22, u"app", u"pw", u"<node/>").SetName(u"legacy-app \u00e9");
        AddHost(lab, u"10.0.0.10", 22, u"ops", u"pw", u"<node/>");
        const Bytes bytes = Save(root);
        if (vault) ui.AnswerDialog({IDOK, {{IDC_MAIN_PASSWORD, u"main"}}, {}});
        CRootNode back;
        ASSERT_EQ(Load(back, bytes), S_OK);
        EXPECT_EQ(HostAt(back, 0, 0).Name(), u"ops1");
        EXPECT_EQ(HostAt(back, 0, 1).Name(), u"legacy-app \u00e9");
        EXPECT_EQ(HostAt(back, 0, 1).m_bstrHost, u"10.0.0.9");
        EXPECT_EQ(HostAt(back, 0, 2).Name(), u"10.0.0.10");
        if (!vault) {
            EXPECT_EQ(Save(back), bytes);
        }
    }
    // A host named by its address is written as older releases wrote it.
    CRootNode plain;
    AddHost(AddGroup(plain, u"Lab"), u"10.0.0.10", 22, u"", u"", u"");
    CRootNode named;
    AddHost(AddGroup(named, u"Lab"), u"10.0.0.10", 22, u"", u"", u"").SetName(u"x");
    EXPECT_LT(Save(plain).size(), Save(named).size());

    const auto load = [](std::string_view value, CRootNode& root) { return LoadSetting(9, value, root); };
    CRootNode good;
    ASSERT_EQ(load("db primary", good), S_OK);
    EXPECT_EQ(HostAt(good, 0, 0).Name(), u"db primary");
    for (const std::string_view bad : {std::string_view(""), std::string_view("a/b"), std::string_view("a\x1b[2J")}) {
        CRootNode damaged;
        EXPECT_NE(load(bad, damaged), S_OK) << bad;
    }
}

// A host's identity survives a save in both forms; a value that is no
// identity is dropped (the host gets a new one at the snap-in's next save).
TEST_F(PersistenceTest, TheHostIdentitySurvivesBothFormsAndAForgedOneIsDropped)
{
    const std::string id = NewRandomId();
    ASSERT_TRUE(IsRandomId(id));
    EXPECT_NE(NewRandomId(), id);
    for (const bool vault : {false, true}) {
        SCOPED_TRACE(vault ? "vault" : "plain");
        CRootNode root;
        if (vault) {
            root.m_bSavePasswords = true;
            g_bstrMainPassword = u"main";
        }
        CGroupNode& group = AddGroup(root, u"G");
        AddHost(group, u"a", 22, u"root", u"pw").m_strId = id;
        AddHost(group, u"b", 22, u"root", u"pw");
        const Bytes bytes = Save(root);
        if (vault) ui.AnswerDialog({IDOK, {{IDC_MAIN_PASSWORD, u"main"}}, {}});
        CRootNode back;
        ASSERT_EQ(Load(back, bytes), S_OK);
        EXPECT_EQ(HostAt(back, 0, 0).m_strId, id);
        EXPECT_EQ(HostAt(back, 0, 1).m_strId, "") << "none is made up by the record itself";
    }
    // An identity in the wrong form (upper case) is left out.
    CRootNode root;
    std::string upper = id;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    AddHost(AddGroup(root, u"G"), u"a").m_strId = upper;
    CRootNode back;
    ASSERT_EQ(Load(back, Save(root)), S_OK);
    EXPECT_EQ(HostAt(back, 0, 0).m_strId, "");
}

// When a host's picture was taken and its last failed refresh survive a save
// in both forms; a long failure is cut on a whole character, and a time that
// does not read is left out without making the file damaged.
TEST_F(PersistenceTest, ScanTimeAndLastFailureSurviveBothForms)
{
    using Clock = CScanStatus::Clock;
    const Clock::time_point scanned{std::chrono::seconds(1796000000)};
    const Clock::time_point failed{std::chrono::seconds(1796003600)};
    const std::u16string longFailure = std::u16string(600, u'\u00e9') + u"tail";
    for (const bool vault : {false, true}) {
        SCOPED_TRACE(vault ? "vault" : "plain");
        CRootNode root;
        root.m_bSavePasswords = vault;
        g_bstrMainPassword = u"main";
        CGroupNode& lab = AddGroup(root, u"Lab");
        CHostNode& both = AddHost(lab, u"a", 22, u"ops", u"pw", u"<node/>");
        both.m_scanStatus.Scanned(scanned);
        both.m_scanStatus.RefreshFailed(failed);
        both.m_bstrLastResult = u"Connection refused";
        CHostNode& never = AddHost(lab, u"b", 22, u"ops", u"pw");
        never.m_scanStatus.RefreshFailed(failed);
        never.m_bstrLastResult = longFailure;
        AddHost(lab, u"c", 22, u"ops", u"pw", u"<node/>");
        const Bytes bytes = Save(root);
        if (vault) ui.AnswerDialog({IDOK, {{IDC_MAIN_PASSWORD, u"main"}}, {}});
        CRootNode back;
        ASSERT_EQ(Load(back, bytes), S_OK);
        const CHostNode& a = HostAt(back, 0, 0);
        EXPECT_EQ(a.m_scanStatus.LastScanAt(), scanned);
        EXPECT_FALSE(a.m_scanStatus.ScannedAt()) << "a stored scan is not one of this session";
        EXPECT_EQ(a.m_scanStatus.RefreshFailedAt(), failed);
        EXPECT_EQ(a.m_bstrLastResult, u"Connection refused");
        const CHostNode& b = HostAt(back, 0, 1);
        EXPECT_FALSE(b.m_scanStatus.LastScanAt());
        EXPECT_EQ(b.m_scanStatus.RefreshFailedAt(), failed);
        EXPECT_GT(b.m_bstrLastResult.size(), 400u);
        EXPECT_EQ(b.m_bstrLastResult, longFailure.substr(0, b.m_bstrLastResult.size())) << "cut on a character";
        EXPECT_FALSE(HostAt(back, 0, 2).m_scanStatus.LastScanAt());
        EXPECT_FALSE(HostAt(back, 0, 2).m_scanStatus.RefreshFailedAt());
    }
    for (const auto& [tag, value] : std::vector<std::pair<std::uint32_t, std::string_view>>{
             {17, ""}, {17, "-5"}, {17, "99999999999999"}, {17, "0"}, {18, "1796003600"}, {18, "x refused"},
             {18, "1796003600 "}}) {
        CRootNode root;
        ASSERT_EQ(LoadSetting(tag, value, root), S_OK) << value;
        EXPECT_FALSE(HostAt(root, 0, 0).m_scanStatus.LastScanAt()) << value;
        EXPECT_FALSE(HostAt(root, 0, 0).m_scanStatus.RefreshFailedAt()) << value;
        EXPECT_EQ(HostAt(root, 0, 0).m_bstrLastResult, u"") << value;
    }
}
