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
// Unpacks a stored picture, never holding more than its length field says
// nor more than kMaxPictureBytes of text; `xml` is empty on failure.
EPictureError UnpackPicture(std::string_view packed, std::u16string& xml);
