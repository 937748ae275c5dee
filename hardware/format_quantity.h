// Byte counts and clock frequencies as the hardware views show them.
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
