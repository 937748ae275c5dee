#include "scan/jump_route.h"

#include "platform/text.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// A login name: any byte but blanks, control characters, "@", "," and ":".
bool ValidUser(std::string_view user)
{
    if (user.empty() || user.size() > kMaxJumpNameBytes) return false;
    for (const char c : user) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 32 || byte == 127 || c == '@' || c == ',' || c == ':') return false;
    }
    return true;
}

bool ValidName(std::string_view host)
{
    if (host.empty() || host.size() > kMaxJumpNameBytes || host.front() == '-') return false;
    for (const char c : host) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                        c == '-' || c == '_';
        if (!ok) return false;
    }
    return true;
}

bool ValidIpv6(std::string_view address)
{
    if (address.empty() || address.size() > 45) return false;
    for (const char c : address) {
        const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' ||
                        c == '.';
        if (!ok) return false;
    }
    return address.find(':') != std::string_view::npos;
}

bool ParsePort(std::string_view text, int& port)
{
    if (text.empty() || text.size() > 5) return false;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535) return false;
    port = value;
    return true;
}

bool ParseHop(std::string_view text, SJumpHop& hop)
{
    text = Trimmed(text);
    const std::size_t at = text.find('@');
    if (at != std::string_view::npos) {
        if (text.find('@', at + 1) != std::string_view::npos) return false;
        hop.user = std::string(text.substr(0, at));
        if (!ValidUser(hop.user)) return false;
        text.remove_prefix(at + 1);
    }
    std::string_view port;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos) return false;
        const std::string_view address = text.substr(1, close - 1);
        if (!ValidIpv6(address)) return false;
        hop.host = std::string(address);
        text.remove_prefix(close + 1);
        if (!text.empty()) {
            if (text.front() != ':') return false;
            port = text.substr(1);
            if (port.empty()) return false;
        }
    } else {
        const std::size_t colon = text.find(':');
        hop.host = std::string(text.substr(0, colon));
        if (!ValidName(hop.host)) return false;
        if (colon != std::string_view::npos) {
            port = text.substr(colon + 1);
            if (port.empty()) return false;
        }
    }
    hop.port = 22;
    return port.empty() || ParsePort(port, hop.port);
}

}  // namespace

bool ParseJumpRoute(std::string_view text, std::vector<SJumpHop>& hops)
{
    if (text.size() > kMaxJumpRouteBytes) return false;
    text = Trimmed(text);
    std::vector<SJumpHop> parsed;
    if (!text.empty()) {
        std::size_t start = 0;
        for (;;) {
            const std::size_t comma = text.find(',', start);
            if (parsed.size() == kMaxJumpHops) return false;
            SJumpHop hop;
            if (!ParseHop(text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start),
                          hop))
                return false;
            parsed.push_back(std::move(hop));
            if (comma == std::string_view::npos) break;
            start = comma + 1;
        }
    }
    hops = std::move(parsed);
    return true;
}

std::string FormatJumpRoute(const std::vector<SJumpHop>& hops)
{
    std::string text;
    for (const SJumpHop& hop : hops) {
        if (!text.empty()) text += ',';
        if (!hop.user.empty()) text += hop.user + '@';
        text += hop.host.find(':') != std::string::npos ? '[' + hop.host + ']' : hop.host;
        if (hop.port != 22) text += ':' + std::to_string(hop.port);
    }
    return text;
}

std::u16string NormalJumpRoute(std::u16string_view text, bool& valid)
{
    std::vector<SJumpHop> hops;
    valid = ParseJumpRoute(WideToAnsi(text), hops);
    return valid ? AnsiToWide(FormatJumpRoute(hops)) : std::u16string();
}
