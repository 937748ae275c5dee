// The engine package as tools/engine-package.sh makes it: the static lshw
// binaries it carries, and the same bytes from a second run. The package
// comes from $FDX_ENGINE_PACKAGE (the test script makes it).
#include <elf.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"

namespace {

// What the ELF header of a 64-bit little-endian file says.
struct SElfFacts {
    bool valid = false;
    unsigned machine = 0;
    bool interpreter = false;  // a PT_INTERP segment: needs a dynamic loader
    bool dynamic = false;      // a PT_DYNAMIC segment: links shared libraries
};

SElfFacts ReadElf(const std::string& path)
{
    SElfFacts facts;
    std::ifstream in(path, std::ios::binary);
    Elf64_Ehdr header{};
    if (!in.read(reinterpret_cast<char*>(&header), sizeof header) ||
        std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64 ||
        header.e_ident[EI_DATA] != ELFDATA2LSB || header.e_phentsize != sizeof(Elf64_Phdr) || header.e_phnum > 64)
        return facts;
    facts.machine = header.e_machine;
    for (unsigned i = 0; i < header.e_phnum; ++i) {
        Elf64_Phdr segment{};
        in.seekg(static_cast<std::streamoff>(header.e_phoff + i * sizeof segment));
        if (!in.read(reinterpret_cast<char*>(&segment), sizeof segment)) return facts;
        facts.interpreter |= segment.p_type == PT_INTERP;
        facts.dynamic |= segment.p_type == PT_DYNAMIC;
    }
    facts.valid = true;
    return facts;
}

class EnginePackageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* package = std::getenv("FDX_ENGINE_PACKAGE");
        const char* version = std::getenv("FDX_ENGINE_VERSION");
        if (package == nullptr || version == nullptr || !std::filesystem::exists(package))
            GTEST_SKIP() << "FDX_ENGINE_PACKAGE is not set";
        m_package = package;
        m_folder = unpacked.file(std::string("lshw-") + version);
        int status = 0;
        ShellOutput("tar -C '" + unpacked.path() + "' -xzf '" + m_package + "'", &status);
        ASSERT_EQ(status, 0);
    }

    TempDir unpacked;
    std::string m_package;
    std::string m_folder;
};

TEST_F(EnginePackageTest, CarriesStaticLshwForBothArchitectures)
{
    struct Case {
        const char* arch;
        unsigned machine;
    };
    for (const Case c : {Case{"x86_64", EM_X86_64}, Case{"aarch64", EM_AARCH64}}) {
        const std::string binary = m_folder + "/prebuilt/" + c.arch + "/lshw";
        ASSERT_TRUE(std::filesystem::exists(binary)) << binary;
        const SElfFacts facts = ReadElf(binary);
        ASSERT_TRUE(facts.valid) << binary;
        EXPECT_EQ(facts.machine, c.machine) << c.arch;
        EXPECT_FALSE(facts.interpreter) << c.arch << " needs a dynamic loader";
        EXPECT_FALSE(facts.dynamic) << c.arch << " links shared libraries";
        EXPECT_EQ(std::filesystem::status(binary).permissions() & std::filesystem::perms::owner_exec,
                  std::filesystem::perms::owner_exec);
    }
    // The source and the install script stay for the other architectures.
    EXPECT_TRUE(std::filesystem::exists(m_folder + "/src/Makefile"));
    EXPECT_TRUE(std::filesystem::exists(m_folder + "/install"));
    EXPECT_TRUE(std::filesystem::exists(m_folder + "/src/pci.ids"));
}

// Run from the data folder, as the installed `lshw` runs it.
TEST_F(EnginePackageTest, TheBinaryForThisMachineRunsAndReadsItsDataFolder)
{
    if (ReadElf("/proc/self/exe").machine != EM_X86_64) GTEST_SKIP() << "not an x86-64 machine";
    int status = 0;
    const std::string xml =
        ShellOutput("cd '" + m_folder + "/src' && ../prebuilt/x86_64/lshw -xml 2>/dev/null", &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(xml.find("<?xml"), std::string::npos);
    EXPECT_NE(xml.find("<node id=\""), std::string::npos);
    EXPECT_NE(xml.find("</node>"), std::string::npos) << xml.substr(0, 400);
}

// A second run from the same source gives the same bytes, so the package
// is signed once per content.
TEST_F(EnginePackageTest, IsReproducible)
{
    const std::string binary = BinaryDir();
    if (!std::filesystem::exists(binary + "/tools/fdx-engine-register")) GTEST_SKIP() << "no fdx-engine-register";
    TempDir again;
    TempRegistry registry;
    int status = 0;
    const std::string log = ShellOutput("'" + SourceDir() + "/tools/engine-package.sh' '" + binary + "' '" +
                                            again.path() + "' 2>&1",
                                        &status);
    ASSERT_EQ(status, 0) << log;
    const std::string name = std::filesystem::path(m_package).filename().string();
    EXPECT_EQ(ReadWholeFile(again.file(name)), ReadWholeFile(m_package));
}

}  // namespace
