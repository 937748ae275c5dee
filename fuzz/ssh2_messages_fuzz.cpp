// Feeds arbitrary payloads to every parser of the messages the client reads.
// The first byte picks the message type put in front of the rest.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ssh2/algorithms.h"
#include "sshcore/ecdh.h"
#include "sshcore/negotiate.h"
#include "ssh2/messages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    static const std::uint8_t kTypes[] = {1, 20, 31, 33, 51, 91, 94, 95, 96, 97, 98};
    std::vector<std::uint8_t> payload(data, data + size);
    payload[0] = kTypes[data[0] % sizeof kTypes];
    const ByteView view(payload);

    sshcore::SKexOffer kexinit;
    bool guessFollows = false;
    sshcore::ParseKexInit(view, kexinit, guessFollows);
    SDhGroup group;
    ParseDhGroup(view, group);
    auto hostKeys = [](ByteView blob, ByteView signature) {
        for (const auto& name : CSshHostKey::Names()) {
            auto key = CSshHostKey::Create(name);
            if (key->SetKey(blob)) {
                key->KeyString();
                key->Fingerprint();
                key->Verify(signature, blob);
            }
        }
    };
    SKexDhReply reply;
    if (ParseKexDhReply(view, reply)) hostKeys(reply.hostKey, reply.signature);
    SKexEcdhReply ecdhReply;
    if (ParseKexEcdhReply(view, ecdhReply)) {
        hostKeys(ecdhReply.hostKey, ecdhReply.signature);
        // The server's public value against both curves.
        static const sshcore::CEcdh x25519(sshcore::ECurve::X25519);
        static const sshcore::CEcdh p256(sshcore::ECurve::P256);
        std::vector<std::uint8_t> secret;
        x25519.Derive(ecdhReply.serverPublic, secret);
        p256.Derive(ecdhReply.serverPublic, secret);
    }
    SUserauthFailure failure;
    ParseUserauthFailure(view, failure);
    SChannelOpenConfirmation confirmation;
    ParseChannelOpenConfirmation(view, confirmation);
    SChannelData channelData;
    ParseChannelData(view, channelData);
    SChannelRequest request;
    ParseChannelRequest(view, request);
    std::uint32_t recipient;
    ParseChannelRecipient(view, recipient);
    SDisconnect disconnect;
    ParseDisconnect(view, disconnect);
    return 0;
}
