// Reading what a snap-in's data object says about its node, in the console's
// clipboard formats.
#pragma once

#include "console/fleet_model.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/dataobject.h"

// "CCF_DISPLAY_NAME": the node's display name; nothing when the data object
// does not give it.
std::optional<std::u16string> ReadDisplayName(IDataObject* data);

// kSealedStateFormat: whether the snap-in's state is sealed; nothing when
// the data object does not give it (another snap-in, another node).
std::optional<bool> ReadSealedState(IDataObject* data);

// "CCF_NODETYPE": the node's type identifier; nothing when not given.
std::optional<GUID> ReadNodeType(IDataObject* data);

// Where a host node's server is: "FERRODEX_HOST_ENDPOINT", the port (32-bit
// little-endian) then the name or address (UTF-16LE, ended by a zero unit).
struct HostEndpoint {
    std::u16string address;
    int port = 0;
    // The jump hosts after the name's zero unit, written the same way; empty
    // when none, or from a snap-in that does not say.
    std::u16string jump;
};
// Nothing when the node is no host, or the data is malformed.
std::optional<HostEndpoint> ReadHostEndpoint(IDataObject* data);
// The format's bytes as the snap-in wrote them; nothing when they are too
// short or the port is out of range.
std::optional<HostEndpoint> ParseHostEndpoint(std::span<const std::uint8_t> bytes);

// "FERRODEX_HOST_PICTURE": whether a host node holds a picture of its
// hardware, so that expanding it contacts no server; nothing when the node is
// no host or the snap-in does not say.
std::optional<bool> ReadHostHoldsPicture(IDataObject* data);
// The same format in full: the held word, then a word of flags whose bit 0
// says the host scans through sudo; the flags are nothing when an older
// snap-in wrote the held word alone.
// Bits 8 to 15 of the flags: the login method plus one, "password",
// "key-file" or "agent"; nothing when 0 (an older snap-in) or unknown.
struct HostPicture {
    bool held = false;
    std::optional<bool> sudo;
    std::optional<std::string> loginMethod;
    // Whether this session's scan ran lshw with root rights (nothing before
    // a scan), and why not.
    std::optional<bool> root;
    std::u16string rootReason;
};
std::optional<HostPicture> ReadHostPicture(IDataObject* data);
// Nothing when the bytes are shorter than the held word.
std::optional<HostPicture> ParseHostPicture(std::span<const std::uint8_t> bytes);
// What a host scanned in this session gives in "FERRODEX_HOST_SCAN": the
// scan's time (seconds since 1970, 64-bit little-endian), then the login and
// the lshw XML (UTF-16LE, each ended by a zero unit).
struct HostScan {
    std::int64_t when = 0;
    std::u16string login;
    std::u16string xml;
};
// Nothing when the node is no host scanned in this session, or the data is
// malformed (too short, a text without its zero unit, an empty XML).
std::optional<HostScan> ReadHostScan(IDataObject* data);
// A host's identity as "FERRODEX_HOST_ID" gives it (32 hex digits); empty for
// a node that is no host, a host never saved, or bytes that are no identity.
std::string ReadHostId(IDataObject* data);
std::optional<HostScan> ParseHostScan(std::span<const std::uint8_t> bytes);
// What "FERRODEX_HOST_RESULT" tells of a host: when its picture was taken and
// when its last refresh failed after it (seconds since 1970; nothing for
// none), and that failure in a few words.
struct HostResult {
    std::optional<std::int64_t> lastScan;
    std::optional<std::int64_t> failedAt;
    std::u16string failure;
};
// Nothing for a node that is no host, a host never scanned nor refreshed, an
// older snap-in, or malformed bytes (shorter than both times, a failure time
// without its text or the text without its zero unit).
std::optional<HostResult> ReadHostResult(IDataObject* data);
std::optional<HostResult> ParseHostResult(std::span<const std::uint8_t> bytes);
// A host's whole hardware view as "FERRODEX_HOST_TREE" gives it: what
// expanding the host and showing every node would give, in one read.
// Nothing for a host without a picture, or bytes that do not read as such a
// tree (cut, a length past the end, nesting deeper than kMaxHostTreeDepth,
// bytes left over).
constexpr std::size_t kMaxHostTreeDepth = 64;
constexpr std::size_t kMaxHostTreeBytes = 256u << 20;
std::optional<std::vector<FleetNode>> ReadHostTree(IDataObject* data);
std::optional<std::vector<FleetNode>> ParseHostTree(std::span<const std::uint8_t> bytes);
