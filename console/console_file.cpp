#include "console/console_file.h"

#include <cstring>

#include "platform/atomic_file.h"
#include "platform/random_id.h"
#include "sshcore/product_crypto.h"

namespace {

constexpr std::uint8_t kMagic[8] = {0x89, 'F', 'D', 'X', 'C', 'O', 'N', 0x0A};

// A cursor over untrusted bytes: every read checks what remains first and a
// failed read leaves the cursor where it was.
class CByteReader {
public:
    explicit CByteReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    std::size_t Remaining() const { return m_bytes.size() - m_pos; }
    std::size_t Position() const { return m_pos; }

    bool ReadBytes(std::size_t count, std::span<const std::uint8_t>& out)
    {
        if (Remaining() < count) return false;
        out = m_bytes.subspan(m_pos, count);
        m_pos += count;
        return true;
    }
    bool ReadU32(std::uint32_t& value)
    {
        std::span<const std::uint8_t> raw;
        if (!ReadBytes(4, raw)) return false;
        value = static_cast<std::uint32_t>(raw[0]) | static_cast<std::uint32_t>(raw[1]) << 8 |
                static_cast<std::uint32_t>(raw[2]) << 16 | static_cast<std::uint32_t>(raw[3]) << 24;
        return true;
    }
    bool ReadGuid(GUID& guid)
    {
        std::span<const std::uint8_t> raw;
        if (!ReadBytes(16, raw)) return false;
        guid.Data1 = static_cast<std::uint32_t>(raw[0]) | static_cast<std::uint32_t>(raw[1]) << 8 |
                     static_cast<std::uint32_t>(raw[2]) << 16 | static_cast<std::uint32_t>(raw[3]) << 24;
        guid.Data2 = static_cast<std::uint16_t>(raw[4] | raw[5] << 8);
        guid.Data3 = static_cast<std::uint16_t>(raw[6] | raw[7] << 8);
        std::memcpy(guid.Data4, raw.data() + 8, 8);
        return true;
    }

private:
    std::span<const std::uint8_t> m_bytes;
    std::size_t m_pos = 0;
};

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void PutGuid(std::vector<std::uint8_t>& out, const GUID& guid)
{
    PutU32(out, guid.Data1);
    out.push_back(static_cast<std::uint8_t>(guid.Data2));
    out.push_back(static_cast<std::uint8_t>(guid.Data2 >> 8));
    out.push_back(static_cast<std::uint8_t>(guid.Data3));
    out.push_back(static_cast<std::uint8_t>(guid.Data3 >> 8));
    out.insert(out.end(), guid.Data4, guid.Data4 + 8);
}

std::uint32_t Crc32(std::span<const std::uint8_t> bytes) { return sshcore::Crc32(bytes); }

ConsoleFileParse Fail(ConsoleFileError error, std::string reason) { return {error, std::move(reason)}; }

}  // namespace

ConsoleFileParse ParseConsoleFile(std::span<const std::uint8_t> bytes, std::vector<ConsoleFileInstance>& instances,
                                  ConsoleFileIdentity* identity)
{
    instances.clear();
    if (identity != nullptr) *identity = {};
    CByteReader reader(bytes);
    std::span<const std::uint8_t> magic;
    if (!reader.ReadBytes(sizeof kMagic, magic) || std::memcmp(magic.data(), kMagic, sizeof kMagic) != 0)
        return Fail(ConsoleFileError::Foreign, "it is not a Ferrodex console file");
    std::uint32_t version = 0;
    if (!reader.ReadU32(version)) return Fail(ConsoleFileError::Damaged, "it ends inside its header");
    if (version > kConsoleFileVersion)
        return Fail(ConsoleFileError::Newer, "it was written by a newer Ferrodex (format " + std::to_string(version) + ")");
    if (version == 0) return Fail(ConsoleFileError::Damaged, "its format number is invalid");
    if (reader.Remaining() < 8) return Fail(ConsoleFileError::Damaged, "it is truncated");
    // The checksum covers everything before it; check it before trusting
    // any count or length.
    const std::size_t bodyEnd = bytes.size() - 4;
    CByteReader tail(bytes.subspan(bodyEnd));
    std::uint32_t stored = 0;
    tail.ReadU32(stored);
    if (Crc32(bytes.first(bodyEnd)) != stored) return Fail(ConsoleFileError::Damaged, "its checksum does not match");

    CByteReader body(bytes.first(bodyEnd));
    body.ReadBytes(sizeof kMagic, magic);
    body.ReadU32(version);
    ConsoleFileIdentity identityRead;
    if (version >= 2) {
        std::span<const std::uint8_t> id;
        std::uint32_t length = 0;
        if (!body.ReadBytes(32, id) || !body.ReadU32(length))
            return Fail(ConsoleFileError::Damaged, "it ends inside its identity");
        identityRead.id.assign(id.begin(), id.end());
        if (!IsRandomId(identityRead.id)) return Fail(ConsoleFileError::Damaged, "its identity is invalid");
        std::span<const std::uint8_t> path;
        if (length > kMaxSavedPath || !body.ReadBytes(length, path))
            return Fail(ConsoleFileError::Damaged, "its identity is invalid");
        identityRead.savedAt.assign(path.begin(), path.end());
    }
    std::uint32_t count = 0;
    if (!body.ReadU32(count)) return Fail(ConsoleFileError::Damaged, "it ends inside its header");
    if (count > kMaxInstances) return Fail(ConsoleFileError::Damaged, "it claims too many snap-in instances");
    std::vector<ConsoleFileInstance> read;
    for (std::uint32_t i = 0; i < count; ++i) {
        ConsoleFileInstance instance;
        std::uint32_t length = 0;
        if (!body.ReadGuid(instance.clsid) || !body.ReadU32(length))
            return Fail(ConsoleFileError::Damaged, "it ends inside a snap-in record");
        if (length > kMaxInstanceStream) return Fail(ConsoleFileError::Damaged, "a snap-in record is too large");
        std::span<const std::uint8_t> stream;
        if (!body.ReadBytes(length, stream)) return Fail(ConsoleFileError::Damaged, "it ends inside a snap-in record");
        instance.stream.assign(stream.begin(), stream.end());
        read.push_back(std::move(instance));
    }
    if (body.Remaining() != 0) return Fail(ConsoleFileError::Damaged, "it has unexpected bytes at its end");
    instances = std::move(read);
    if (identity != nullptr) *identity = std::move(identityRead);
    return {};
}

