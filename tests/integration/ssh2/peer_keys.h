// What the client's and the upload library's peer tests share: keys made by
// ssh-keygen, an ssh-agent of the test's own, the host-key cache as both
// engines keep it, and the current algorithms each negotiated alone. The
// client's sshd tests take the headers below from here.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/peer_required.h"
#include "tests/support/ssh_keys.h"
#include "tests/support/sshd_peer.h"

// "type base64" of a public key line or .pub file's text, without comment.
std::string PublicKeyPart(const std::string& line);
// "SHA256:..." of a public key file, as ssh-keygen -l prints it.
std::string KeygenSha256(const std::string& pubPath);
// Makes a key with ssh-keygen (`args` such as "-t ed25519"); when `folder`
// is given, appends its public half to folder/authorized_keys. Returns its
// fingerprint as sshd logs it, "" when ssh-keygen failed.
std::string NewKey(const std::string& path, const std::string& args, const std::string& passphrase = "",
                   const std::string& folder = "");

// The cache entry a host key must end up as, worked out here from the
// server's public key line alone (not through either engine's key classes).
struct SCacheEntry {
    std::string cacheType;  // "rsa2", "dss", "ssh-ed25519", "ecdsa-sha2-nistp256"
    std::string text;
};
SCacheEntry ExpectedCacheEntry(const std::string& publicLine);
// The cache's text for 127.0.0.1 on `port`, "" when there is none.
std::string StoredHostKey(const std::string& cacheType, int port);

// A bastion's sshd, forwarding or refusing to, at the debug level that logs
// each forwarding it is asked for; whether its log shows one towards `port`.
std::unique_ptr<SshdPeer> NewBastion(bool forwarding = true, bool passwords = true);
bool ForwardedTo(const SshdPeer& bastion, int port);

// Each current algorithm alone: the sshd configuration that leaves only it,
// and the slot of the agreed list it lands in (0 key exchange, 1 host key,
// 2 cipher, 4 MAC, 6 compression; the direction back is the next slot).
struct SAlgorithmAlone {
    std::string name;
    int slot;
    std::vector<std::string> config;
    std::string hostKeyType;
    bool older = false;  // sshd with only an older installation's algorithms
};
std::vector<SAlgorithmAlone> CurrentAlgorithmsAlone();
std::string AlgorithmAloneName(const ::testing::TestParamInfo<SAlgorithmAlone>& info);
