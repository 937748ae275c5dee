#include "scan/engine_signature.h"

#include <memory>
#include <vector>

#include "engine_public_key.h"
#include "platform/text.h"
#include "sshcore/product_crypto.h"


bool VerifyEngineSignatureWithKey(std::string_view message, std::string_view signatureHex, std::string_view publicKey)
{
    std::vector<unsigned char> signature;
    if (!ParseHex(signatureHex, signature)) return false;
    return sshcore::VerifyEd25519(publicKey, signature, message);
}

bool VerifyEngineSignature(std::string_view message, std::string_view signatureHex)
{
    return VerifyEngineSignatureWithKey(
        message, signatureHex,
        std::string_view(reinterpret_cast<const char*>(kEnginePublicKey), sizeof kEnginePublicKey));
}
