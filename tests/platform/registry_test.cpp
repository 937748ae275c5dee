#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include "platform/registry.h"
#include "tests/support/temp_dir.h"

namespace {

const char16_t* const kKey = u"Software\\Quillon\\Test";

}  // namespace

TEST(Registry, ValuesOfEveryTypeSurviveInTheHiveFile)
{
    TempRegistry registry;
    ASSERT_EQ(RegWriteString(HKEY_LOCAL_MACHINE, kKey, u"Path", u"/opt/with \"quotes\" and \\slash\\"), ERROR_SUCCESS);
    ASSERT_EQ(RegWriteString(HKEY_LOCAL_MACHINE, kKey, u"", u"default"), ERROR_SUCCESS);
    ASSERT_EQ(RegWriteString(HKEY_LOCAL_MACHINE, kKey, u"Lines", u"one\ntwo"), ERROR_SUCCESS);
    ASSERT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, kKey, u"Count", 0xFFFFFFFEu), ERROR_SUCCESS);
    std::vector<std::uint8_t> blob(300);
    for (std::size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_EQ(RegWriteBinary(HKEY_LOCAL_MACHINE, kKey, u"Seed", blob.data(), blob.size()), ERROR_SUCCESS);

    std::u16string text;
    ASSERT_TRUE(RegReadString(HKEY_LOCAL_MACHINE, kKey, u"path", text));  // names ignore case
    EXPECT_EQ(text, u"/opt/with \"quotes\" and \\slash\\");
    ASSERT_TRUE(RegReadString(HKEY_LOCAL_MACHINE, u"software\\QUILLON\\test", u"", text));
    EXPECT_EQ(text, u"default");
    ASSERT_TRUE(RegReadString(HKEY_LOCAL_MACHINE, kKey, u"Lines", text));
    EXPECT_EQ(text, u"one\ntwo");
    DWORD count = 0;
    ASSERT_TRUE(RegReadDword(HKEY_LOCAL_MACHINE, kKey, u"Count", count));
    EXPECT_EQ(count, 0xFFFFFFFEu);
    std::vector<std::uint8_t> back;
    ASSERT_TRUE(RegReadBinary(HKEY_LOCAL_MACHINE, kKey, u"Seed", back));
    EXPECT_EQ(back, blob);

    const std::string hive = registry.hiveText("HKEY_LOCAL_MACHINE");
    EXPECT_EQ(hive.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
    EXPECT_NE(hive.find("[HKEY_LOCAL_MACHINE\\Software\\Quillon\\Test]"), std::string::npos);
    EXPECT_NE(hive.find("\"Count\"=dword:fffffffe"), std::string::npos);
    EXPECT_NE(hive.find("@=\"default\""), std::string::npos);
    EXPECT_EQ(registry.hiveText("HKEY_CURRENT_USER"), "");
}

TEST(Registry, QueryReportsSizesAndShortBuffers)
{
    TempRegistry registry;
    ASSERT_EQ(RegWriteString(HKEY_CURRENT_USER, kKey, u"Name", u"abc"), ERROR_SUCCESS);
    HKEY raw = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, kKey, KEY_READ, &raw), ERROR_SUCCESS);
    RegKeyPtr key(raw);
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueEx(key.get(), u"Name", &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 8u);
    char16_t small[2] = {u'x', u'y'};
    size = sizeof small;
    EXPECT_EQ(RegQueryValueEx(key.get(), u"Name", &type, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(small[0], u'x');  // untouched
    EXPECT_EQ(RegQueryValueEx(key.get(), u"Missing", &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    HKEY none = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, u"Software\\Nobody", KEY_READ, &none), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(none, nullptr);
}

TEST(Registry, KeysDeleteOnlyWithoutSubkeysAndEnumerate)
{
    TempRegistry registry;
    HKEY raw = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, u"CLSID\\{A}\\InprocServer32", KEY_ALL_ACCESS, &raw), ERROR_SUCCESS);
    RegCloseKey(raw);
    ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, u"CLSID\\{B}", KEY_ALL_ACCESS, &raw), ERROR_SUCCESS);
    RegKeyPtr b(raw);
    ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, u"CLSID", KEY_READ, &raw), ERROR_SUCCESS);
    RegKeyPtr clsid(raw);
    std::u16string name;
    ASSERT_EQ(RegEnumKey(clsid.get(), 0, &name), ERROR_SUCCESS);
    EXPECT_EQ(name, u"{A}");
    ASSERT_EQ(RegEnumKey(clsid.get(), 1, &name), ERROR_SUCCESS);
    EXPECT_EQ(name, u"{B}");
    EXPECT_EQ(RegEnumKey(clsid.get(), 2, &name), ERROR_NO_MORE_ITEMS);

    EXPECT_EQ(RegDeleteKey(HKEY_CLASSES_ROOT, u"CLSID\\{A}"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKey(HKEY_CLASSES_ROOT, u"CLSID\\{A}\\InprocServer32"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKey(HKEY_CLASSES_ROOT, u"CLSID\\{A}"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKey(HKEY_CLASSES_ROOT, u"CLSID\\{A}"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
}

TEST(Registry, ConcurrentWritersLoseNothing)
{
    TempRegistry registry;
    constexpr int kWriters = 4;
    constexpr int kValues = 25;
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int v = 0; v < kValues; ++v) {
                const std::u16string name = u"w" + std::u16string(1, char16_t(u'0' + w)) + u"v" +
                                            std::u16string(1, char16_t(u'A' + v));
                if (RegWriteDword(HKEY_CURRENT_USER, kKey, name, static_cast<DWORD>(v)) != ERROR_SUCCESS) ::_exit(1);
            }
            ::_exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int w = 0; w < kWriters; ++w)
        for (int v = 0; v < kValues; ++v) {
            DWORD value = 99;
            const std::u16string name =
                u"w" + std::u16string(1, char16_t(u'0' + w)) + u"v" + std::u16string(1, char16_t(u'A' + v));
            EXPECT_TRUE(RegReadDword(HKEY_CURRENT_USER, kKey, name, value));
            EXPECT_EQ(value, static_cast<DWORD>(v));
        }
}

// What is read around a line that cannot be read: local_state_test's
// RegistryText case. Here texts that are no hive at all, or hold nothing.
TEST(RegistryText, MalformedTextFailsCleanly)
{
    std::vector<RegistryKeyRecord> keys;
    for (const char* bad : {"", "not a registry", "Windows Registry Editor Version 5.00\n\"v\"=\"outside\"\n",
                            "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A\n",
                            "Windows Registry Editor Version 5.00\n[K]\n\"open=\"x\"\n",
                            "Windows Registry Editor Version 5.00\n[K]\n\"v\"=hex:0\n",
                            "Windows Registry Editor Version 5.00\n[K]\n\"v\"=hex(ffffffffff):00\n"}) {
        keys.clear();
        const bool ok = ParseRegistryText(bad, keys);
        EXPECT_TRUE(!ok || std::string(bad).empty()) << bad;
    }
}
