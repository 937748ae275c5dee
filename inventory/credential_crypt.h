// Encryption of stored logins and passwords under the main password:
// AES-128 in CFB mode, key and IV derived from the password with MD5 (one
// round, no salt). The output has the length of the input.
#pragma once

#include <string>
#include <string_view>

// Most bytes one encrypted value may hold.
constexpr std::size_t kMaxCredentialBytes = 512;

constexpr int kCryptOk = 0;
constexpr int kCryptTooLong = 1;  // input above kMaxCredentialBytes: nothing is produced
constexpr int kCryptFailed = 2;   // the cipher library refused

// encrypt 1 encrypts, 0 decrypts. `output` receives exactly input.size()
// bytes on success and is emptied otherwise.
int CryptCredential(std::string_view input, std::string& output, std::string_view password, int encrypt);