std::vector<std::uint8_t> FormatConsoleFile(const std::vector<ConsoleFileInstance>& instances,
                                            const ConsoleFileIdentity& identity)
{
    std::vector<std::uint8_t> out(kMagic, kMagic + sizeof kMagic);
    const bool identified = IsRandomId(identity.id) && identity.savedAt.size() <= kMaxSavedPath;
    PutU32(out, identified ? kConsoleFileVersion : 1);
    if (identified) {
        out.insert(out.end(), identity.id.begin(), identity.id.end());
        PutU32(out, static_cast<std::uint32_t>(identity.savedAt.size()));
        out.insert(out.end(), identity.savedAt.begin(), identity.savedAt.end());
    }
    PutU32(out, static_cast<std::uint32_t>(instances.size()));
    for (const ConsoleFileInstance& instance : instances) {
        PutGuid(out, instance.clsid);
        PutU32(out, static_cast<std::uint32_t>(instance.stream.size()));
        out.insert(out.end(), instance.stream.begin(), instance.stream.end());
    }
    PutU32(out, Crc32(out));
    return out;
}

bool ReadConsoleFile(const std::string& path, std::vector<ConsoleFileInstance>& instances, bool& missing,
                     std::string& error, ConsoleFileIdentity* identity)
{
    instances.clear();
    missing = false;
    std::vector<std::uint8_t> bytes;
    std::string reason;
    switch (ReadFileLimited(path, kMaxConsoleFile, bytes, reason)) {
    case FileReadResult::Ok:
        break;
    case FileReadResult::Missing:
        missing = true;
        error = "console file " + path + " does not exist";
        return false;
    case FileReadResult::TooLarge:
        error = "console file " + path + " is refused: it is too large to be a console file";
        return false;
    case FileReadResult::Failed:
        error = "console file " + path + " cannot be read: " + reason;
        return false;
    }
    const ConsoleFileParse parse = ParseConsoleFile(bytes, instances, identity);
    if (parse.error != ConsoleFileError::None) {
        error = "console file " + path + " is refused: " + parse.reason + "; it is left as it is";
        return false;
    }
    return true;
}

bool WriteConsoleFile(const std::string& path, const std::vector<ConsoleFileInstance>& instances, std::string& error,
                      const ConsoleFileIdentity& identity)
{
    for (const ConsoleFileInstance& instance : instances) {
        if (instance.stream.size() > kMaxInstanceStream) {
            error = "cannot save " + path + ": the console is too large";
            return false;
        }
    }
    if (instances.size() > kMaxInstances) {
        error = "cannot save " + path + ": too many snap-in instances";
        return false;
    }
    const std::vector<std::uint8_t> bytes = FormatConsoleFile(instances, identity);
    if (bytes.size() > kMaxConsoleFile) {
        error = "cannot save " + path + ": the console is too large";
        return false;
    }
    std::string reason;
    if (!WriteFileAtomically(path, bytes, reason)) {
        error = "cannot save " + path + ": " + reason + "; the previous file is kept";
        return false;
    }
    return true;
}
