// Writing one remote file over SFTP with many WRITE requests in flight, and
// what the server's VERSION packet and limits reply allow for that.
//
// The writer does not know the session: it sends and reads SFTP packets and
// reads the local file through the calls of a ScpSftpIo record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scp/scp_mem.h"

constexpr std::uint8_t SSH_FXP_EXTENDED = 200;
constexpr std::uint8_t SSH_FXP_EXTENDED_REPLY = 201;

// Writes carry this much data unless the server says otherwise: every
// server takes SFTP packets of this size.
constexpr std::uint32_t kScpSftpWriteLength = 32768;
// Larger writes are not asked for even when a server would take them.
constexpr std::uint32_t kScpSftpLargestWrite = 256 * 1024;
// Requests in flight at most, and the bytes they may carry together.
constexpr std::uint32_t kScpSftpRequests = 64;
constexpr std::size_t kScpSftpBytesInFlight = 4 * 1024 * 1024;

// What the server's VERSION packet says.
struct ScpSftpVersion {
    std::uint32_t version;
    bool offersLimits;  // the limits@openssh.com extension is listed
};

// What a limits@openssh.com reply says; 0 means no limit given.
struct ScpSftpLimits {
    std::uint64_t maxPacket;
    std::uint64_t maxRead;
    std::uint64_t maxWrite;
    std::uint64_t maxHandles;
};

// Parses a VERSION body (type byte onwards). 0 or SCP_E_RECEIVE.
int scp_sftp_parse_version(const std::uint8_t* body, std::size_t len, ScpSftpVersion* out);
// Appends the limits@openssh.com request with identifier id to out.
int scp_sftp_limits_request(ScpBuf* out, std::uint32_t id);
// Parses the reply to it (type byte onwards): 0, SCP_E_RECEIVE for a
// damaged packet, SCP_E_UNSUPPORTED for a STATUS (the server refused).
int scp_sftp_parse_limits(const std::uint8_t* body, std::size_t len, std::uint32_t id, ScpSftpLimits* out);

// How the writes of a file are cut and how many may be in flight.
struct ScpSftpPlan {
    std::uint32_t writeLength;
    std::uint32_t requests;
};

// The plan for a server: requests is the job's setting (0: the default),
// limits what the server said (nullptr: nothing). One request in flight
// keeps to the old behaviour (4096-byte writes, each answered before the
// next).
ScpSftpPlan scp_sftp_plan(std::uint32_t requests, const ScpSftpLimits* limits);

struct ScpSftpIo {
    void* context;
    // Queues one whole request packet for the server.
    int (*send)(void* context, const std::uint8_t* data, std::size_t len);
    // Bytes queued that the channel has not sent yet.
    std::size_t (*queued)(void* context);
    // Waits for the next packet and puts its body (type byte onwards) in
    // body: 0 or a code.
    int (*read)(void* context, ScpBuf* body);
    // Reads up to want bytes of the local file; *got < want only at its end.
    int (*read_file)(void* context, std::uint8_t* buffer, std::size_t want, std::size_t* got);
    // Bytes acknowledged so far, after each reply (may be nullptr).
    void (*progress)(void* context, std::uint64_t done);
};

struct ScpSftpWriteResult {
    std::uint64_t acknowledged;  // bytes the server confirmed
    // When a write failed: the offset where the first failing write began
    // (everything before it is confirmed) and the server's status.
    std::uint64_t failedOffset;
    std::uint32_t failedStatus;
};

// Writes size bytes to the open remote file handle, with identifiers from
// *nextId on. The first error stops new requests; the replies to those in
// flight are still read, so the session stays usable for CLOSE. Returns 0,
// SCP_E_WRITE for a refused write (details in *result), SCP_E_READ when the
// local file ends early, SCP_E_INTERNAL for a reply to no request in flight,
// or the code of the session.
int scp_sftp_write_file(const ScpSftpIo* io, const ScpSftpPlan* plan, const std::uint8_t* handle,
                        std::size_t handleLen, std::uint64_t size, std::uint32_t* nextId, ScpSftpWriteResult* result);
