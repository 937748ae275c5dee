#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "inventory/module_state.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "scan/engine_deployment.h"
#include "scan/scan_error.h"
#include "scan/engine_signature.h"
#include "scan/scan_job.h"
#include "ssh2/errors.h"
#include "ssh2/ssh2.h"
#include "tests/scan/scan_fixture.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/temp_dir.h"

namespace {

// The SHA-1 the package signature covers, of a file and of bytes.
TEST(FileDigestHex, LengthsPerAlgorithmAndErrors)
{
    TempDir dir;
    const std::string file = dir.file("data");
    std::ofstream(file) << "abc";
    EXPECT_EQ(FileDigestHex(file, 0), "a9993e364706816aba3e25717850c26c9cd0d89d");
    const std::vector<std::uint8_t> abc{'a', 'b', 'c'};
    EXPECT_EQ(BytesDigestHex(abc), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(BytesDigestHex({}), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(FileDigestHex(file, 1), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(FileDigestHex(file, 2), "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc");
    EXPECT_EQ(FileDigestHex("", 0), "");
    try {
        FileDigestHex(file, 3);
        FAIL() << "an unknown algorithm must raise";
    } catch (const CScanError& error) {
        EXPECT_EQ(error.Source(), SES_ARGUMENT);
    }
    try {
        FileDigestHex(dir.file("missing"), 0);
        FAIL() << "a missing file must raise";
    } catch (const CScanError& error) {
        EXPECT_EQ(error.Source(), SES_FILE);
        EXPECT_EQ(error.Code(), ENOENT);
    }
}

// What the host says `uname -m` is reaches the host's shell again as a
// value and names a folder in the package: only plain names pass.
TEST(EngineArchitecture, TakesOnlyPlainMachineNames)
{
    std::string machine;
    EXPECT_TRUE(ParseMachineName("x86_64\n", machine));
    EXPECT_EQ(machine, "x86_64");
    EXPECT_TRUE(ParseMachineName("Welcome to the host\r\naarch64\r\n", machine));
    EXPECT_EQ(machine, "aarch64");
    for (const char* bad : {"", "\n", "x86 64", "../x86_64", "x86_64/", "$(id)", "a;b", "x86_64\n\x01",
                            "abcdefghijklmnopqrstuvwxyz0123456"}) {
        EXPECT_FALSE(ParseMachineName(bad, machine)) << bad;
        EXPECT_EQ(machine, "");
    }
    EXPECT_TRUE(ParseMachineName("abcdefghijklmnopqrstuvwxyz012345", machine)) << "32 characters";

    EXPECT_EQ(EngineArchitecture("amd64"), "x86_64");
    EXPECT_EQ(EngineArchitecture("arm64"), "aarch64");
    EXPECT_EQ(EngineArchitecture("riscv64"), "riscv64");

    EXPECT_TRUE(IsValidEngineArchitectureList(""));
    EXPECT_TRUE(IsValidEngineArchitectureList("x86_64"));
    EXPECT_TRUE(IsValidEngineArchitectureList("x86_64 aarch64"));
    EXPECT_TRUE(IsValidEngineArchitectureList("a b c d e f g h"));
    for (const char* bad : {" ", "x86_64 ", " x86_64", "x86_64  aarch64", "x86_64\naarch64", "x86_64;id",
                            "../x", "a b c d e f g h i"})
        EXPECT_FALSE(IsValidEngineArchitectureList(bad)) << bad;
}

TEST(EngineSignature, AcceptsOnlyTheBuildKeysSignatureOfTheSameText)
{
    const std::string digest = "915c9b0a477286695def105e1ee0d3880ccfd6de";
    const std::string signature = SignWithBuildKey(digest);
    ASSERT_EQ(signature.size(), 128u);
    EXPECT_TRUE(VerifyEngineSignature(digest, signature));
    EXPECT_FALSE(VerifyEngineSignature("015c9b0a477286695def105e1ee0d3880ccfd6de", signature));
    std::string flipped = signature;
    flipped[5] = flipped[5] == '0' ? '1' : '0';
    EXPECT_FALSE(VerifyEngineSignature(digest, flipped));
    EXPECT_FALSE(VerifyEngineSignature(digest, signature.substr(2)));
    EXPECT_FALSE(VerifyEngineSignature(digest, std::string(128, 'z')));
    // A signature made with another key.
    TempDir dir;
    const std::string otherKey = MakeSigningKey(dir.path());
    EXPECT_FALSE(VerifyEngineSignature(digest, SignWithKeyFile(otherKey, digest)));
}

// What comes before the first tag is dropped; output that is no lshw XML
// is a failure that says what came instead, in plain printable characters.
TEST(CutBeforeXml, DropsWhatComesBeforeTheFirstTagAndNamesOutputThatIsNoHardwareList)
{
    EXPECT_EQ(CutBeforeXml(u"Welcome!\n<?xml?><node/>"), u"<?xml?><node/>");
    EXPECT_EQ(CutBeforeXml(u"<node/>"), u"<node/>");
    EXPECT_EQ(CutBeforeXml(u"no xml here"), u"");
    EXPECT_EQ(CutBeforeXml(u""), u"");
    for (const std::string_view output : {"<?xml version=\"1.0\"?><list/>", "banner\n<!-- lshw --><node/>", "<node/>"})
        EXPECT_EQ(NoHardwareListText(output, CutBeforeXml(std::string(output))), u"") << output;
    EXPECT_EQ(NoHardwareListText("", ""), u"lshw printed no hardware list: 0 bytes of other output (\"\")");
    const std::u16string hostile = NoHardwareListText("usage: lshw <-x>\x1b]0;owned\x07\n", "<-x>\x1b]0;owned\x07\n");
    EXPECT_EQ(hostile, u"lshw printed no hardware list: 27 bytes of other output (\"usage: lshw <-x> ]0;owned\")");
    const std::u16string longer = NoHardwareListText(std::string(100, 'a'), "");
    EXPECT_NE(longer.find(std::u16string(60, u'a') + u"\u2026"), std::u16string::npos);
}

TEST(HostKeyQuestion, AsksOnlyForTheRealCallerWithNoFirstAndTellsFirstContacts)
{
    CScopedScriptedUi ui;
    EXPECT_EQ(HostKeyQuestion(1, "srv", "ssh-rsa 2048 aa:bb", HKE_CHANGED, nullptr), 0);
    EXPECT_TRUE(ui.Messages().empty());
    ui.AnswerMessage(IDYES);
    EXPECT_EQ(HostKeyQuestion(0, "srv", "ssh-rsa 2048 aa:bb SHA256:xyz", HKE_CHANGED, nullptr), 1);
    ASSERT_EQ(ui.Messages().size(), 1u);
    const std::u16string& text = ui.Messages()[0].text;
    EXPECT_TRUE(text.starts_with(u"The server's host key has CHANGED since it was stored.")) << WideToAnsi(text);
    EXPECT_NE(text.find(u"\nHost: srv\nPresented key: ssh-rsa 2048 aa:bb SHA256:xyz\n"), std::u16string::npos);
    EXPECT_TRUE(text.ends_with(u"\nTrust the presented key, store it and log in? No stops before logging in."));
    EXPECT_EQ(ui.Messages()[0].caption, u"Host key warning");
    // No is the button a careless Enter presses.
    EXPECT_EQ(ui.Messages()[0].type, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);

    // The answer decides.
    ui.AnswerMessage(IDNO);
    EXPECT_EQ(HostKeyQuestion(0, "srv", "k", HKE_ABSENT, nullptr), 0);
    // A stored first contact is told on standard error, never asked.
    const std::size_t asked = ui.Messages().size();
    EXPECT_EQ(HostKeyQuestion(0, "srv", "k", HKE_STORED, nullptr), 0);
    EXPECT_EQ(ui.Messages().size(), asked);
}

TEST(ErrorReports, ShowTheirTextsInAnErrorBox)
{
    CScopedScriptedUi ui;
    ReportSshError(7);
    ReportSshError(99);
    ReportScpError(24);
    ASSERT_EQ(ui.Messages().size(), 3u);
    EXPECT_EQ(ui.Messages()[0].text, u"Unable to authenticate");
    EXPECT_EQ(ui.Messages()[0].caption, u"Error");
    EXPECT_EQ(ui.Messages()[0].type, MB_OK | MB_ICONERROR);
    EXPECT_EQ(ui.Messages()[1].text, u"Unknown ssh error");
    EXPECT_EQ(ui.Messages()[2].text, u"Unable to authenticate");
}

class ConfirmTest : public ::testing::Test {
protected:
    void SetUp() override { ResetEnginePackage(); }
    void TearDown() override { ResetEnginePackage(); }

    // A package file described in the registry; by default with a
    // signature that fits no key.
    void DescribePackage(const std::string& folder, const std::u16string& name = u"lshw-1.0.tar.gz",
                         const std::u16string& version = u"1.0", std::string signature = std::string(128, 'a'))
    {
        const std::string file = dir.path() + "/" + WideToAnsi(name);
        std::ofstream(file) << "package bytes";
        if (signature.empty()) signature = SignWithBuildKey(FileDigestHex(file, 0));
        RegWriteString(HKEY_LOCAL_MACHINE, kProductKey, u"LSHWPath", AnsiToWide(folder));
        RegWriteString(HKEY_LOCAL_MACHINE, kProductKey, u"LSHWName", name);
        RegWriteString(HKEY_LOCAL_MACHINE, kProductKey, u"LSHWVersion", version);
        RegWriteString(HKEY_LOCAL_MACHINE, kProductKey, u"LSHWCRC", AnsiToWide(signature));
    }

    TempRegistry registry;
    TempDir dir;
    CScopedScriptedUi ui;
};

TEST_F(ConfirmTest, ARefusalOrAMissingPackageStopsWithoutATrace)
{
    // Declining the first question stops.
    ui.AnswerDialog(IDCANCEL);
    EXPECT_EQ(ConfirmEngineDeployment(), 1);
    ASSERT_EQ(ui.Dialogs().size(), 1u);
    EXPECT_EQ(ui.Dialogs()[0].templateId, 140);
    EXPECT_EQ(ui.Dialogs()[0].checks.at(1205), 0);
    // Accepted, with no package described: stops silently.
    ui.AnswerDialog(IDOK);
    EXPECT_EQ(ConfirmEngineDeployment(), 1);
    EXPECT_TRUE(ui.Messages().empty());
    // A stored refusal stops without a question.
    ui.Clear();
    RegWriteDword(HKEY_CURRENT_USER, kProductKey, u"LSHWAbsentChb", 2);
    EXPECT_EQ(ConfirmEngineDeployment(), 1);
    EXPECT_TRUE(ui.Dialogs().empty());
    EXPECT_TRUE(ui.Messages().empty());
}

TEST_F(ConfirmTest, CorruptedPackageIsReportedAtEveryScan)
{
    DescribePackage(dir.path() + "/");
    RegWriteDword(HKEY_CURRENT_USER, kProductKey, u"LSHWAbsentChb", 1);  // skips the first question
    for (int scan = 0; scan < 2; ++scan) {
        EXPECT_EQ(ConfirmEngineDeployment(), 1);
        ASSERT_EQ(ui.Messages().size(), static_cast<std::size_t>(scan + 1));
        EXPECT_EQ(ui.Messages().back().text, u"Vorbex is corrupted or not found at your workstation.");
    }
    EXPECT_TRUE(ui.Dialogs().empty());
}

TEST_F(ConfirmTest, FolderWithoutSeparatorCannotBeOpened)
{
    DescribePackage(dir.path());  // no trailing "/": the path runs into the name
    RegWriteDword(HKEY_CURRENT_USER, kProductKey, u"LSHWAbsentChb", 1);
    try {
        ConfirmEngineDeployment();
        FAIL() << "a package path that names no file must raise";
    } catch (const CScanError& error) {
        EXPECT_EQ(error.Source(), SES_FILE);
    }
}

TEST_F(ConfirmTest, HostileNamesAndVersionsAreRefusedAsACorruptedPackage)
{
    RegWriteDword(HKEY_CURRENT_USER, kProductKey, u"LSHWAbsentChb", 1);
    struct Case {
        std::u16string name;
        std::u16string version;
    };
    const Case cases[] = {
        {u"lshw-1.0.tar.gz", u"x; touch /tmp/fdx-injected; #"},
        {u"lshw-1.0.tar.gz", u"$(touch /tmp/fdx-injected)"},
        {u"lshw-1.0.tar.gz", u"1.0\ntouch /tmp/fdx-injected"},
        {u"lshw-1.0.tar.gz", u"../../etc"},
        {u"x;touch fdx-injected;#.tar.gz", u"1.0"},
        {u"lshw-`id`.tar.gz", u"1.0"},
        {u"lshw-1.0.tar.gz'", u"1.0"},
    };
    for (const Case& c : cases) {
        ResetEnginePackage();
        ui.Clear();
        // Signed properly: only the values around the file are hostile.
        DescribePackage(dir.path() + "/", c.name, c.version, "");
        EXPECT_EQ(ConfirmEngineDeployment(), 1) << WideToAnsi(c.name) << " " << WideToAnsi(c.version);
        ASSERT_EQ(ui.Messages().size(), 1u);
        EXPECT_EQ(ui.Messages()[0].text, u"Vorbex is corrupted or not found at your workstation.");
        EXPECT_TRUE(g_bstrEngineName.empty());
        EXPECT_THROW(ReadVerifiedEnginePackage(), CScanError) << "a refused record is never read for upload";
    }
}

TEST_F(ConfirmTest, TheUploadReadsThePackageOnceAndRefusesOneSwappedAfterTheFirstCheck)
{
    RegWriteDword(HKEY_CURRENT_USER, kProductKey, u"LSHWAbsentChb", 1);
    RegWriteDword(HKEY_CURRENT_USER, kProductKey, u"InfoOkChb", 1);
    const std::string file = dir.file("lshw-1.0.tar.gz");
    std::ofstream(file) << "the signed package";
    DescribeEnginePackage(file, "1.0");
    ASSERT_EQ(ConfirmEngineDeployment(), 0);
    const std::vector<std::uint8_t> bytes = ReadVerifiedEnginePackage();
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "the signed package");

    std::ofstream(file) << "another package of the same size";
    try {
        ReadVerifiedEnginePackage();
        FAIL() << "a swapped package must be refused";
    } catch (const CScanError& error) {
        EXPECT_EQ(error.Source(), SES_TEXT);
        EXPECT_EQ(error.Message(), u"Vorbex is corrupted or not found at your workstation.");
    }
    EXPECT_TRUE(g_strEngineVersion.empty()) << "the next scan looks for the package again";
}

TEST_F(ConfirmTest, APackageOverTheSizeLimitIsRefused)
{
    const std::string file = dir.file("lshw-1.0.tar.gz");
    std::filesystem::resize_file((std::ofstream(file), file), kMaxEnginePackageBytes + 1);
    g_bstrEnginePath = AnsiToWide(dir.path() + "/");
    g_bstrEngineName = u"lshw-1.0.tar.gz";
    g_strEngineVersion = "1.0";
    g_bstrEngineVersion = u"1.0";
    g_bstrEngineSignature = AnsiToWide(SignWithBuildKey(FileDigestHex(file, 0)));
    EXPECT_THROW(ReadVerifiedEnginePackage(), CScanError);
}

// Records written before the package carried prebuilt binaries have no
// list; a damaged list only costs the prebuilt hint, never the package.
TEST_F(ConfirmTest, TheArchitectureListIsOptionalAndCheckedWhenRead)
{
    const std::string package = dir.file("lshw-1.0.tar.gz");
    std::ofstream(package) << "package bytes";
    struct Case {
        const char* list;
        bool x86;
        bool arm;
    };
    for (const Case& c : {Case{nullptr, false, false}, Case{"x86_64 aarch64", true, true}, Case{"aarch64", false, true},
                          Case{"x86_64;touch /tmp/x", false, false}, Case{"x86_64\naarch64", false, false}}) {
        ResetEnginePackage();
        DescribeEnginePackage(package, "1.0", c.list == nullptr ? "" : c.list);
        if (c.list == nullptr) {
            HKEY raw = nullptr;
            ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kProductKey, KEY_WRITE, &raw), ERROR_SUCCESS);
            RegKeyPtr key(raw);
            ASSERT_EQ(RegDeleteValue(key.get(), u"LSHWArch"), ERROR_SUCCESS);
        }
        std::string version;
        EXPECT_FALSE(LocateEnginePackage(version)) << "the package itself is usable";
        EXPECT_EQ(version, "1.0");
        EXPECT_EQ(PackageHasPrebuilt("x86_64"), c.x86) << (c.list ? c.list : "no list");
        EXPECT_EQ(PackageHasPrebuilt("aarch64"), c.arm) << (c.list ? c.list : "no list");
        EXPECT_FALSE(PackageHasPrebuilt("x86")) << "whole names only";
        EXPECT_FALSE(PackageHasPrebuilt(""));
    }
    EXPECT_TRUE(ui.Messages().empty());
}

}  // namespace
