#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>

#include "platform/paths.h"
#include "platform/text.h"

struct RegistryKey {
    int hive;             // 0 classes root, 1 current user, 2 local machine
    std::u16string path;  // below the hive, "" for the hive itself
    bool predefined;
};

namespace {

RegistryKey g_classesRoot{0, u"", true};
RegistryKey g_currentUser{1, u"", true};
RegistryKey g_localMachine{2, u"", true};

const char16_t* const kHiveNames[] = {u"HKEY_CLASSES_ROOT", u"HKEY_CURRENT_USER", u"HKEY_LOCAL_MACHINE"};

std::u16string Lower(std::u16string_view text)
{
    std::u16string out(text);
    for (auto& c : out)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    return out;
}

// Owns one file descriptor.
class CFileHandle {
public:
    explicit CFileHandle(int fd = -1) : m_fd(fd) {}
    ~CFileHandle() { Close(); }
    CFileHandle(const CFileHandle&) = delete;
    CFileHandle& operator=(const CFileHandle&) = delete;
    CFileHandle(CFileHandle&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    CFileHandle& operator=(CFileHandle&& other) noexcept
    {
        if (this != &other) {
            Close();
            std::swap(m_fd, other.m_fd);
        }
        return *this;
    }
    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    // Closes now, reporting whether the close succeeded.
    bool Close()
    {
        if (m_fd < 0) return true;
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

// Says `text` on standard error once per process for each `subject`.
void TellOnce(const std::string& subject, const std::string& text)
{
    static std::mutex s_mutex;
    static std::set<std::string> s_told;
    std::lock_guard lock(s_mutex);
    if (s_told.insert(subject).second) std::fprintf(stderr, "%s\n", text.c_str());
}

bool EqualNoCase(std::u16string_view a, std::u16string_view b) { return Lower(a) == Lower(b); }

// Joins and normalises a key path: no empty pieces, "\" between names.
bool JoinPath(std::u16string_view parent, std::u16string_view sub, std::u16string& out)
{
    out.assign(parent);
    std::size_t start = 0;
    while (start <= sub.size()) {
        std::size_t end = sub.find(u'\\', start);
        if (end == std::u16string_view::npos) end = sub.size();
        const std::u16string_view piece = sub.substr(start, end - start);
        if (!piece.empty()) {
            if (!out.empty()) out += u'\\';
            out += piece;
        }
        start = end + 1;
    }
    return out.size() <= 1024;
}

// One hive held in memory while an operation runs.
class Hive {
public:
    using Keys = std::vector<RegistryKeyRecord>;

    RegistryKeyRecord* Find(std::u16string_view path)
    {
        const std::u16string key = Lower(path);
        for (auto& record : m_keys)
            if (Lower(record.path) == key) return &record;
        return nullptr;
    }

    RegistryKeyRecord& Create(std::u16string_view path)
    {
        // Ancestors first, so that every key on the way exists.
        std::size_t pos = 0;
        while ((pos = path.find(u'\\', pos)) != std::u16string_view::npos) {
            EnsureOne(path.substr(0, pos));
            ++pos;
        }
        return EnsureOne(path);
    }

    bool HasSubkeys(std::u16string_view path) const
    {
        const std::u16string prefix = Lower(path) + u"\\";
        for (const auto& record : m_keys)
            if (path.empty() ? !record.path.empty() : Lower(record.path).starts_with(prefix)) return true;
        return false;
    }

    std::vector<std::u16string> Subkeys(std::u16string_view path) const
    {
        std::vector<std::u16string> names;
        const std::u16string prefix = path.empty() ? u"" : Lower(path) + u"\\";
        for (const auto& record : m_keys) {
            const std::u16string lower = Lower(record.path);
            if (record.path.empty() || !lower.starts_with(prefix)) continue;
            const std::u16string rest = record.path.substr(prefix.size());
            const std::u16string name = rest.substr(0, rest.find(u'\\'));
            if (std::none_of(names.begin(), names.end(), [&](const auto& n) { return EqualNoCase(n, name); }))
                names.push_back(name);
        }
        return names;
    }

    void Erase(std::u16string_view path)
    {
        const std::u16string key = Lower(path);
        std::erase_if(m_keys, [&](const RegistryKeyRecord& r) { return Lower(r.path) == key; });
    }

    Keys& keys() { return m_keys; }

private:
    RegistryKeyRecord& EnsureOne(std::u16string_view path)
    {
        if (auto* found = Find(path)) return *found;
        m_keys.push_back(RegistryKeyRecord{std::u16string(path), {}});
        return m_keys.back();
    }

    Keys m_keys;
};

std::string HiveName(int hive) { return WideToAnsi(kHiveNames[hive]); }

std::string HiveFile(int hive) { return RegistryFolder() + "/" + HiveName(hive) + ".reg"; }

constexpr auto kLockWait = std::chrono::seconds(10);

// Holds the registry folder's advisory lock for one operation. The folder is
// made (owner-only) when missing and refused when it is not private.
class FolderLock {
public:
    explicit FolderLock(bool exclusive)
    {
        const std::string folder = RegistryFolder();
        if (folder.empty() || !EnsurePrivateFolderOrSay(folder)) {
            m_error = ERROR_ACCESS_DENIED;
            return;
        }
        CFileHandle file(::open((folder + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!file.Valid()) return;
        const auto deadline = std::chrono::steady_clock::now() + kLockWait;
        for (;;) {
            if (::flock(file.Get(), (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) {
                m_file = std::move(file);
                m_error = ERROR_SUCCESS;
                return;
            }
            if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        TellOnce(folder + "/.lock", "ferrodex: the registry lock " + folder +
                                         "/.lock could not be taken within 10 seconds; the registry was not used");
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // ERROR_SUCCESS while the lock is held.
    LONG Error() const { return m_error; }

private:
    CFileHandle m_file;  // closing it lets go of the lock
    LONG m_error = ERROR_REGISTRY_IO_FAILED;
};

// What a hive file held: all of it, what could be read of a damaged file, or
// nothing because it could not be read at all.
enum ELoadResult { LOAD_WHOLE, LOAD_DAMAGED, LOAD_FAILED };

// Reads at most kRegMaxHiveSize + 1 bytes of a hive file, never through a
// symbolic link. A missing file reads as empty.
bool ReadHiveFile(const std::string& path, std::string& out)
{
    out.clear();
    const CFileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!file.Valid()) {
        const int error = errno;
        if (error == ELOOP)
            TellOnce(path, "ferrodex: the registry file " + path + " is a symbolic link; it is neither read nor written");
        return error == ENOENT;
    }
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    char buffer[65536];
    ssize_t n = 0;
    while (out.size() <= kRegMaxHiveSize) {
        n = ::read(file.Get(), buffer, std::min(sizeof buffer, kRegMaxHiveSize + 1 - out.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return n >= 0;
}

ELoadResult LoadHive(int hive, Hive& out)
{
    std::string text;
    if (!ReadHiveFile(HiveFile(hive), text)) return LOAD_FAILED;
    std::vector<RegistryKeyRecord> records;
    const bool whole = ParseRegistryText(text, records);
    const std::u16string prefix = kHiveNames[hive];
    for (auto& record : records) {
        // Only keys of this hive; paths are kept below the hive name.
        if (!EqualNoCase(record.path.substr(0, prefix.size()), prefix)) continue;
        std::u16string below = record.path.substr(prefix.size());
        if (!below.empty() && below[0] != u'\\') continue;
        std::u16string path;
        JoinPath(u"", below, path);
        auto& key = out.Create(path);
        for (auto& value : record.values) {
            std::erase_if(key.values, [&](const RegistryValue& v) { return EqualNoCase(v.name, value.name); });
            key.values.push_back(std::move(value));
        }
    }
    return whole ? LOAD_WHOLE : LOAD_DAMAGED;
}

std::string& NextTemporaryName()
{
    static std::string s_name;
    return s_name;
}

std::string RandomHex(std::size_t bytes)
{
    std::vector<unsigned char> noise(bytes);
    std::size_t done = 0;
    while (done < bytes) {
        const ssize_t n = ::getrandom(noise.data() + done, bytes - done, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    if (done < bytes) {
        // No kernel randomness: the name is still made unique by O_EXCL and
        // the retries below.
        const auto tick = std::chrono::steady_clock::now().time_since_epoch().count();
        for (std::size_t i = 0; i < bytes; ++i)
            noise[i] ^= static_cast<unsigned char>((tick >> (8 * (i % 8))) ^ (::getpid() >> (i % 3)));
    }
    return HexLower(noise.data(), noise.size());
}

// Creates a new owner-only temporary file in `folder`, exclusively and never
// through a symbolic link; not valid when none could be made.
CFileHandle CreateTemporaryFile(const std::string& folder, const std::string& stem, std::string& path)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string name;
        std::swap(name, NextTemporaryName());
        if (name.empty()) name = "." + stem + "." + RandomHex(8) + ".tmp";
        path = folder + "/" + name;
        CFileHandle file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (file.Valid() || (errno != EEXIST && errno != ELOOP)) return file;
    }
    return CFileHandle();
}

bool WriteAll(int fd, std::string_view text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Replaces the hive file: a new temporary file beside it, flushed, then
// renamed over it (a symbolic link in its place is replaced, never followed).
bool StoreHive(int hive, Hive& data)
{
    std::vector<RegistryKeyRecord> records = data.keys();
    std::sort(records.begin(), records.end(),
              [](const RegistryKeyRecord& a, const RegistryKeyRecord& b) { return Lower(a.path) < Lower(b.path); });
    for (auto& record : records)
        record.path = record.path.empty() ? std::u16string(kHiveNames[hive])
                                          : std::u16string(kHiveNames[hive]) + u"\\" + record.path;
    const std::string text = FormatRegistryText(records, kHiveNames[hive]);
    if (text.size() > kRegMaxHiveSize) return false;
    const std::string folder = RegistryFolder();
    std::string temp;
    CFileHandle file = CreateTemporaryFile(folder, HiveName(hive) + ".reg", temp);
    if (!file.Valid()) return false;
    const bool written = WriteAll(file.Get(), text) && ::fsync(file.Get()) == 0;
    if (!file.Close() || !written || ::rename(temp.c_str(), HiveFile(hive).c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    // The rename itself survives a crash once the folder is flushed.
    if (const CFileHandle dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); dir.Valid())
        ::fsync(dir.Get());
    return true;
}

// The number of a kept-aside copy: 1 for "<hive file>.damaged", N for
// "<hive file>.damaged.N"; 0 for any other name.
unsigned DamagedCopyNumber(const std::string& name, const std::string& base)
{
    if (name == base) return 1;
    if (name.size() <= base.size() + 1 || name.compare(0, base.size() + 1, base + ".") != 0) return 0;
    unsigned number = 0;
    for (std::size_t i = base.size() + 1; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || number > 100000) return 0;
        number = number * 10 + static_cast<unsigned>(name[i] - '0');
    }
    return number >= 2 ? number : 0;
}

// The highest-numbered kept-aside copy of a hive; 0 when there is none.
unsigned LatestDamagedCopy(int hive)
{
    const std::string base = HiveName(hive) + ".reg.damaged";
    unsigned latest = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(RegistryFolder(), ec))
        latest = std::max(latest, DamagedCopyNumber(entry.path().filename().string(), base));
    return latest;
}

std::string DamagedCopyPath(int hive, unsigned number)
{
    const std::string base = HiveFile(hive) + ".damaged";
    return number <= 1 ? base : base + "." + std::to_string(number);
}

// Keeps a damaged hive file aside under a new name and writes the values that
// could be read as the hive. Runs under the exclusive lock.
bool SetDamagedHiveAside(int hive, Hive& readable)
{
    const std::string file = HiveFile(hive);
    std::string copy;
    bool moved = false;
    for (unsigned number = LatestDamagedCopy(hive) + 1, tries = 0; tries < 16; ++number, ++tries) {
        copy = DamagedCopyPath(hive, number);
        if (::link(file.c_str(), copy.c_str()) == 0) break;
        if (errno != EEXIST) {
            // No hard links here: move the file instead (the folder is
            // private and locked, so the name stays free meanwhile).
            struct stat info {};
            moved = ::lstat(copy.c_str(), &info) != 0 && ::rename(file.c_str(), copy.c_str()) == 0;
            if (!moved) copy.clear();
            break;
        }
        copy.clear();
    }
    if (copy.empty()) {
        TellOnce(file, "ferrodex: the registry file " + file +
                           " could not be read whole and could not be kept aside; it is not changed");
        return false;
    }
    if (!StoreHive(hive, readable)) {
        // The damaged file is still the hive: no second copy of it is kept.
        if (moved)
            ::rename(copy.c_str(), file.c_str());
        else
            ::unlink(copy.c_str());
        TellOnce(file, "ferrodex: the registry file " + file +
                           " could not be read whole and could not be written anew; it is not changed");
        return false;
    }
    std::fprintf(stderr,
                 "ferrodex: the registry file %s could not be read whole; it was kept as %s and the values that "
                 "could be read were kept\n",
                 file.c_str(), copy.c_str());
    return true;
}

// Open key handles, owned here until RegCloseKey.
class HandleTable {
public:
    HKEY Open(int hive, std::u16string path)
    {
        auto key = std::make_unique<RegistryKey>(RegistryKey{hive, std::move(path), false});
        HKEY handle = key.get();
        std::lock_guard lock(m_mutex);
        m_keys.emplace(handle, std::move(key));
        return handle;
    }
    bool Close(HKEY key)
    {
        std::lock_guard lock(m_mutex);
        return m_keys.erase(key) != 0;
    }
    bool Contains(HKEY key)
    {
        std::lock_guard lock(m_mutex);
        return m_keys.count(key) != 0;
    }

private:
    std::mutex m_mutex;
    std::unordered_map<HKEY, std::unique_ptr<RegistryKey>> m_keys;
};

HandleTable& Handles()
{
    static HandleTable table;
    return table;
}

bool ValidKey(HKEY key)
{
    return key == &g_classesRoot || key == &g_currentUser || key == &g_localMachine || Handles().Contains(key);
}

// Runs a change of one hive under the exclusive lock. A damaged hive is kept
// aside first, and the change applies to the values that could be read.
template <typename F>
LONG ChangeHive(int hive, F&& change)
{
    FolderLock lock(true);
    if (lock.Error() != ERROR_SUCCESS) return lock.Error();
    Hive data;
    const ELoadResult loaded = LoadHive(hive, data);
    if (loaded == LOAD_FAILED) return ERROR_REGISTRY_IO_FAILED;
    if (loaded == LOAD_DAMAGED && !SetDamagedHiveAside(hive, data)) return ERROR_REGISTRY_IO_FAILED;
    bool modified = false;
    const LONG rc = change(data, modified);
    if (rc == ERROR_SUCCESS && modified && !StoreHive(hive, data)) return ERROR_REGISTRY_IO_FAILED;
    return rc;
}

template <typename F>
LONG ReadHive(int hive, F&& read)
{
    {
        FolderLock lock(false);
        if (lock.Error() != ERROR_SUCCESS) return lock.Error();
        Hive data;
        const ELoadResult loaded = LoadHive(hive, data);
        if (loaded == LOAD_FAILED) return ERROR_REGISTRY_IO_FAILED;
        if (loaded == LOAD_WHOLE) return read(data);
    }
    // Damaged: kept aside under the exclusive lock; the read is answered from
    // what could be read even when that fails.
    FolderLock lock(true);
    if (lock.Error() != ERROR_SUCCESS) return lock.Error();
    Hive data;
    const ELoadResult loaded = LoadHive(hive, data);
    if (loaded == LOAD_FAILED) return ERROR_REGISTRY_IO_FAILED;
    if (loaded == LOAD_DAMAGED) SetDamagedHiveAside(hive, data);
    return read(data);
}

}  // namespace

const HKEY HKEY_CLASSES_ROOT = &g_classesRoot;
const HKEY HKEY_CURRENT_USER = &g_currentUser;
const HKEY HKEY_LOCAL_MACHINE = &g_localMachine;

std::string RegistryFolder()
{
    if (const char* dir = std::getenv("FERRODEX_REGISTRY"); dir != nullptr && *dir != '\0') return dir;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data == '/')
        return std::string(data) + "/ferrodex/registry";
    const std::string home = UserHomeFolder();
    return home.empty() ? std::string() : home + "/.local/share/ferrodex/registry";
}

std::string RegDamagedHiveCopy(HKEY root)
{
    if (root == nullptr) return {};
    const unsigned latest = LatestDamagedCopy(root->hive);
    return latest == 0 ? std::string() : DamagedCopyPath(root->hive, latest);
}

void RegTryTemporaryNameOnce(std::string name) { NextTemporaryName() = std::move(name); }

LONG RegCreateKeyEx(HKEY parent, std::u16string_view subKey, DWORD access, HKEY* result)
{
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (!ValidKey(parent)) return ERROR_INVALID_HANDLE;
    std::u16string path;
    if (!JoinPath(parent->path, subKey, path)) return ERROR_INVALID_PARAMETER;
    const LONG rc = ChangeHive(parent->hive, [&](Hive& data, bool& modified) {
        if (data.Find(path) == nullptr && !path.empty()) {
            data.Create(path);
            modified = true;
        }
        return ERROR_SUCCESS;
    });
    if (rc != ERROR_SUCCESS) return rc;
    *result = Handles().Open(parent->hive, path);
    return ERROR_SUCCESS;
}

LONG RegOpenKeyEx(HKEY parent, std::u16string_view subKey, DWORD access, HKEY* result)
{
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (!ValidKey(parent)) return ERROR_INVALID_HANDLE;
    std::u16string path;
    if (!JoinPath(parent->path, subKey, path)) return ERROR_INVALID_PARAMETER;
    const LONG rc = ReadHive(parent->hive, [&](Hive& data) {
        return path.empty() || data.Find(path) != nullptr ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
    if (rc != ERROR_SUCCESS) return rc;
    *result = Handles().Open(parent->hive, path);
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key)
{
    if (key == nullptr) return ERROR_INVALID_HANDLE;
    if (key == &g_classesRoot || key == &g_currentUser || key == &g_localMachine) return ERROR_SUCCESS;
    return Handles().Close(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegSetValueEx(HKEY key, std::u16string_view name, DWORD type, const void* data, DWORD size)
{
    if (!ValidKey(key)) return ERROR_INVALID_HANDLE;
    if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
    // Nothing is stored that the hive reader would refuse.
    if (size > kRegMaxValueSize || name.size() > kRegMaxNameLength) return ERROR_INVALID_PARAMETER;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    return ChangeHive(key->hive, [&](Hive& hive, bool& modified) {
        auto& record = hive.Create(key->path);
        std::erase_if(record.values, [&](const RegistryValue& v) { return EqualNoCase(v.name, name); });
        record.values.push_back(RegistryValue{std::u16string(name), type, std::vector<std::uint8_t>(bytes, bytes + size)});
        modified = true;
        return ERROR_SUCCESS;
    });
}

LONG RegQueryValueEx(HKEY key, std::u16string_view name, DWORD* type, void* data, DWORD* size)
{
    if (!ValidKey(key)) return ERROR_INVALID_HANDLE;
    if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
    return ReadHive(key->hive, [&](Hive& hive) {
        const auto* record = hive.Find(key->path);
        if (record == nullptr) return ERROR_FILE_NOT_FOUND;
        for (const auto& value : record->values) {
            if (!EqualNoCase(value.name, name)) continue;
            if (type) *type = value.type;
            const DWORD needed = static_cast<DWORD>(value.data.size());
            if (size == nullptr) return ERROR_SUCCESS;
            if (data != nullptr && *size < needed) {
                *size = needed;
                return ERROR_MORE_DATA;
            }
            if (data != nullptr && needed != 0) std::memcpy(data, value.data.data(), needed);
            *size = needed;
            return ERROR_SUCCESS;
        }
        return ERROR_FILE_NOT_FOUND;
    });
}

LONG RegDeleteValue(HKEY key, std::u16string_view name)
{
    if (!ValidKey(key)) return ERROR_INVALID_HANDLE;
    return ChangeHive(key->hive, [&](Hive& hive, bool& modified) {
        auto* record = hive.Find(key->path);
        if (record == nullptr) return ERROR_FILE_NOT_FOUND;
        const auto removed =
            std::erase_if(record->values, [&](const RegistryValue& v) { return EqualNoCase(v.name, name); });
        modified = removed != 0;
        return removed != 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
}

LONG RegDeleteKey(HKEY parent, std::u16string_view subKey)
{
    if (!ValidKey(parent)) return ERROR_INVALID_HANDLE;
    std::u16string path;
    if (!JoinPath(parent->path, subKey, path) || path.empty()) return ERROR_INVALID_PARAMETER;
    return ChangeHive(parent->hive, [&](Hive& hive, bool& modified) {
        if (hive.Find(path) == nullptr) return ERROR_FILE_NOT_FOUND;
        if (hive.HasSubkeys(path)) return ERROR_ACCESS_DENIED;
        hive.Erase(path);
        modified = true;
        return ERROR_SUCCESS;
    });
}

LONG RegEnumValueName(HKEY key, DWORD index, std::u16string* name)
{
    if (!ValidKey(key)) return ERROR_INVALID_HANDLE;
    if (name == nullptr) return ERROR_INVALID_PARAMETER;
    return ReadHive(key->hive, [&](Hive& hive) {
        const auto* record = hive.Find(key->path);
        if (record == nullptr) return ERROR_FILE_NOT_FOUND;
        if (index >= record->values.size()) return ERROR_NO_MORE_ITEMS;
        *name = record->values[index].name;
        return ERROR_SUCCESS;
    });
}

LONG RegEnumKey(HKEY key, DWORD index, std::u16string* name)
{
    if (!ValidKey(key)) return ERROR_INVALID_HANDLE;
    if (name == nullptr) return ERROR_INVALID_PARAMETER;
    return ReadHive(key->hive, [&](Hive& hive) {
        if (!key->path.empty() && hive.Find(key->path) == nullptr) return ERROR_FILE_NOT_FOUND;
        const auto names = hive.Subkeys(key->path);
        if (index >= names.size()) return ERROR_NO_MORE_ITEMS;
        *name = names[index];
        return ERROR_SUCCESS;
    });
}

