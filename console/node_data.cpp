#include "console/node_data.h"

#include "platform/random_id.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/snapin_contract.h"

namespace {

// Longest display name read back, in UTF-16 code units.
constexpr std::size_t kMaxDisplayName = 4096;

struct GlobalFreer {
    void operator()(GlobalBlock* block) const { GlobalFree(block); }
};
using GlobalPtr = std::unique_ptr<GlobalBlock, GlobalFreer>;

// Unlocks a global block when it goes out of scope.
class GlobalLockGuard {
public:
    explicit GlobalLockGuard(HGLOBAL block) : m_block(block), m_data(GlobalLock(block)) {}
    ~GlobalLockGuard()
    {
        if (m_data != nullptr) GlobalUnlock(m_block);
    }
    GlobalLockGuard(const GlobalLockGuard&) = delete;
    GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;
    const void* data() const { return m_data; }

private:
    HGLOBAL m_block;
    void* m_data;
};

// Asks the data object for one format into a fresh global block; null when
// it does not give it.
GlobalPtr GetFormat(IDataObject* data, const char16_t* formatName)
{
    if (data == nullptr) return nullptr;
    const CLIPFORMAT format = static_cast<CLIPFORMAT>(RegisterClipboardFormat(formatName));
    GlobalPtr block(GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, 0));
    if (!block) return nullptr;
    FORMATETC request{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{TYMED_HGLOBAL, block.get(), nullptr};
    if (FAILED(data->GetDataHere(&request, &medium))) return nullptr;
    return block;
}

// UTF-16LE text up to its zero unit or the end of the bytes, at most
// kMaxDisplayName units. The bytes need not be aligned for char16_t.
std::u16string TextFrom(const unsigned char* bytes, std::size_t size)
{
    const std::size_t units = std::min(size / sizeof(char16_t), kMaxDisplayName);
    std::u16string text;
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t unit = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        if (unit == u'\0') break;
        text.push_back(unit);
    }
    return text;
}

// Longest scan XML read back, in UTF-16 code units (as the scan's own cap).
constexpr std::size_t kMaxScanXml = 64u << 20;

// UTF-16LE text from `offset` to its zero unit, at most `maxUnits` units;
// `offset` moves past the zero unit. False when there is none in reach.
bool TerminatedText(std::span<const std::uint8_t> bytes, std::size_t& offset, std::size_t maxUnits,
                    std::u16string& text)
{
    text.clear();
    while (bytes.size() - offset >= 2) {
        const char16_t unit = static_cast<char16_t>(bytes[offset] | (bytes[offset + 1] << 8));
        offset += 2;
        if (unit == u'\0') return true;
        if (text.size() == maxUnits) return false;
        text.push_back(unit);
    }
    return false;
}

}  // namespace

std::string ReadHostId(IDataObject* data)
{
    GlobalPtr block = GetFormat(data, u"FERRODEX_HOST_ID");
    if (!block) return {};
    const std::size_t size = GlobalSize(block.get());
    if (size < 32) return {};
    GlobalLockGuard lock(block.get());
    if (lock.data() == nullptr) return {};
    std::string id(static_cast<const char*>(lock.data()), 32);
    return IsRandomId(id) ? id : std::string();
}

std::optional<HostScan> ReadHostScan(IDataObject* data)
{
    GlobalPtr block = GetFormat(data, u"FERRODEX_HOST_SCAN");
    if (!block) return std::nullopt;
    const std::size_t size = GlobalSize(block.get());
    if (size == 0) return std::nullopt;
    GlobalLockGuard lock(block.get());
    if (lock.data() == nullptr) return std::nullopt;
    return ParseHostScan(std::span(static_cast<const std::uint8_t*>(lock.data()), size));
}

std::optional<HostScan> ParseHostScan(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < 8) return std::nullopt;
    std::uint64_t seconds = 0;
    for (int i = 7; i >= 0; --i) seconds = seconds << 8 | bytes[static_cast<std::size_t>(i)];
    HostScan scan;
    scan.when = static_cast<std::int64_t>(seconds);
    std::size_t offset = 8;
    if (!TerminatedText(bytes, offset, kMaxDisplayName, scan.login)) return std::nullopt;
    if (!TerminatedText(bytes, offset, kMaxScanXml, scan.xml) || scan.xml.empty()) return std::nullopt;
    return scan;
}

