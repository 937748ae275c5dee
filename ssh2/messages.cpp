#include "ssh2/messages.h"

namespace {

CSshReader After(ByteView payload, std::uint8_t type, bool& ok)
{
    ok = !payload.empty() && payload[0] == type;
    return CSshReader(payload, ok ? 1 : payload.size());
}

}  // namespace

bool ParseDhGroup(ByteView payload, SDhGroup& out)
{
    bool ok;
    CSshReader r = After(payload, 31, ok);
    if (!ok) return false;
    out.p = r.GetMpint(kMaxDhBytes);
    out.g = r.GetMpint(kMaxDhBytes);
    return r.Ok();
}

bool ParseKexDhReply(ByteView payload, SKexDhReply& out)
{
    if (payload.empty() || (payload[0] != 31 && payload[0] != 33)) return false;
    CSshReader r(payload, 1);
    out.hostKey = r.GetString(kMaxBlob);
    out.f = r.GetMpint(kMaxDhBytes);
    out.signature = r.GetString(kMaxBlob);
    return r.Ok();
}

bool ParseKexEcdhReply(ByteView payload, SKexEcdhReply& out)
{
    bool ok;
    CSshReader r = After(payload, 31, ok);
    if (!ok) return false;
    out.hostKey = r.GetString(kMaxBlob);
    out.serverPublic = r.GetString(kMaxEcdhPublic);
    out.signature = r.GetString(kMaxBlob);
    return r.Ok();
}

bool ParseUserauthFailure(ByteView payload, SUserauthFailure& out)
{
    bool ok;
    CSshReader r = After(payload, 51, ok);
    if (!ok) return false;
    out.methods = r.GetText(kMaxNameList);
    out.partialSuccess = r.GetBool();
    return r.Ok();
}

bool ParseChannelOpenConfirmation(ByteView payload, SChannelOpenConfirmation& out)
{
    bool ok;
    CSshReader r = After(payload, 91, ok);
    if (!ok) return false;
    out.recipient = r.GetUint32();
    out.sender = r.GetUint32();
    out.window = r.GetUint32();
    out.maxPacket = r.GetUint32();
    return r.Ok();
}

bool ParseChannelData(ByteView payload, SChannelData& out)
{
    if (payload.empty() || (payload[0] != 94 && payload[0] != 95)) return false;
    CSshReader r(payload, 1);
    out.recipient = r.GetUint32();
    out.dataType = payload[0] == 95 ? r.GetUint32() : 0;
    out.data = r.GetString();
    return r.Ok();
}

bool ParseChannelRequest(ByteView payload, SChannelRequest& out)
{
    bool ok;
    CSshReader r = After(payload, 98, ok);
    if (!ok) return false;
    out.recipient = r.GetUint32();
    out.name = r.GetText(kMaxNameList);
    out.wantReply = r.GetBool();
    out.hasExitStatus = false;
    out.hasExitSignal = false;
    out.exitSignal.clear();
    if (r.Ok() && out.name == "exit-status") {
        out.exitStatus = r.GetUint32();
        out.hasExitStatus = r.Ok();
    } else if (r.Ok() && out.name == "exit-signal") {
        // The name, then core-dumped, message and language, which are not
        // used; a name is all the request must carry.
        out.exitSignal = r.GetText(kMaxSignalName);
        out.hasExitSignal = r.Ok();
    }
    return r.Ok();
}

bool ParseChannelRecipient(ByteView payload, std::uint32_t& recipient)
{
    if (payload.empty()) return false;
    CSshReader r(payload, 1);
    recipient = r.GetUint32();
    return r.Ok();
}

bool ParseDisconnect(ByteView payload, SDisconnect& out)
{
    bool ok;
    CSshReader r = After(payload, 1, ok);
    if (!ok) return false;
    out.reason = r.GetUint32();
    out.description = r.GetText(kMaxNameList);
    return r.Ok();
}
