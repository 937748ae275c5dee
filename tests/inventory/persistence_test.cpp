// The inventory's stream in the console file: byte-exact plain records,
// sealed ones in the vault, every host setting in both forms, and damage
// refused without losing what came before it.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <string>
#include <vector>

#include "inventory/credential_crypt.h"
#include "inventory/stream_io.h"
#include "platform/random_id.h"
#include "platform/text.h"
#include "res/resource_ids.h"
#include "tests/inventory/inventory_bytes.h"
#include "tests/support/forwarding_stream.h"
#include "tests/support/temp_dir.h"

namespace {

using PersistenceTest = InventoryFileTest;

// Whether the bytes hold the text, in one byte or two a character.
bool Contains(const Bytes& bytes, std::u16string_view text)
{
    std::string wide;
    for (char16_t unit : text) wide += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    const std::string all(bytes.begin(), bytes.end());
    return all.find(WideToAnsi(text)) != std::string::npos || all.find(wide) != std::string::npos;
}

TEST_F(PersistenceTest, PlainRecordsAreByteExactAndReload)
{
    CRootNode empty;
    EXPECT_EQ(Save(empty), (Bytes{4, 0, 0, 0, 0x34, 0, 0, 0, 0, 0, 0, 0}));
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
    EXPECT_FALSE(back.m_bSavePasswords);
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
    // An encrypted field over its bound (form 1, a check of 513 bytes): refused
    // before any password is asked.
    Bytes sealed{4, 0, 0, 0, 0x31, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0x47, 0, 0, 0,
                 1, 0, 0, 0, 1, 0, 0, 0, 0x01, 0x02, 0, 0};
    sealed.resize(sealed.size() + 600, 0xAB);
    CRootNode oversized;
    EXPECT_EQ(Load(oversized, sealed), HRESULT_INVALID_DATA);
    ASSERT_EQ(oversized.GetChildren().size(), 1u);
    EXPECT_TRUE(oversized.GetChildren()[0]->GetChildren().empty());
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

TEST_F(PersistenceTest, TooLongValuesAreRefusedNotCut)
{
    for (const bool vault : {false, true}) {
        SCOPED_TRACE(vault ? "vault" : "plain");
        CRootNode root;
        root.m_bSavePasswords = vault;
        g_bstrMainPassword = u"m";
        CHostNode& host = AddHost(AddGroup(root, u"Lab"), u"srv", 22, u"root", std::u16string(256, u'\u00e9'));
        host.m_bstrKeyFile = u"/" + std::u16string(1024, u'k');  // 1025 bytes
        com_ptr<IStream> stream = CreateMemoryStream();
        g_bDirty = true;
        EXPECT_EQ(SaveInventory(root, stream.get()), E_CREDENTIAL_TOO_LONG);
        EXPECT_TRUE(g_bDirty);
        host.m_bstrKeyFile = std::u16string(1024, u'k');  // the limits themselves fit
        com_ptr<IStream> fits = CreateMemoryStream();
        EXPECT_EQ(SaveInventory(root, fits.get()), S_OK);
        // Secrets are kept only in the vault, which holds them to 512 bytes.
        host.m_bstrPassword += u'x';
        com_ptr<IStream> password = CreateMemoryStream();
        EXPECT_EQ(SaveInventory(root, password.get()), vault ? E_CREDENTIAL_TOO_LONG : S_OK);
        host.m_bstrPassword.pop_back();
        host.m_bstrPassphrase = std::u16string(513, u'p');
        com_ptr<IStream> passphrase = CreateMemoryStream();
        EXPECT_EQ(SaveInventory(root, passphrase.get()), vault ? E_CREDENTIAL_TOO_LONG : S_OK);
    }
}

TEST_F(PersistenceTest, TwoInstancesShareOneMainPasswordAndCancelFailsTheLoad)
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

    // Cancelling the prompt fails the load, of a vault or of a version 1 file.
    const std::string legacy = ReadWholeFile(SourceDir() + "/tests/data/crypt/version1_encrypted.stream");
    for (const Bytes& bytes : {one, Bytes(legacy.begin(), legacy.end())}) {
        WipeString(g_bstrMainPassword);
        ui.AnswerDialog(IDCANCEL);
        CRootNode back;
        EXPECT_EQ(Load(back, bytes), E_MAIN_PASSWORD_CANCELLED);
        EXPECT_TRUE(g_bstrMainPassword.empty());
    }
}

// A host with every setting, one with each login method, and one with
// none: each comes back as it went, secrets only from the vault.
TEST_F(PersistenceTest, EveryHostSettingSurvivesBothForms)
{
    using Clock = CScanStatus::Clock;
    const Clock::time_point scanned{std::chrono::seconds(1796000000)};
    const Clock::time_point failed{std::chrono::seconds(1796003600)};
    // A long failure is cut on a whole character.
    const std::u16string longFailure = std::u16string(600, u'\u00e9') + u"tail";
    const std::string id = NewRandomId();
    ASSERT_TRUE(IsRandomId(id));
    EXPECT_NE(NewRandomId(), id);
    const std::u16string xml = u"<node id=\"machine\"/>";
    for (const bool vault : {false, true}) {
        SCOPED_TRACE(vault ? "vault" : "plain");
        CRootNode root;
        root.m_bSavePasswords = vault;
        g_bstrMainPassword = u"main";
        CGroupNode& lab = AddGroup(root, u"Lab");
        CHostNode& all = AddHost(lab, u"10.0.0.9", 2222, u"ops", u"Pw-Secret-1", xml);
        all.SetName(u"ops1");
        all.m_bSudo = true;
        all.m_bstrJump = u"me@bastion:2222,[::1]";
        all.m_strId = id;
        all.m_scanStatus.Scanned(scanned);
        all.m_scanStatus.RefreshFailed(failed);
        all.m_bstrLastResult = u"Connection refused";
        CHostNode& key = AddHost(lab, u"10.0.0.9", 22, u"deploy", u"", xml);
        key.SetName(u"legacy-app \u00e9");
        key.m_bstrKeyFile = u"/home/ops/.ssh/id_ed25519";
        key.m_bstrPassphrase = u"Pp-Secret-2";
        key.m_bstrJump = u"gw";
        key.m_scanStatus.RefreshFailed(failed);
        key.m_bstrLastResult = longFailure;
        AddHost(lab, u"agent-host", 22, u"root", u"", xml).m_bUseAgent = true;
        CHostNode& both = AddHost(lab, u"both-host", 22, u"admin", u"Pw-Secret-3", xml);
        both.m_bstrKeyFile = u"~/.ssh/id_rsa";
        both.m_bstrPassphrase = u"Pp-Secret-4";
        both.m_bUseAgent = true;
        AddHost(lab, u"10.0.0.10", 22, u"", u"", xml);
        const Bytes bytes = Save(root);
        for (const char16_t* secret : {u"Pw-Secret-1", u"Pp-Secret-2", u"Pw-Secret-3", u"Pp-Secret-4"})
            EXPECT_FALSE(Contains(bytes, secret)) << WideToAnsi(secret);
        // A key path is no secret: the plain form says where the key is; the
        // vault seals the logins too.
        EXPECT_EQ(Contains(bytes, u"/home/ops/.ssh/id_ed25519"), !vault);
        EXPECT_EQ(Contains(bytes, u"deploy"), !vault);

        CRootNode back;
        g_bstrMainPassword = u"main";
        ASSERT_EQ(Load(back, bytes), S_OK);
        EXPECT_EQ(back.m_bSavePasswords, vault);
        ASSERT_EQ(back.GetChildren().at(0)->GetChildren().size(), 5u);
        for (std::size_t i = 0; i < 5; ++i) {
            const CHostNode& before = HostAt(root, 0, i);
            const CHostNode& after = HostAt(back, 0, i);
            SCOPED_TRACE(WideToAnsi(before.Name()));
            EXPECT_EQ(after.Name(), before.Name());
            EXPECT_EQ(after.m_bstrHost, before.m_bstrHost);
            EXPECT_EQ(after.m_nPort, before.m_nPort);
            EXPECT_EQ(after.m_bstrLogin, before.m_bstrLogin);
            EXPECT_EQ(after.m_bstrKeyFile, before.m_bstrKeyFile);
            EXPECT_EQ(after.m_bUseAgent, before.m_bUseAgent);
            EXPECT_EQ(after.m_bSudo, before.m_bSudo);
            EXPECT_EQ(after.m_bstrJump, before.m_bstrJump);
            EXPECT_EQ(after.m_strId, before.m_strId) << "none is made up by the record itself";
            EXPECT_EQ(after.m_picture.Text(), xml);
            EXPECT_EQ(after.m_bstrPassword, vault ? before.m_bstrPassword : u"");
            EXPECT_EQ(after.m_bstrPassphrase, vault ? before.m_bstrPassphrase : u"");
            EXPECT_EQ(after.m_scanStatus.LastScanAt(), before.m_scanStatus.LastScanAt());
            EXPECT_FALSE(after.m_scanStatus.ScannedAt()) << "a stored scan is not one of this session";
            EXPECT_EQ(after.m_scanStatus.RefreshFailedAt(), before.m_scanStatus.RefreshFailedAt());
            if (&before != &key) {
                EXPECT_EQ(after.m_bstrLastResult, before.m_bstrLastResult);
            }
        }
        const std::u16string& cut = HostAt(back, 0, 1).m_bstrLastResult;
        EXPECT_GT(cut.size(), 400u);
        EXPECT_EQ(cut, longFailure.substr(0, cut.size())) << "cut on a character";
        // Saved again, the plain form is the same bytes; the vault the same
        // size (fresh salt and nonces).
        if (vault)
            EXPECT_EQ(Save(back).size(), bytes.size());
        else
            EXPECT_EQ(Save(back), bytes);
    }
}

// A host without settings, or named by its address, keeps the record form
// older releases read.
TEST_F(PersistenceTest, HostsWithoutSettingsKeepTheOlderRecordForm)
{
    CRootNode plain;
    AddHost(AddGroup(plain, u"G"), u"h", 1);
    EXPECT_EQ(Save(plain), PlainFile({0, 0, 0, 0, 1, 0, 0, 0, 0x68, 0, 1, 0, 0, 0, 0x31, 0, 0, 0, 0, 0}));
    CRootNode named;
    AddHost(AddGroup(named, u"G"), u"h", 1).SetName(u"x");
    EXPECT_LT(Save(plain).size(), Save(named).size());
}

TEST_F(PersistenceTest, SettingsBlocksSkipUnknownTagsAndRefuseDamage)
{
    // An unknown tag before the sudo flag is skipped.
    CRootNode root;
    ASSERT_EQ(LoadSettings({{99, "xyz"}, {1, "1"}}, root), S_OK);
    EXPECT_TRUE(HostAt(root, 0, 0).m_bSudo);
    EXPECT_FALSE(root.m_bSavePasswords);

    Bytes settings;
    PutU32(settings, 1);
    PutU32(settings, 1);
    PutU32(settings, 1);
    settings.push_back('1');
    const auto refused = [&](const Bytes& block) {
        CRootNode damaged;
        return Load(damaged, PlainFile(SettingsRecord(block))) != S_OK;
    };
    ASSERT_FALSE(refused(settings));
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

// A route or a name that does not read is damage; a time or an identity
// that does not read only informed, and is left out.
TEST_F(PersistenceTest, SettingValuesThatDoNotReadAreDamageOrLeftOut)
{
    CRootNode good;
    ASSERT_EQ(LoadSettings({{8, " ops@gw:2200 , 10.0.0.1:22 "}, {9, "db primary"}}, good), S_OK);
    EXPECT_EQ(HostAt(good, 0, 0).m_bstrJump, u"ops@gw:2200,10.0.0.1") << "kept in its written form";
    EXPECT_EQ(HostAt(good, 0, 0).Name(), u"db primary");
    // The sealed-only passphrase in the plain form: the login is taken, the
    // passphrase is not.
    CRootNode plain;
    ASSERT_EQ(LoadSettings({{5, "secret"}, {2, "ops"}}, plain), S_OK);
    EXPECT_EQ(HostAt(plain, 0, 0).m_bstrLogin, u"ops");
    EXPECT_EQ(HostAt(plain, 0, 0).m_bstrPassphrase, u"");

    for (const auto& [tag, value] : std::vector<std::pair<std::uint32_t, std::string_view>>{
             {8, "a,b,c"}, {8, "gw:0"}, {8, "-oProxy"}, {9, ""}, {9, "a/b"}, {9, "a\x1b[2J"}}) {
        CRootNode damaged;
        EXPECT_NE(LoadSettings({{tag, value}}, damaged), S_OK) << tag << " " << value;
    }
    std::string upper = NewRandomId();
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const auto& [tag, value] : std::vector<std::pair<std::uint32_t, std::string_view>>{
             {16, upper}, {17, ""}, {17, "-5"}, {17, "99999999999999"}, {17, "0"}, {18, "1796003600"},
             {18, "x refused"}, {18, "1796003600 "}}) {
        SCOPED_TRACE(std::to_string(tag) + " " + std::string(value));
        CRootNode root;
        ASSERT_EQ(LoadSettings({{tag, value}}, root), S_OK);
        EXPECT_EQ(HostAt(root, 0, 0).m_strId, "");
        EXPECT_FALSE(HostAt(root, 0, 0).m_scanStatus.LastScanAt());
        EXPECT_FALSE(HostAt(root, 0, 0).m_scanStatus.RefreshFailedAt());
        EXPECT_EQ(HostAt(root, 0, 0).m_bstrLastResult, u"");
    }
}

TEST_F(PersistenceTest, AVaultWithoutXmlStillOpensAndIsWrittenWithIt)
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
    for (const char* field : {"srv", "22", "ops", "pw"}) AppendText(plain, field);
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
    EXPECT_EQ(HostAt(root, 0, 0).m_bstrPassword, u"pw");
    EXPECT_EQ(HostAt(root, 0, 0).m_bstrLogin, u"ops");
    // The same bytes read as versions 3 and 5 want an XML record that is not there.
    Bytes relabelled = version2;
    for (const std::uint8_t version : {0x33, 0x35}) {
        relabelled[4] = version;
        CRootNode damaged;
        g_bstrMainPassword = u"main";
        ui.AnswerDialog(IDCANCEL);
        EXPECT_NE(Load(damaged, relabelled), S_OK);
    }

    HostAt(root, 0, 0).m_picture.SetText(u"<node/>");
    g_bstrMainPassword = u"main";
    const Bytes saved = Save(root);
    EXPECT_EQ(saved[4], 0x36);
    CRootNode back;
    g_bstrMainPassword = u"main";
    ASSERT_EQ(Load(back, saved), S_OK);
    EXPECT_EQ(HostAt(back, 0, 0).m_picture.Text(), u"<node/>");
}

TEST_F(PersistenceTest, ADamagedXmlRecordIsRefused)
{
    CRootNode root;
    root.m_bSavePasswords = true;
    g_bstrMainPassword = u"main";
    CGroupNode& lab = AddGroup(root, u"Lab");
    for (const char16_t* name : {u"a", u"b", u"c"}) AddHost(lab, name, 22, u"ops", u"pw", u"<node id=\"x\"/>");
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
    EXPECT_EQ(back.GetChildren().at(0)->GetChildren().size(), 2u);
}

}  // namespace
