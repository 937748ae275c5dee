// Random identities of things kept in files (a console file, a host): 128
// bits from the kernel's random source, as 32 lowercase hex digits.
#pragma once

#include <string>
#include <string_view>

std::string NewRandomId();
// 32 lowercase hex digits, as NewRandomId makes them.
bool IsRandomId(std::string_view text);
