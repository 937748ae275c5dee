// The jump hosts in front of a host, as the user writes them:
// "[user@]host[:port]", or two of them separated by a comma, the first one
// contacted first. The text comes from the user, the console file or an
// imported file, so it is checked as untrusted input.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct SJumpHop {
    std::string user;  // empty: the host's own login
    std::string host;  // a name, a dotted address or a bracketed IPv6 address
    int port = 22;
};

inline constexpr std::size_t kMaxJumpHops = 2;
inline constexpr std::size_t kMaxJumpRouteBytes = 1024;
inline constexpr std::size_t kMaxJumpNameBytes = 255;

// Parses a route; an empty text (or only blanks) is no jump host at all.
// Blanks around the hops are ignored. False when the text is malformed:
// an empty hop, more than kMaxJumpHops hops, a name with a blank or control
// character, more than one "@", a port that is not 1 to 65535; `hops` is
// then left alone.
bool ParseJumpRoute(std::string_view text, std::vector<SJumpHop>& hops);
// The route as ParseJumpRoute reads it back; the port only when not 22.
std::string FormatJumpRoute(const std::vector<SJumpHop>& hops);
// The route in its written form, or an empty text when it is malformed:
// what the host record keeps.
std::u16string NormalJumpRoute(std::u16string_view text, bool& valid);
