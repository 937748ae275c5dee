// Arbitrary bytes through the terminal filter, as UTF-8 and as UTF-16: the
// result holds nothing a terminal acts on, is valid UTF-8, and passes the
// filter again unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/terminal_text.h"
#include "platform/text.h"

namespace {

void Check(const std::string& shown, ELineFeeds lineFeeds)
{
    const std::u32string points = Utf16ToCodePoints(AnsiToWide(shown));
    for (const char32_t c : points)
        if (IsShownVisibly(c, lineFeeds)) std::abort();
    // Valid UTF-8: decoding and encoding again gives the same bytes.
    if (WideToAnsi(AnsiToWide(shown)) != shown) std::abort();
    if (TerminalText(std::string_view(shown), lineFeeds) != shown) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (ELineFeeds lineFeeds : {ELineFeeds::Shown, ELineFeeds::Kept}) {
        Check(TerminalText(bytes, lineFeeds), lineFeeds);
        std::u16string wide;
        for (std::size_t i = 0; size - i >= 2; i += 2)
            wide.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
        Check(TerminalText(std::u16string_view(wide), lineFeeds), lineFeeds);
    }
    return 0;
}
