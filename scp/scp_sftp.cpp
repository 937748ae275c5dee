#include "scp/scp_sftp.h"

#include <cstring>

#include "scp/scp.h"

int scp_sftp_begin(ScpBuf* out, std::uint8_t type, std::uint32_t id)
{
    int rc = scp_buf_put_u32(out, 0);
    if (!rc) rc = scp_buf_put_byte(out, type);
    if (!rc && type != SSH_FXP_INIT) rc = scp_buf_put_u32(out, id);
    return rc;
}

void scp_sftp_end(ScpBuf* out, std::size_t start)
{
    scp_store_u32(out->data + start, static_cast<std::uint32_t>(out->len - start - 4));
}

namespace {
bool scp_sftp_get_attrs(ScpReader* r, ScpSftpAttrs* a)
{
    std::memset(a, 0, sizeof *a);
    if (!scp_get_u32(r, &a->flags)) return false;
    if ((a->flags & SSH_FILEXFER_ATTR_SIZE) && !scp_get_u64(r, &a->size)) return false;
    std::uint32_t ignored = 0;
    if ((a->flags & SSH_FILEXFER_ATTR_UIDGID) && (!scp_get_u32(r, &ignored) || !scp_get_u32(r, &ignored))) return false;
    if ((a->flags & SSH_FILEXFER_ATTR_PERMISSIONS) && !scp_get_u32(r, &a->permissions)) return false;
    if ((a->flags & SSH_FILEXFER_ATTR_ACMODTIME) && (!scp_get_u32(r, &a->atime) || !scp_get_u32(r, &a->mtime)))
        return false;
    if (a->flags & SSH_FILEXFER_ATTR_EXTENDED) {
        std::uint32_t count = 0;
        if (!scp_get_u32(r, &count)) return false;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint8_t* p = nullptr;
            std::size_t n = 0;
            if (!scp_get_string(r, &p, &n, kScpMaxSftpReply) || !scp_get_string(r, &p, &n, kScpMaxSftpReply))
                return false;
        }
    }
    return true;
}
}  // namespace

int scp_sftp_parse_reply(const std::uint8_t* body, std::size_t len, ScpSftpReply* reply)
{
    std::memset(reply, 0, sizeof *reply);
    ScpReader r = scp_reader(body, len);
    if (!scp_get_byte(&r, &reply->type) || !scp_get_u32(&r, &reply->id)) return SCP_E_RECEIVE;
    switch (reply->type) {
    case SSH_FXP_VERSION: return SCP_OK;  // extensions are ignored
    case SSH_FXP_STATUS:
        // The message and language tag are optional in version 3.
        return scp_get_u32(&r, &reply->status) ? SCP_OK : SCP_E_RECEIVE;
    case SSH_FXP_HANDLE:
        return scp_get_string(&r, &reply->handle, &reply->handleLen, 256) ? SCP_OK : SCP_E_RECEIVE;
    case SSH_FXP_ATTRS: return scp_sftp_get_attrs(&r, &reply->attrs) ? SCP_OK : SCP_E_RECEIVE;
    default: return SCP_OK;  // other types are judged by the caller
    }
}

int scp_sftp_status_code(std::uint32_t status)
{
    switch (status) {
    case SSH_FX_NO_SUCH_FILE: return SCP_E_NO_SUCH_FILE;
    case SSH_FX_PERMISSION_DENIED: return SCP_E_PERMISSION_DENIED;
    case SSH_FX_NO_CONNECTION:
    case SSH_FX_CONNECTION_LOST: return SCP_E_NETWORK;
    case SSH_FX_OP_UNSUPPORTED: return SCP_E_UNSUPPORTED;
    default: return SCP_E_INTERNAL;
    }
}
