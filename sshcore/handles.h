// Owners of the OpenSSL handles the primitives use inside their own code:
// each frees its handle with OpenSSL's matching function.
#pragma once

#include <openssl/bn.h>
#include <openssl/dsa.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <memory>

namespace sshcore {

template <auto FreeFunction>
struct FreeWith {
    template <class T>
    void operator()(T* handle) const
    {
        FreeFunction(handle);
    }
};

using PkeyPtr = std::unique_ptr<EVP_PKEY, FreeWith<EVP_PKEY_free>>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, FreeWith<EVP_PKEY_CTX_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, FreeWith<EVP_MD_CTX_free>>;
using CipherPtr = std::unique_ptr<EVP_CIPHER, FreeWith<EVP_CIPHER_free>>;
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, FreeWith<EVP_CIPHER_CTX_free>>;
using MacPtr = std::unique_ptr<EVP_MAC, FreeWith<EVP_MAC_free>>;
using MacCtxPtr = std::unique_ptr<EVP_MAC_CTX, FreeWith<EVP_MAC_CTX_free>>;
using ParamBldPtr = std::unique_ptr<OSSL_PARAM_BLD, FreeWith<OSSL_PARAM_BLD_free>>;
using ParamPtr = std::unique_ptr<OSSL_PARAM, FreeWith<OSSL_PARAM_free>>;
using BnCtxPtr = std::unique_ptr<BN_CTX, FreeWith<BN_CTX_free>>;
using DsaSigPtr = std::unique_ptr<DSA_SIG, FreeWith<DSA_SIG_free>>;
using EcdsaSigPtr = std::unique_ptr<ECDSA_SIG, FreeWith<ECDSA_SIG_free>>;

}  // namespace sshcore