std::optional<HostResult> ReadHostResult(IDataObject* data)
{
    GlobalPtr block = GetFormat(data, u"FERRODEX_HOST_RESULT");
    if (!block) return std::nullopt;
    const std::size_t size = GlobalSize(block.get());
    if (size == 0) return std::nullopt;
    GlobalLockGuard lock(block.get());
    if (lock.data() == nullptr) return std::nullopt;
    return ParseHostResult(std::span(static_cast<const std::uint8_t*>(lock.data()), size));
}

std::optional<HostResult> ParseHostResult(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < 16) return std::nullopt;
    const auto time = [&bytes](std::size_t at) -> std::optional<std::int64_t> {
        std::uint64_t seconds = 0;
        for (std::size_t i = 8; i-- > 0;) seconds = seconds << 8 | bytes[at + i];
        if (seconds == 0 || seconds > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
        return static_cast<std::int64_t>(seconds);
    };
    HostResult result{time(0), time(8), {}};
    std::size_t offset = 16;
    if (!TerminatedText(bytes, offset, kMaxDisplayName, result.failure)) return std::nullopt;
    if (result.failedAt.has_value() == result.failure.empty()) return std::nullopt;
    return result;
}

namespace {

class CTreeReader {
public:
    explicit CTreeReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    bool Nodes(std::vector<FleetNode>& nodes, std::size_t depth)
    {
        std::uint32_t count = 0;
        // Every node takes at least its four numbers.
        if (depth > kMaxHostTreeDepth || !Number(count) || count > Left() / 16) return false;
        nodes.resize(count);
        for (FleetNode& node : nodes) {
            std::uint32_t rows = 0;
            if (!Text(node.name) || !Text(node.hwClass) || !Number(rows) || rows > Left() / 8) return false;
            node.rows.resize(rows);
            for (FleetRow& row : node.rows)
                if (!Text(row.first) || !Text(row.second)) return false;
            if (!Nodes(node.children, depth + 1)) return false;
        }
        return true;
    }

    bool AtEnd() const { return m_offset == m_bytes.size(); }

private:
    std::size_t Left() const { return m_bytes.size() - m_offset; }

    bool Number(std::uint32_t& value)
    {
        if (Left() < 4) return false;
        value = 0;
        for (int i = 3; i >= 0; --i) value = value << 8 | m_bytes[m_offset + static_cast<std::size_t>(i)];
        m_offset += 4;
        return true;
    }

    bool Text(std::u16string& text)
    {
        std::uint32_t units = 0;
        if (!Number(units) || units > Left() / 2) return false;
        text.resize(units);
        for (std::size_t i = 0; i < units; ++i)
            text[i] = static_cast<char16_t>(m_bytes[m_offset + 2 * i] | m_bytes[m_offset + 2 * i + 1] << 8);
        m_offset += 2 * std::size_t{units};
        return true;
    }

    std::span<const std::uint8_t> m_bytes;
    std::size_t m_offset = 0;
};

}  // namespace

std::optional<std::vector<FleetNode>> ReadHostTree(IDataObject* data)
{
    GlobalPtr block = GetFormat(data, u"FERRODEX_HOST_TREE");
    if (!block) return std::nullopt;
    const std::size_t size = GlobalSize(block.get());
    if (size == 0 || size > kMaxHostTreeBytes) return std::nullopt;
    GlobalLockGuard lock(block.get());
    if (lock.data() == nullptr) return std::nullopt;
    return ParseHostTree(std::span(static_cast<const std::uint8_t*>(lock.data()), size));
}

std::optional<std::vector<FleetNode>> ParseHostTree(std::span<const std::uint8_t> bytes)
{
    CTreeReader reader(bytes);
    std::vector<FleetNode> nodes;
    if (!reader.Nodes(nodes, 0) || !reader.AtEnd()) return std::nullopt;
    return nodes;
}

