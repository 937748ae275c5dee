// A temporary folder for one test, removed with everything in it afterwards;
// and a registry that lives in such a folder for the test's duration.
#pragma once

#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Points $FERRODEX_REGISTRY at a fresh folder until destroyed.
class TempRegistry {
public:
    TempRegistry();
    ~TempRegistry();
    TempRegistry(const TempRegistry&) = delete;
    TempRegistry& operator=(const TempRegistry&) = delete;
    const std::string& path() const { return m_dir.path(); }
    // The text of one hive file ("HKEY_CLASSES_ROOT" etc.), empty if none.
    std::string hiveText(const std::string& hive) const;

private:
    TempDir m_dir;
    std::string m_previous;
    bool m_hadPrevious = false;
};

// Reads a whole file; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);
// The folder of the source tree (test data lives below it).
std::string SourceDir();
// The build tree the tests belong to.
std::string BinaryDir();
