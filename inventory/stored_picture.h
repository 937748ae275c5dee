// A host's hardware picture (its last lshw XML) as the console file keeps
// it: the text in UTF-8, packed with zlib behind its unpacked length.
//
//   length   u32   bytes of the UTF-8 text (at most kMaxPictureBytes)
//   packed         one complete zlib stream of exactly those bytes
//
// No picture packs to no bytes at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "scan/scan_limits.h"

// Most UTF-8 bytes of a stored picture: the most a scan may fetch.
constexpr std::size_t kMaxPictureBytes = SScanLimits::kMaxOutputMiB << 20;
// Most packed bytes a reader takes for one picture: the length field, and
// zlib's worst case for a text that does not compress at all.
constexpr std::size_t kMaxPackedReadBytes = 4 + kMaxPictureBytes + kMaxPictureBytes / 1000 + 64;
// Most packed bytes a new picture may take in the console file: a host
// whose scan packs to more is refused (its previous picture stays), so that
// one host cannot crowd the rest of the inventory out of the file. See
// docs/console-file.md for how this fits the console file's own limit.
constexpr std::size_t kMaxNewPictureBytes = 8u << 20;

enum EPictureError {
    PICTURE_OK = 0,
    PICTURE_DAMAGED,    // not a packed picture: cut, altered, or bytes after its end
    PICTURE_TOO_LARGE,  // unpacks (or would unpack) to more than kMaxPictureBytes
    PICTURE_FAILED,     // the compression library refused
};

// Packs `xml`; `packed` is empty for an empty text.
EPictureError PackPicture(std::u16string_view xml, std::string& packed);
// Packs a UTF-8 text as it came from a host (a fleet worker packs before it
// answers, so that its parent only ever holds packed pictures).
EPictureError PackPictureUtf8(std::string_view utf8, std::string& packed);
// Unpacks a stored picture, never holding more than its length field says
// nor more than kMaxPictureBytes of text; `xml` is empty on failure.
EPictureError UnpackPicture(std::string_view packed, std::u16string& xml);
EPictureError UnpackPictureUtf8(std::string_view packed, std::string& utf8);

// A host's picture as it is held between its scans: packed, as the console
// file stores it, so that a fleet of thousands of hosts costs what its file
// does. The text is unpacked only when a view or a search asks for it.
class CStoredPicture {
public:
    bool Empty() const { return m_packed.empty(); }
    const std::string& Packed() const { return m_packed; }
    // The text; empty for no picture.
    std::u16string Text() const;
    std::string Utf8() const;
    // Packs `xml` in place of the picture held; on failure the held one
    // stays. PICTURE_TOO_LARGE also when it packs to more than `maxPacked`.
    EPictureError SetText(std::u16string_view xml, std::size_t maxPacked = kMaxPackedReadBytes);
    // Takes bytes that are said to be a packed picture (read from a file or
    // a worker), once they unpack whole; on failure the held one stays.
    EPictureError SetPacked(std::string packed, std::size_t maxPacked = kMaxPackedReadBytes);
    void Clear();
    // lshw marked the text as a run without root rights.
    bool WithoutRoot() const { return m_bWithoutRoot; }

private:
    std::string m_packed;
    bool m_bWithoutRoot = false;
};
