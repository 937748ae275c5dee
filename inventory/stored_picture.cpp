#include "inventory/stored_picture.h"

#include <span>
#include <vector>

#include "platform/text.h"
#include "sshcore/zlib_stream.h"

namespace {

std::span<const std::uint8_t> AsBytes(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// lshw's text is ASCII but for a few names: runs of ASCII are copied unit
// for unit, and only the runs between go through the platform's
// conversion. No ASCII unit is part of a longer sequence in either form
// (nor of a damaged one), so the result is the platform's for the whole.
template <typename To, typename From, typename Convert>
void ConvertByRuns(std::basic_string_view<From> text, std::basic_string<To>& out, Convert convert)
{
    out.clear();
    out.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = at;
        while (end < text.size() && static_cast<std::uint32_t>(text[end]) < 0x80) ++end;
        const std::size_t base = out.size();
        out.resize(base + (end - at));
        for (std::size_t i = at; i < end; ++i) out[base + i - at] = static_cast<To>(text[i]);
        at = end;
        while (end < text.size() && static_cast<std::uint32_t>(text[end]) >= 0x80) ++end;
        if (end > at) out += convert(text.substr(at, end - at));
        at = end;
    }
}

std::string ToUtf8(std::u16string_view text)
{
    std::string out;
    ConvertByRuns(text, out, [](std::u16string_view run) { return WideToAnsi(run); });
    return out;
}

std::u16string FromUtf8(std::string_view text)
{
    std::u16string out;
    ConvertByRuns(text, out, [](std::string_view run) { return AnsiToWide(run); });
    return out;
}

}  // namespace

EPictureError PackPicture(std::u16string_view xml, std::string& packed)
{
    packed.clear();
    if (xml.empty()) return PICTURE_OK;
    return PackPictureUtf8(ToUtf8(xml), packed);
}

EPictureError PackPictureUtf8(std::string_view utf8, std::string& packed)
{
    packed.clear();
    if (utf8.empty()) return PICTURE_OK;
    if (utf8.size() > kMaxPictureBytes) return PICTURE_TOO_LARGE;
    std::vector<std::uint8_t> out;
    const auto length = static_cast<std::uint32_t>(utf8.size());
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
    if (sshcore::DeflateWhole(AsBytes(utf8), out) != sshcore::EZlibStatus::Ok) return PICTURE_FAILED;
    packed.assign(reinterpret_cast<const char*>(out.data()), out.size());
    return PICTURE_OK;
}

EPictureError UnpackPicture(std::string_view packed, std::u16string& xml)
{
    xml.clear();
    std::string utf8;
    const EPictureError unpacking = UnpackPictureUtf8(packed, utf8);
    if (unpacking == PICTURE_OK) xml = FromUtf8(utf8);
    return unpacking;
}

EPictureError UnpackPictureUtf8(std::string_view packed, std::string& text)
{
    text.clear();
    if (packed.empty()) return PICTURE_OK;
    if (packed.size() < 4) return PICTURE_DAMAGED;
    const auto* p = reinterpret_cast<const std::uint8_t*>(packed.data());
    const std::uint32_t length = p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    if (length > kMaxPictureBytes) return PICTURE_TOO_LARGE;
    // An empty text is stored as no bytes, never as a packed empty stream.
    if (length == 0) return PICTURE_DAMAGED;
    std::vector<std::uint8_t> utf8;
    // Room for what the length says only once the packed bytes could make
    // it: zlib makes at most 1,032 bytes of one packed byte.
    if (length / 1032 <= packed.size()) utf8.reserve(length);
    switch (sshcore::InflateWhole(AsBytes(packed.substr(4)), utf8, length)) {
    case sshcore::EZlibStatus::Ok: break;
    case sshcore::EZlibStatus::TooLarge: return PICTURE_DAMAGED;  // longer than its own length says
    case sshcore::EZlibStatus::Failed: return PICTURE_FAILED;
    case sshcore::EZlibStatus::Corrupt: return PICTURE_DAMAGED;
    }
    if (utf8.size() != length) return PICTURE_DAMAGED;
    text.assign(reinterpret_cast<const char*>(utf8.data()), utf8.size());
    return PICTURE_OK;
}

namespace {

// lshw writes this comment into its XML when it runs as another user; a
// value cannot hold it (its "<" would be escaped).
constexpr std::string_view kNotRootMarker = "<!-- WARNING: not running as root -->";
constexpr std::u16string_view kNotRootMarkerWide = u"<!-- WARNING: not running as root -->";

}  // namespace

std::u16string CStoredPicture::Text() const
{
    std::u16string xml;
    UnpackPicture(m_packed, xml);
    return xml;
}

std::string CStoredPicture::Utf8() const
{
    std::string utf8;
    UnpackPictureUtf8(m_packed, utf8);
    return utf8;
}

EPictureError CStoredPicture::SetText(std::u16string_view xml, std::size_t maxPacked)
{
    std::string packed;
    const EPictureError packing = PackPicture(xml, packed);
    if (packing != PICTURE_OK) return packing;
    if (packed.size() > maxPacked) return PICTURE_TOO_LARGE;
    m_packed = std::move(packed);
    m_bWithoutRoot = xml.find(kNotRootMarkerWide) != std::u16string_view::npos;
    return PICTURE_OK;
}

EPictureError CStoredPicture::SetPacked(std::string packed, std::size_t maxPacked)
{
    if (packed.size() > maxPacked) return PICTURE_TOO_LARGE;
    std::string utf8;
    const EPictureError unpacking = UnpackPictureUtf8(packed, utf8);
    if (unpacking != PICTURE_OK) return unpacking;
    m_packed = std::move(packed);
    m_bWithoutRoot = utf8.find(kNotRootMarker) != std::string::npos;
    return PICTURE_OK;
}

void CStoredPicture::Clear()
{
    m_packed.clear();
    m_packed.shrink_to_fit();
    m_bWithoutRoot = false;
}
