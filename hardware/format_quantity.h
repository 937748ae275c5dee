// Byte counts, frequencies and other measures as the hardware views show
// them.
#pragma once

#include <string>
#include <string_view>

// Reads `text` as a signed decimal number (leading white space, an optional
// sign, then digits up to the first other character; none give 0) and, when
// it is an exact non-zero multiple of base³, base² or base (tried in that
// order; base 1000 for a frequency, 1024 for a byte count), returns the
// quotient with the unit of that step ("Gb", "Mb", "Kb" or "GHz", "MHz",
// "kHz"). Any other value gives `text` back unchanged.
std::u16string FormatQuantity(std::u16string_view text, bool isFrequency);

// A `size` or `capacity` value with the unit lshw gave it in its `units`
// attribute: "Hz" is formatted as a frequency, "bytes" or no unit as a byte
// count (both by FormatQuantity); any other unit follows the number as
// lshw wrote it ("10000000 bit/s"). An empty value stays empty.
std::u16string FormatMeasure(std::u16string_view text, std::u16string_view units);