std::optional<std::u16string> ReadDisplayName(IDataObject* data)
{
    GlobalPtr block = GetFormat(data, u"CCF_DISPLAY_NAME");
    if (!block) return std::nullopt;
    const std::size_t size = GlobalSize(block.get());
    if (size == 0) return std::u16string();
    GlobalLockGuard lock(block.get());
    if (lock.data() == nullptr) return std::nullopt;
    return TextFrom(static_cast<const unsigned char*>(lock.data()), size);
}

std::optional<bool> ReadSealedState(IDataObject* data)
{
    GlobalPtr block = GetFormat(data, kSealedStateFormat);
    if (!block || GlobalSize(block.get()) != 1) return std::nullopt;
    GlobalLockGuard lock(block.get());
    if (lock.data() == nullptr) return std::nullopt;
    return *static_cast<const std::uint8_t*>(lock.data()) == 1;
}

std::optional<HostEndpoint> ReadHostEndpoint(IDataObject* data)
{
    GlobalPtr block = GetFormat(data, u"FERRODEX_HOST_ENDPOINT");
    if (!block) return std::nullopt;
    const std::size_t size = GlobalSize(block.get());
    if (size == 0) return std::nullopt;
    GlobalLockGuard lock(block.get());
    if (lock.data() == nullptr) return std::nullopt;
    return ParseHostEndpoint(std::span(static_cast<const std::uint8_t*>(lock.data()), size));
}

std::optional<HostEndpoint> ParseHostEndpoint(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < 4) return std::nullopt;
    const std::uint32_t port = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
                               static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    if (port > 65535) return std::nullopt;
    HostEndpoint endpoint;
    endpoint.port = static_cast<int>(port);
    endpoint.address = TextFrom(bytes.data() + 4, bytes.size() - 4);
    const std::size_t after = 4 + (endpoint.address.size() + 1) * sizeof(char16_t);
    if (endpoint.address.size() < kMaxDisplayName && after < bytes.size())
        endpoint.jump = TextFrom(bytes.data() + after, bytes.size() - after);
    return endpoint;
}

std::optional<GUID> ReadNodeType(IDataObject* data)
{
    GlobalPtr block = GetFormat(data, u"CCF_NODETYPE");
    if (!block || GlobalSize(block.get()) < sizeof(GUID)) return std::nullopt;
    GlobalLockGuard lock(block.get());
    if (lock.data() == nullptr) return std::nullopt;
    GUID type{};
    std::memcpy(&type, lock.data(), sizeof type);
    return type;
}

std::optional<HostPicture> ParseHostPicture(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < 4) return std::nullopt;
    HostPicture picture;
    picture.held = (bytes[0] | bytes[1] | bytes[2] | bytes[3]) != 0;
    if (bytes.size() >= 8) {
        picture.sudo = (bytes[4] & 1) != 0;
        static constexpr const char* kMethods[] = {"password", "key-file", "agent"};
        if (bytes[5] >= 1 && bytes[5] <= std::size(kMethods)) picture.loginMethod = kMethods[bytes[5] - 1];
        if (bytes[6] == 1 || bytes[6] == 2) picture.root = bytes[6] == 1;
        if (bytes[6] == 2 && bytes.size() > 8) picture.rootReason = TextFrom(bytes.data() + 8, bytes.size() - 8);
    }
    return picture;
}

std::optional<HostPicture> ReadHostPicture(IDataObject* data)
{
    GlobalPtr block = GetFormat(data, u"FERRODEX_HOST_PICTURE");
    if (!block) return std::nullopt;
    GlobalLockGuard lock(block.get());
    if (lock.data() == nullptr) return std::nullopt;
    const std::size_t size = std::min<std::size_t>(GlobalSize(block.get()), 8 + kMaxDisplayName * sizeof(char16_t));
    return ParseHostPicture(std::span(static_cast<const std::uint8_t*>(lock.data()), size));
}

std::optional<bool> ReadHostHoldsPicture(IDataObject* data)
{
    const std::optional<HostPicture> picture = ReadHostPicture(data);
    if (!picture) return std::nullopt;
    return picture->held;
}
