#include "scp/scp_sftp_writer.h"

#include <cstring>

#include "scp/scp.h"
#include "scp/scp_sftp.h"

namespace {

constexpr char kLimitsName[] = "limits@openssh.com";
constexpr std::size_t kLimitsNameLen = sizeof kLimitsName - 1;
// The one-request behaviour keeps the write size it always had.
constexpr std::uint32_t kScpSftpSingleWrite = 4096;
// What a WRITE packet holds besides its data and handle: length, type,
// identifier, handle length, offset, data length.
constexpr std::size_t kWriteOverhead = 4 + 1 + 4 + 4 + 8 + 4;

struct ScpSftpFlight {
    std::uint32_t id;
    std::uint64_t offset;
    std::uint32_t length;
};

// The requests in flight, in the order sent.
struct ScpSftpFlights {
    ScpSftpFlight* items;
    std::uint32_t count;
    std::size_t bytes;
};

int scp_sftp_take_flight(ScpSftpFlights* flights, std::uint32_t id, ScpSftpFlight* out)
{
    for (std::uint32_t i = 0; i < flights->count; ++i) {
        if (flights->items[i].id != id) continue;
        *out = flights->items[i];
        std::memmove(flights->items + i, flights->items + i + 1, (flights->count - i - 1) * sizeof(ScpSftpFlight));
        --flights->count;
        flights->bytes -= out->length;
        return 0;
    }
    return SCP_E_INTERNAL;
}

// Builds and queues one WRITE of up to plan->writeLength bytes read from the
// local file at offset.
int scp_sftp_send_write(const ScpSftpIo* io, ScpBuf* req, const std::uint8_t* handle, std::size_t handleLen,
                        std::uint32_t id, std::uint64_t offset, std::uint32_t length)
{
    req->len = 0;
    int rc = scp_buf_reserve(req, kWriteOverhead + handleLen + length);
    if (!rc) rc = scp_sftp_begin(req, SSH_FXP_WRITE, id);
    if (!rc) rc = scp_buf_put_string(req, handle, handleLen);
    if (!rc) rc = scp_buf_put_u64(req, offset);
    if (!rc) rc = scp_buf_put_u32(req, length);
    if (rc) return rc;
    std::size_t got = 0;
    rc = io->read_file(io->context, req->data + req->len, length, &got);
    if (rc) return rc;
    if (got < length) return SCP_E_READ;
    req->len += length;
    scp_sftp_end(req, 0);
    return io->send(io->context, req->data, req->len);
}

}  // namespace

int scp_sftp_parse_version(const std::uint8_t* body, std::size_t len, ScpSftpVersion* out)
{
    std::memset(out, 0, sizeof *out);
    ScpReader r = scp_reader(body, len);
    std::uint8_t type = 0;
    if (!scp_get_byte(&r, &type) || type != SSH_FXP_VERSION || !scp_get_u32(&r, &out->version)) return SCP_E_RECEIVE;
    // Extension pairs (name, data) fill the rest of the packet.
    while (scp_remaining(&r) > 0) {
        const std::uint8_t* name = nullptr;
        const std::uint8_t* data = nullptr;
        std::size_t nameLen = 0, dataLen = 0;
        if (!scp_get_string(&r, &name, &nameLen, kScpMaxSftpReply) || !scp_get_string(&r, &data, &dataLen, kScpMaxSftpReply))
            return SCP_E_RECEIVE;
        if (nameLen == kLimitsNameLen && std::memcmp(name, kLimitsName, nameLen) == 0) out->offersLimits = true;
    }
    return 0;
}

int scp_sftp_limits_request(ScpBuf* out, std::uint32_t id)
{
    const std::size_t start = out->len;
    int rc = scp_sftp_begin(out, SSH_FXP_EXTENDED, id);
    if (!rc) rc = scp_buf_put_cstring(out, kLimitsName);
    if (!rc) scp_sftp_end(out, start);
    return rc;
}

