// Version 1 of the encrypted console file, KEPT FOR READING OLD FILES ONLY:
// AES-128 in CFB mode, key and IV derived from the password with MD5 (one
// round, no salt). Every field starts the same keystream, so one known
// field reveals the start of all others: never write new data with it (the
// vault of vault.h does that). The encrypting direction stays for the
// known-answer tests and the benchmark's guess rate. The output has the
// length of the input.
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
