// SFTP version 3 packets: the requests the upload sends and the replies it
// reads. A packet is a 32-bit length, a type byte and the body.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scp/scp_mem.h"

enum {
    SSH_FXP_INIT = 1,
    SSH_FXP_VERSION = 2,
    SSH_FXP_OPEN = 3,
    SSH_FXP_CLOSE = 4,
    SSH_FXP_WRITE = 6,
    SSH_FXP_FSETSTAT = 10,
    SSH_FXP_MKDIR = 14,
    SSH_FXP_STAT = 17,
    SSH_FXP_STATUS = 101,
    SSH_FXP_HANDLE = 102,
    SSH_FXP_ATTRS = 105,
};

// Status codes of SSH_FXP_STATUS.
enum : std::uint32_t {
    SSH_FX_OK = 0,
    SSH_FX_NO_SUCH_FILE = 2,
    SSH_FX_PERMISSION_DENIED = 3,
    SSH_FX_NO_CONNECTION = 6,
    SSH_FX_CONNECTION_LOST = 7,
    SSH_FX_OP_UNSUPPORTED = 8,
};
// The protocol version we speak.
constexpr std::uint32_t kScpSftpVersion = 3;
// The permission bits' file-type part of a directory.
constexpr std::uint32_t kScpSftpDirectoryBit = 0x4000;

constexpr std::uint32_t SSH_FILEXFER_ATTR_SIZE = 0x1;
constexpr std::uint32_t SSH_FILEXFER_ATTR_UIDGID = 0x2;
constexpr std::uint32_t SSH_FILEXFER_ATTR_PERMISSIONS = 0x4;
constexpr std::uint32_t SSH_FILEXFER_ATTR_ACMODTIME = 0x8;
constexpr std::uint32_t SSH_FILEXFER_ATTR_EXTENDED = 0x80000000u;

constexpr std::uint32_t SSH_FXF_WRITE_CREAT_TRUNC = 0x1a;
// Replies longer than this are refused before anything is allocated.
constexpr std::uint32_t kScpMaxSftpReply = 1024 * 1024;
constexpr std::uint32_t kScpFirstRequestId = 256;

// Starts a request: length placeholder, type and (except INIT) identifier.
int scp_sftp_begin(ScpBuf* out, std::uint8_t type, std::uint32_t id);
// Fills in the length of the packet begun at offset start.
void scp_sftp_end(ScpBuf* out, std::size_t start);

struct ScpSftpAttrs {
    std::uint32_t flags;
    std::uint64_t size;
    std::uint32_t permissions;
    std::uint32_t atime;
    std::uint32_t mtime;
};

struct ScpSftpReply {
    std::uint8_t type;
    std::uint32_t id;       // VERSION: the version
    std::uint32_t status;   // STATUS
    const std::uint8_t* handle;  // HANDLE (points into the body)
    std::size_t handleLen;
    ScpSftpAttrs attrs;     // ATTRS
};

// Parses one reply body (type byte onwards). 0 or 16.
int scp_sftp_parse_reply(const std::uint8_t* body, std::size_t len, ScpSftpReply* reply);
// The library's code for an SFTP status (0 and 1 give 17 as well).
int scp_sftp_status_code(std::uint32_t status);