int scp_sftp_parse_limits(const std::uint8_t* body, std::size_t len, std::uint32_t id, ScpSftpLimits* out)
{
    std::memset(out, 0, sizeof *out);
    ScpReader r = scp_reader(body, len);
    std::uint8_t type = 0;
    std::uint32_t replyId = 0;
    if (!scp_get_byte(&r, &type) || !scp_get_u32(&r, &replyId) || replyId != id) return SCP_E_RECEIVE;
    if (type == SSH_FXP_STATUS) return SCP_E_UNSUPPORTED;
    if (type != SSH_FXP_EXTENDED_REPLY) return SCP_E_RECEIVE;
    ScpSftpLimits limits{};
    if (!scp_get_u64(&r, &limits.maxPacket) || !scp_get_u64(&r, &limits.maxRead) || !scp_get_u64(&r, &limits.maxWrite) ||
        !scp_get_u64(&r, &limits.maxHandles))
        return SCP_E_RECEIVE;
    *out = limits;
    return 0;
}

ScpSftpPlan scp_sftp_plan(std::uint32_t requests, const ScpSftpLimits* limits)
{
    ScpSftpPlan plan{kScpSftpWriteLength, requests == 0 ? kScpSftpRequests : requests};
    if (plan.requests > kScpSftpRequests) plan.requests = kScpSftpRequests;
    if (plan.requests == 1) {
        plan.writeLength = kScpSftpSingleWrite;
        return plan;
    }
    if (!limits) return plan;
    std::uint64_t length = limits->maxWrite ? limits->maxWrite : kScpSftpWriteLength;
    if (length > kScpSftpLargestWrite) length = kScpSftpLargestWrite;
    // The whole packet, handle and all, stays within the server's packet
    // limit (the handle is at most 256 bytes).
    if (limits->maxPacket) {
        const std::uint64_t room = limits->maxPacket > kWriteOverhead + 256 ? limits->maxPacket - kWriteOverhead - 256 : 0;
        if (length > room) length = room;
    }
    // A server that states very small limits still gets writes of a useful size.
    if (length < 1024) length = 1024;
    plan.writeLength = static_cast<std::uint32_t>(length);
    return plan;
}

int scp_sftp_write_file(const ScpSftpIo* io, const ScpSftpPlan* plan, const std::uint8_t* handle,
                        std::size_t handleLen, std::uint64_t size, std::uint32_t* nextId, ScpSftpWriteResult* result)
{
    std::memset(result, 0, sizeof *result);
    if (plan->writeLength == 0 || plan->requests == 0) return SCP_E_INTERNAL;
    ScpSftpFlights flights{};
    flights.items = static_cast<ScpSftpFlight*>(scp_alloc(plan->requests * sizeof(ScpSftpFlight)));
    if (!flights.items) return SCP_E_OUT_OF_MEMORY;
    ScpBuf req{}, body{};
    std::uint64_t offset = 0;
    bool failed = false;
    int rc = 0;
    for (;;) {
        // As many requests as the limits allow, while the channel keeps up:
        // more than a write's worth waiting to go out means the server's
        // window is the limit now. With nothing in flight one request always goes.
        while (!rc && !failed && offset < size && flights.count < plan->requests &&
               flights.bytes < kScpSftpBytesInFlight &&
               (flights.count == 0 || io->queued(io->context) < plan->writeLength)) {
            const std::uint64_t left = size - offset;
            const std::uint32_t length = left < plan->writeLength ? static_cast<std::uint32_t>(left) : plan->writeLength;
            const std::uint32_t id = (*nextId)++;
            rc = scp_sftp_send_write(io, &req, handle, handleLen, id, offset, length);
            if (!rc) {
                flights.items[flights.count++] = ScpSftpFlight{id, offset, length};
                flights.bytes += length;
                offset += length;
            }
        }
        if (rc || flights.count == 0) break;
        if ((rc = io->read(io->context, &body)) != 0) break;
        ScpSftpReply reply{};
        if (scp_sftp_parse_reply(body.data, body.len, &reply) != 0) {
            rc = SCP_E_RECEIVE;
            break;
        }
        ScpSftpFlight done{};
        if ((rc = scp_sftp_take_flight(&flights, reply.id, &done)) != 0) break;
        if (reply.type != SSH_FXP_STATUS || reply.status != 0) {
            // The lowest failing offset is where the remote file stops being whole.
            if (!failed || done.offset < result->failedOffset) {
                result->failedOffset = done.offset;
                result->failedStatus = reply.type == SSH_FXP_STATUS ? reply.status : 0xFFFFFFFFu;
            }
            failed = true;
            continue;
        }
        result->acknowledged += done.length;
        if (io->progress && !failed) io->progress(io->context, result->acknowledged);
    }
    scp_buf_free(&req);
    scp_buf_free(&body);
    scp_free(flights.items);
    if (!rc && failed) rc = SCP_E_WRITE;
    return rc;
}
