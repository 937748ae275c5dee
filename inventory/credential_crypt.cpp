#include "inventory/credential_crypt.h"

#include "platform/text.h"
#include "sshcore/product_crypto.h"

int CryptCredential(std::string_view input, std::string& output, std::string_view password, int encrypt)
{
    WipeString(output);
    if (input.size() > kMaxCredentialBytes) return kCryptTooLong;
    unsigned char buffer[kMaxCredentialBytes];
    const bool ok = sshcore::PasswordCfbCrypt(password, input, encrypt != 0, buffer);
    if (ok) output.assign(reinterpret_cast<const char*>(buffer), input.size());
    SecureZeroMemory(buffer, sizeof buffer);
    return ok ? kCryptOk : kCryptFailed;
}
