// Public-key logins of the upload library's SSH-2 engine: the keys of the
// agent first, then the key file's, each offered with a query (no
// signature) and signed only once the server says it would take it. RSA
// keys sign with rsa-sha2-512 or rsa-sha2-256 when the server lists them in
// server-sig-algs, with ssh-rsa only when it lists neither or refused the
// key under rsa-sha2 (then the same key is asked about once more).
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "scp/scp_job.h"
#include "scp/scp_session.h"
#include "sshcore/agent_client.h"
#include "sshcore/auth_policy.h"
#include "sshcore/key_sign.h"
#include "sshcore/private_key.h"

namespace {

struct ScpKeyChoice {
    std::vector<std::uint8_t> blob;
    std::string type;
    bool fromAgent = false;
};

sshcore::CAgentClient scp_agent(const ScpSession* s)
{
    return s->cfg.useAgent ? sshcore::CAgentClient::FromEnvironment() : sshcore::CAgentClient(std::string());
}

// The passphrase of the key file: its own, or the password as before.
const char* scp_key_passphrase(const ScpSession* s) { return s->cfg.passphrase[0] ? s->cfg.passphrase : s->cfg.password; }

// Loads key file `index` of the list; a file that does not load is said,
// naming it.
bool scp_load_key_file(ScpSession* s, int index, sshcore::CPrivateKey& key)
{
    const std::vector<std::string> files = sshcore::KeyFileList(s->cfg.keyFile);
    if (index < 0 || index >= static_cast<int>(files.size())) return false;
    const sshcore::SKeyFileResult loaded =
        sshcore::LoadPrivateKeyFile(files[static_cast<std::size_t>(index)], scp_key_passphrase(s), key);
    if (loaded.code == sshcore::KF_OK) return true;
    scp_job_error_detail(s->job, loaded.text.c_str());
    return false;
}

// The key at index `at`: the agent's keys in its order, then the key
// files' (each left out when the agent holds the same key, or when it does
// not load). False when there is none at that place; *places: how many
// places there are (the agent's keys and the key files), *agentKeys how
// many of them are the agent's.
bool scp_key_at(ScpSession* s, int at, ScpKeyChoice& choice, int* places, int* agentKeys)
{
    const sshcore::CAgentClient agent = scp_agent(s);
    const std::vector<sshcore::SAgentIdentity> identities = agent.Identities();
    *agentKeys = static_cast<int>(identities.size());
    *places = *agentKeys + static_cast<int>(sshcore::KeyFileList(s->cfg.keyFile).size());
    if (at < *agentKeys) {
        choice = {identities[static_cast<std::size_t>(at)].publicBlob, identities[static_cast<std::size_t>(at)].TypeName(), true};
        return true;
    }
    sshcore::CPrivateKey key;
    if (!scp_load_key_file(s, at - *agentKeys, key)) return false;
    choice = {key.PublicBlob(), key.TypeName(), false};
    for (const sshcore::SAgentIdentity& identity : identities)
        if (identity.publicBlob == choice.blob) return false;
    return true;
}

// The signature algorithm for a key of this type with this server (ssh-rsa
// when this key is asked about again after an rsa-sha2 refusal).
void scp_signature_algorithm(const ScpSession* s, const std::string& type, bool legacyRsa, char* out, std::size_t size)
{
    std::snprintf(out, size, "%s", sshcore::SignatureAlgorithmFor(type, s->serverSigAlgs, legacyRsa).c_str());
}

int scp_put_key_request(ScpSession* s, bool withSignature)
{
    int rc = scp_put_auth_head(s, "publickey");
    if (!rc) rc = scp_buf_put_byte(&s->msg, withSignature ? 1 : 0);
    if (!rc) rc = scp_buf_put_cstring(&s->msg, s->keyAlgorithm);
    if (!rc) rc = scp_buf_put_string(&s->msg, s->keyBlob.data, s->keyBlob.len);
    return rc;
}

}  // namespace

int scp_auth_offer_next_key(ScpSession* s)
{
    while (!s->publicKeyTried) {
        ScpKeyChoice choice;
        int places = 0;
        int agentKeys = 0;
        const int at = s->nextKey++;
        if (!scp_key_at(s, at, choice, &places, &agentKeys)) {
            // The key files come after the agent's keys; the last one ends it.
            if (s->nextKey >= places) s->publicKeyTried = true;
            continue;
        }
        s->keyBlob.len = 0;
        if (const int rc = scp_buf_put(&s->keyBlob, choice.blob.data(), choice.blob.size())) return rc;
        s->keyFromAgent = choice.fromAgent;
        s->keyFileIndex = choice.fromAgent ? -1 : at - agentKeys;
        const bool legacyRsa = s->retryLegacyRsa;
        s->retryLegacyRsa = false;
        scp_signature_algorithm(s, choice.type, legacyRsa, s->keyAlgorithm, sizeof s->keyAlgorithm);
        if (!legacyRsa) ++s->keysOffered;
        int rc = scp_put_key_request(s, false);
        if (!rc) rc = scp_send_msg(s);
        s->authWait = AUTH_WAIT_PK_QUERY;
        return rc;
    }
    return kScpNoKeyLeft;
}

int scp_auth_send_signed(ScpSession* s)
{
    int rc = scp_put_key_request(s, true);
    ScpBuf signedData{};
    if (!rc) {
        if ((s->quirks >> SCP_QUIRK_PK_SESSION_ID) & 1) rc = scp_buf_put(&signedData, s->sessionId, s->sessionIdLen);
        else rc = scp_buf_put_string(&signedData, s->sessionId, s->sessionIdLen);
    }
    if (!rc) rc = scp_buf_put(&signedData, s->msg.data, s->msg.len);
    if (rc) {
        scp_buf_free(&signedData);
        return rc;
    }
    const std::span<const std::uint8_t> data(signedData.data, signedData.len);
    const std::span<const std::uint8_t> blob(s->keyBlob.data, s->keyBlob.len);
    std::vector<std::uint8_t> signature;
    if (s->keyFromAgent) {
        signature = scp_agent(s).Sign(blob, data, sshcore::AgentSignFlags(s->keyAlgorithm));
    } else {
        sshcore::CPrivateKey key;
        if (scp_load_key_file(s, s->keyFileIndex, key)) {
            const std::vector<std::uint8_t> loaded = key.PublicBlob();
            // The file changed since the query: its key is not the one offered.
            if (loaded.size() == blob.size() &&
                std::memcmp(loaded.data(), blob.data(), blob.size()) == 0)
                signature = sshcore::SignSsh(key, s->keyAlgorithm, data);
        }
    }
    scp_buf_free(&signedData);
    if (signature.empty()) return scp_auth_offer_next_key(s);  // this key cannot sign: the next one
    rc = scp_buf_put_string(&s->msg, signature.data(), signature.size());
    if (!rc) rc = scp_send_msg(s);
    s->authWait = AUTH_WAIT_PK_SIGNED;
    return rc;
}
