// The engine package's signature: Ed25519 over the SHA-1 hex digest text of
// the archive, kept as hexadecimal text. The verification key is built into
// the module.
#pragma once

#include <string>
#include <string_view>

// True when `signatureHex` is a valid signature of `message` under the
// built-in key (or under `publicKey`, 32 raw bytes, when given).
bool VerifyEngineSignature(std::string_view message, std::string_view signatureHex);
bool VerifyEngineSignatureWithKey(std::string_view message, std::string_view signatureHex, std::string_view publicKey);
