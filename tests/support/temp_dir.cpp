#include "tests/support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "fdx-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a temporary folder");
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

TempRegistry::TempRegistry()
{
    if (const char* previous = std::getenv("FERRODEX_REGISTRY")) {
        m_previous = previous;
        m_hadPrevious = true;
    }
    ::setenv("FERRODEX_REGISTRY", m_dir.path().c_str(), 1);
}

TempRegistry::~TempRegistry()
{
    if (m_hadPrevious)
        ::setenv("FERRODEX_REGISTRY", m_previous.c_str(), 1);
    else
        ::unsetenv("FERRODEX_REGISTRY");
}

std::string TempRegistry::hiveText(const std::string& hive) const { return ReadWholeFile(m_dir.file(hive + ".reg")); }

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string SourceDir()
{
    if (const char* dir = std::getenv("FDX_SOURCE_DIR")) return dir;
    return FDX_SOURCE_DIR_FALLBACK;
}

std::string BinaryDir()
{
    if (const char* dir = std::getenv("FDX_BINARY_DIR")) return dir;
    return FDX_BINARY_DIR_FALLBACK;
}
