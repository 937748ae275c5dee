#include "inventory/persistence.h"

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "inventory/credential_crypt.h"
#include "inventory/dialogs.h"
#include "inventory/group_node.h"
#include "inventory/host_node.h"
#include "platform/random_id.h"
#include "scan/jump_route.h"
#include "inventory/module_state.h"
#include "inventory/root_node.h"
#include "inventory/stored_picture.h"
#include "inventory/stream_io.h"
#include "inventory/value_checks.h"
#include "inventory/vault.h"
#include "platform/process_guard.h"
#include "platform/resources.h"
#include "platform/ui.h"
#include "res/resource_ids.h"

namespace {

// Host record forms: plain, version 1's encrypted fields (read only) and
// version 2's sealed record.
constexpr std::uint32_t kPlainForm = 0;
constexpr std::uint32_t kLegacyEncryptedForm = 1;
constexpr std::uint32_t kSealedForm = 2;
// The plain and sealed forms followed by the host's settings: written only
// for a host with a setting other than its default, so that a file without
// such hosts stays byte for byte what older releases wrote.
constexpr std::uint32_t kPlainSettingsForm = 3;
constexpr std::uint32_t kSealedSettingsForm = 4;
// Settings: a count, then tag and value (a byte text) each. Unknown tags
// are skipped on reading.
constexpr std::uint32_t kSettingSudo = 1;
// How the host logs in: the login in the plain form (the sealed form keeps
// it among the credentials), the key file's path, the agent check, and the
// key file's passphrase in the sealed form only.
constexpr std::uint32_t kSettingLogin = 2;
constexpr std::uint32_t kSettingKeyFile = 3;
constexpr std::uint32_t kSettingAgent = 4;
constexpr std::uint32_t kSettingPassphrase = 5;
constexpr std::uint32_t kSettingJump = 8;
// The host's name, written only when it is not its address (a host without
// it is named by its address, as every host of older files is).
constexpr std::uint32_t kSettingName = 9;
// The host's identity, which the scan history keys its scans by.
constexpr std::uint32_t kSettingId = 16;
// When the picture the host holds was taken (seconds since 1970, decimal),
// and the last refresh that failed after it: its time, a space, and what
// went wrong.
constexpr std::uint32_t kSettingScanTime = 17;
constexpr std::uint32_t kSettingLastFailure = 18;
constexpr std::uint32_t kMaxSettings = 32;
constexpr std::size_t kMaxSettingBytes = 1024;
constexpr std::uint32_t kMaxSettingsBlock = kMaxSettings * (8 + kMaxSettingBytes) + 4;
// The plain versions: 1 with each XML as UTF-16 text (read only), 4 with it
// packed. The vault versions: 2 without the hosts' XML and 3 with it as
// UTF-16 bytes, 5 with it packed (all three read only), 6 as 5 with the
// header's digest after it and the header in every record's associated
// data.
constexpr std::uint32_t kPlainVersionWide = 1;
constexpr std::uint32_t kPlainVersion = 4;
constexpr std::uint32_t kVaultVersionNoXml = 2;
constexpr std::uint32_t kVaultVersionWide = 3;
constexpr std::uint32_t kVaultVersionUnbound = 5;
constexpr std::uint32_t kVaultVersion = 6;
constexpr std::u16string_view kMarkerVaultNoXml(u"2\0", 2);
constexpr std::u16string_view kMarkerVaultWide(u"3\0", 2);
constexpr std::u16string_view kMarkerPlain(u"4\0", 2);
constexpr std::u16string_view kMarkerVaultUnbound(u"5\0", 2);
constexpr std::u16string_view kMarkerVault(u"6\0", 2);
constexpr std::string_view kCheckText = "wvej";
constexpr std::string_view kCheckPlace = "ferrodex vault check";
constexpr std::string_view kHostPlace = "ferrodex vault host";
constexpr std::string_view kXmlPlace = "ferrodex vault xml";
// Most bytes of a host's sealed XML (UTF-16LE): far above what a scan may
// fetch, and a bound for what a damaged length may ask for.
constexpr std::uint32_t kMaxSealedXmlBytes = static_cast<std::uint32_t>(kVaultMaxLargePlainBytes);
// A name holds at most 256 code units and its terminator.
constexpr std::uint32_t kMaxNameUnits = CConsoleNode::kMaxName + 1;


// The vault of the version 2 stream being read or written, with the place
// of the record at hand. Set only inside SaveInventory and LoadInventory.
struct SVaultSession {
    CVaultKey key;
    std::uint32_t version = kVaultVersion;
    // The header's bytes and digest, bound into every record from version 6
    // on (empty before it).
    std::string header;
    std::uint32_t group = 0;
    std::uint32_t host = 0;
    std::string groupName;
    std::uint32_t hostsDone = 0;
};
SVaultSession* g_pVault = nullptr;
// The plain version of the stream being read: how a plain host record holds
// its XML. A host record read on its own (a fleet worker's) is of today's.
std::uint32_t g_nPlainVersion = kPlainVersion;

class CPlainVersionScope {
public:
    explicit CPlainVersionScope(std::uint32_t version) { g_nPlainVersion = version; }
    ~CPlainVersionScope() { g_nPlainVersion = kPlainVersion; }
    CPlainVersionScope(const CPlainVersionScope&) = delete;
    CPlainVersionScope& operator=(const CPlainVersionScope&) = delete;
};
// Set when a main-password question of the load at hand was cancelled.
bool g_bPromptCancelled = false;

class CVaultScope {
public:
    explicit CVaultScope(SVaultSession& session) { g_pVault = &session; }
    ~CVaultScope() { g_pVault = nullptr; }
    CVaultScope(const CVaultScope&) = delete;
    CVaultScope& operator=(const CVaultScope&) = delete;
};

void Tell(UINT id, UINT icon, std::u16string_view detail = {})
{
    std::u16string text = LoadString(g_hInstance, id);
    if (!detail.empty()) text += detail;
    MessageBox(GetActiveWindow(), text, LoadString(g_hInstance, IDS_CAPTION), MB_OK | icon);
}

// The associated data of a host record: its group's index and name, its
// index in the group, the stream version and (from version 6 on) the
// header, so a record moved to another place, group, file version or under
// another header does not open.
std::string HostPlace(const SVaultSession& session, std::string_view what = kHostPlace)
{
    std::string place(what);
    AppendU32(place, session.version);
    AppendU32(place, session.group);
    AppendU32(place, session.host);
    AppendText(place, session.groupName);
    if (!session.header.empty()) AppendText(place, session.header);
    return place;
}

std::string CheckPlace(std::uint32_t version, std::string_view header)
{
    std::string place(kCheckPlace);
    AppendU32(place, version);
    if (!header.empty()) AppendText(place, header);
    return place;
}

// The versions whose check record carries no header: a check that opens
// under another of them than the marker says had its marker changed.
constexpr std::uint32_t kUnboundVaultVersions[] = {kVaultVersionNoXml, kVaultVersionWide, kVaultVersionUnbound};

void TellHeaderDamaged(std::u16string_view why)
{
    Tell(IDS_VAULT_HEADER_DAMAGED, MB_ICONERROR, why);
}

// --- Version 1, read only ---------------------------------------------------
// Version 1 encrypted every field with one keystream (see credential_crypt.h);
// it is read so that old files open, and never written.

// Reads one encrypted field and decrypts it with the main password.
bool ReadLegacyField(CStreamReader& reader, std::u16string& out)
{
    WipeString(out);
    std::uint32_t length = 0;
    if (!reader.ReadU32(length) || length > kMaxCredentialBytes) return false;
    Wiped<std::string> cipher;
    if (!reader.ReadBytes(length, cipher.get())) return false;
    Wiped<std::string> password(WideToAnsi(g_bstrMainPassword));
    Wiped<std::string> plain;
    if (CryptCredential(cipher.get(), plain.get(), password.get(), 0) != kCryptOk) return false;
    out = AnsiToWide(plain.get());
    return true;
}

// Asks for the main password. False when the question was cancelled.
bool AskMainPassword()
{
    HoldSecretsInProcess();
    CPasswordDialog dialog(PASSWORDDLG_PROMPT);
    if (dialog.DoModal() != IDOK) {
        g_bPromptCancelled = true;
        return false;
    }
    WipeString(g_bstrMainPassword);
    g_bstrMainPassword = dialog.m_bstrPassword;
    return true;
}

// Asks for the main password until it opens version 1's `check`. False
// when the question was cancelled.
bool CheckLegacyPassword(const std::string& check)
{
    for (;;) {
        if (g_bstrMainPassword.empty() && !AskMainPassword()) return false;
        Wiped<std::string> password(WideToAnsi(g_bstrMainPassword));
        Wiped<std::string> plain;
        if (CryptCredential(check, plain.get(), password.get(), 0) == kCryptOk && plain.get() == kCheckText)
            return true;
        WipeString(g_bstrMainPassword);
        Tell(IDS_MAIN_PASSWORD_WRONG, MB_ICONWARNING);
    }
}

// --- Version 2 ----------------------------------------------------------------

// The check record: the check text and the counts of groups and hosts, so
// that a record dropped from the stream is noticed.
void CountInventory(CRootNode& root, std::uint32_t& groups, std::uint32_t& hosts)
{
    groups = static_cast<std::uint32_t>(root.GetChildren().size());
    hosts = 0;
    for (auto& group : root.GetChildren()) hosts += static_cast<std::uint32_t>(group->GetChildren().size());
}

// Derives the key from the main password until the check record opens.
// Gives S_OK, the cancel code, or HRESULT_INVALID_DATA.
HRESULT OpenVault(SVaultSession& session, const SVaultHeader& header, const std::string& check,
                  std::uint32_t& groups, std::uint32_t& hosts)
{
    HoldSecretsInProcess();
    for (;;) {
        if (g_bstrMainPassword.empty() && !AskMainPassword()) return E_MAIN_PASSWORD_CANCELLED;
        Wiped<std::string> password(WideToAnsi(g_bstrMainPassword));
        const EVaultError derived = session.key.Derive(password.get(), header.params, header.salt);
        if (derived == VAULT_OK) {
            Wiped<std::string> plain;
            if (session.key.Open(check, CheckPlace(session.version, session.header), plain.get()) == VAULT_OK) {
                CPlainReader reader(plain.get());
                std::string text;
                if (!reader.ReadText(kCheckText.size(), text) || text != kCheckText || !reader.ReadU32(groups) ||
                    !reader.ReadU32(hosts) || !reader.AtEnd()) {
                    Tell(IDS_VAULT_DAMAGED, MB_ICONERROR, u"the check record");
                    return HRESULT_INVALID_DATA;
                }
                return S_OK;
            }
            // The right password with another version's marker: the check
            // opens under the version it was written as.
            if (session.header.empty()) {
                for (const std::uint32_t other : kUnboundVaultVersions) {
                    if (other == session.version) continue;
                    Wiped<std::string> opened;
                    if (session.key.Open(check, CheckPlace(other, {}), opened.get()) == VAULT_OK) {
                        TellHeaderDamaged(u"its version marker says " + IntToDecimal(static_cast<int>(session.version)) +
                                          u" but its records were written as version " +
                                          IntToDecimal(static_cast<int>(other)));
                        return HRESULT_INVALID_DATA;
                    }
                }
            }
        } else if (derived != VAULT_EMPTY_PASSWORD) {
            return E_FAIL;
        }
        // The check does not open: another password (an empty one never opens).
        WipeString(g_bstrMainPassword);
        Tell(IDS_MAIN_PASSWORD_WRONG, MB_ICONWARNING);
    }
}

std::string StoredTime(std::optional<CScanStatus::Clock::time_point> when)
{
    if (!when) return {};
    return std::to_string(std::chrono::floor<std::chrono::seconds>(*when).time_since_epoch().count());
}

// Seconds since 1970 in decimal, from 1 to a date far ahead; nothing else.
std::optional<CScanStatus::Clock::time_point> ReadStoredTime(std::string_view text)
{
    constexpr std::int64_t kLatest = 32503680000;  // 3000-01-01
    if (text.empty() || text.size() > 11) return std::nullopt;
    std::int64_t seconds = 0;
    for (const char digit : text) {
        if (digit < '0' || digit > '9') return std::nullopt;
        seconds = seconds * 10 + (digit - '0');
    }
    if (seconds == 0 || seconds > kLatest) return std::nullopt;
    return CScanStatus::Clock::time_point(std::chrono::seconds(seconds));
}

// The last failed refresh as the file keeps it, its text cut (on a whole
// character) to what a setting holds.
std::string StoredFailure(const CHostNode& host)
{
    const std::optional<CScanStatus::Clock::time_point> when = host.m_scanStatus.RefreshFailedAt();
    if (!when || host.m_bstrLastResult.empty()) return {};
    std::string text = StoredTime(when) + " " + WideToAnsi(host.m_bstrLastResult);
    if (text.size() > kMaxSettingBytes) {
        std::size_t end = kMaxSettingBytes;
        while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
        text.resize(end);
    }
    return text;
}

// The host's settings block; empty when every setting has its default. The
// sealed form's block holds the key file's passphrase: `block` is the
// caller's, to be wiped.
void AppendHostSettings(std::string& block, const CHostNode& host, bool sealed)
{
    block.clear();
    Wiped<std::string> passphrase(sealed ? WideToAnsi(host.m_bstrPassphrase) : std::string());
    const std::string login = sealed ? std::string() : WideToAnsi(host.m_bstrLogin);
    const std::string keyFile = WideToAnsi(host.m_bstrKeyFile);
    const std::string jump = WideToAnsi(host.m_bstrJump);
    const std::string name = host.Name() == host.m_bstrHost ? std::string() : WideToAnsi(host.Name());
    const std::string scanTime = StoredTime(host.m_scanStatus.LastScanAt());
    const std::string failure = StoredFailure(host);
    std::uint32_t count = 0;
    count += scanTime.empty() ? 0 : 1;
    count += failure.empty() ? 0 : 1;
    count += name.empty() ? 0 : 1;
    count += host.m_bSudo ? 1 : 0;
    count += login.empty() ? 0 : 1;
    count += keyFile.empty() ? 0 : 1;
    count += host.m_bUseAgent ? 1 : 0;
    count += passphrase.get().empty() ? 0 : 1;
    count += jump.empty() ? 0 : 1;
    count += host.m_strId.empty() ? 0 : 1;
    if (count == 0) return;
    // Room for all of it at once, so no copy of the passphrase is left behind.
    block.reserve(4 + count * 9 + login.size() + keyFile.size() + passphrase.get().size() + jump.size() +
                  name.size() + host.m_strId.size() + scanTime.size() + failure.size());
    AppendU32(block, count);
    const auto add = [&block](std::uint32_t tag, std::string_view value) {
        AppendU32(block, tag);
        AppendText(block, value);
    };
    if (host.m_bSudo) add(kSettingSudo, "1");
    if (!login.empty()) add(kSettingLogin, login);
    if (!keyFile.empty()) add(kSettingKeyFile, keyFile);
    if (host.m_bUseAgent) add(kSettingAgent, "1");
    if (!passphrase.get().empty()) add(kSettingPassphrase, passphrase.get());
    if (!jump.empty()) add(kSettingJump, jump);
    if (!name.empty()) add(kSettingName, name);
    if (!host.m_strId.empty()) add(kSettingId, host.m_strId);
    if (!scanTime.empty()) add(kSettingScanTime, scanTime);
    if (!failure.empty()) add(kSettingLastFailure, failure);
}

// Whether a setting's value fits the block; the passphrase and the login
// have the credentials' own bound.
bool HostSettingsFit(const CHostNode& host, bool sealed)
{
    return WideToAnsi(host.m_bstrKeyFile).size() <= kMaxSettingBytes &&
           WideToAnsi(host.m_bstrLogin).size() <= kMaxCredentialBytes &&
           (!sealed || Wiped<std::string>(WideToAnsi(host.m_bstrPassphrase)).get().size() <= kMaxCredentialBytes);
}

bool ReadHostSettings(CPlainReader& reader, CHostNode& host, bool sealed)
{
    std::optional<CScanStatus::Clock::time_point> scanned;
    std::optional<CScanStatus::Clock::time_point> failed;
    std::uint32_t count = 0;
    if (!reader.ReadU32(count) || count > kMaxSettings) return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t tag = 0;
        Wiped<std::string> value;
        if (!reader.ReadU32(tag) || !reader.ReadText(kMaxSettingBytes, value.get())) return false;
        switch (tag) {
        case kSettingSudo: host.m_bSudo = value.get() == "1"; break;
        case kSettingAgent: host.m_bUseAgent = value.get() == "1"; break;
        case kSettingKeyFile: host.m_bstrKeyFile = AnsiToWide(value.get()); break;
        case kSettingLogin:
            // The sealed form's login is the one sealed with the password.
            if (!sealed) host.m_bstrLogin = AnsiToWide(value.get());
            break;
        case kSettingPassphrase:
            // A secret is only ever taken from the sealed form.
            if (sealed) {
                WipeString(host.m_bstrPassphrase);
                host.m_bstrPassphrase = AnsiToWide(value.get());
            }
            break;
        case kSettingJump: {
            // A route that does not read back is damage, not a host reached directly.
            bool valid = false;
            host.m_bstrJump = NormalJumpRoute(AnsiToWide(value.get()), valid);
            if (!valid) return false;
            break;
        }
        case kSettingName: {
            // A name no dialog would take is damage (but a blank one that
            // older releases took is kept).
            const std::u16string name = AnsiToWide(value.get());
            if (name.empty() || name.size() > kMaxNodeName || (!IsBlankName(name) && !CheckNodeName(name).empty()))
                return false;
            host.SetName(name);
            break;
        }
        case kSettingId:
            // One that is no identity is left out; the host gets a new one.
            if (IsRandomId(value.get())) host.m_strId = value.get();
            break;
        // A time that does not read is left out: it only informs.
        case kSettingScanTime: scanned = ReadStoredTime(value.get()); break;
        case kSettingLastFailure: {
            const std::size_t space = value.get().find(' ');
            if (space == std::string::npos) break;
            failed = ReadStoredTime(std::string_view(value.get()).substr(0, space));
            if (failed) host.m_bstrLastResult = AnsiToWide(value.get().substr(space + 1));
            if (host.m_bstrLastResult.empty()) failed.reset();
            break;
        }
        default: break;  // a later release's setting
        }
    }
    host.m_scanStatus.Restore(scanned, failed);
    return true;
}

// Takes a packed XML read from the stream once it unpacks whole.
bool TakePackedXml(CHostNode& host, std::string packed)
{
    return host.m_picture.SetPacked(std::move(packed)) == PICTURE_OK;
}

// Takes an XML of the older UTF-16 forms: packed now, so that the next save
// writes today's form. A text longer than any scan may fetch today leaves
// the host without a picture rather than the file unreadable; its next
// refresh brings one.
bool TakeWideXml(CHostNode& host, const std::u16string& xml)
{
    const EPictureError taking = host.m_picture.SetText(xml);
    return taking == PICTURE_OK || taking == PICTURE_TOO_LARGE;
}

// A host's last XML in the vault: its packed bytes in a sealed record of
// their own, bound to the host's place.
HRESULT SaveSealedXml(CStreamWriter& writer, CHostNode& host)
{
    const std::string* packed = &host.m_picture.Packed();
    std::string sealed;
    if (g_pVault->key.Seal(*packed, HostPlace(*g_pVault, kXmlPlace), sealed, kMaxSealedXmlBytes) != VAULT_OK)
        return E_FAIL;
    WriteSealed(writer, sealed);
    return writer.Result();
}

bool LoadSealedXml(CStreamReader& reader, CHostNode& host)
{
    // Version 3 sealed the UTF-16LE bytes, today's version the packed ones.
    const bool wide = g_pVault->version == kVaultVersionWide;
    const std::size_t maxPlain = wide ? kMaxSealedXmlBytes : kMaxPackedReadBytes;
    std::uint32_t length = 0;
    std::string sealed;
    constexpr std::uint32_t kOverhead = kVaultNonceBytes + kVaultTagBytes;
    if (!reader.ReadU32(length) || length < kOverhead || length - kOverhead > maxPlain ||
        !reader.ReadBytes(length, sealed))
        return false;
    std::string plain;
    if (g_pVault->key.Open(sealed, HostPlace(*g_pVault, kXmlPlace), plain, maxPlain) != VAULT_OK) return false;
    if (!wide) return TakePackedXml(host, std::move(plain));
    if (plain.size() % 2 != 0) return false;
    std::u16string xml(plain.size() / 2, u'\0');
    for (std::size_t i = 0; i < xml.size(); ++i)
        xml[i] = static_cast<char16_t>(static_cast<unsigned char>(plain[2 * i]) |
                                       static_cast<unsigned char>(plain[2 * i + 1]) << 8);
    return TakeWideXml(host, xml);
}

HRESULT SaveSealedHost(CStreamWriter& writer, CHostNode& host, const std::u16string& port)
{
    if (!HostSettingsFit(host, true)) return E_CREDENTIAL_TOO_LONG;
    Wiped<std::string> settings;
    AppendHostSettings(settings.get(), host, true);
    Wiped<std::string> plain;
    {
        Wiped<std::string> address(WideToAnsi(host.m_bstrHost));
        Wiped<std::string> portText(WideToAnsi(port));
        Wiped<std::string> login(WideToAnsi(host.m_bstrLogin));
        Wiped<std::string> password(WideToAnsi(host.m_bstrPassword));
        for (const Wiped<std::string>* field : {&address, &login, &password})
            if (field->get().size() > kMaxCredentialBytes) return E_CREDENTIAL_TOO_LONG;
        // Room for all of it at once, so no copy is left behind by a growth.
        plain.get().reserve(16 + settings.get().size() + address.get().size() + portText.get().size() +
                            login.get().size() + password.get().size());
        AppendText(plain.get(), address.get());
        AppendText(plain.get(), portText.get());
        AppendText(plain.get(), login.get());
        AppendText(plain.get(), password.get());
        plain.get().append(settings.get());
    }
    // Every field may be within its own bound while all of them together
    // are above what a sealed record holds: refused like a long field.
    if (plain.get().size() > kVaultMaxPlainBytes) return E_CREDENTIAL_TOO_LONG;
    std::string sealed;
    if (g_pVault->key.Seal(plain.get(), HostPlace(*g_pVault), sealed) != VAULT_OK) return E_FAIL;
    writer.WriteU32(settings.get().empty() ? kSealedForm : kSealedSettingsForm);
    WriteSealed(writer, sealed);
    return SaveSealedXml(writer, host);
    return writer.Result();
}

bool LoadSealedHost(CStreamReader& reader, CHostNode& host, bool withSettings)
{
    std::string sealed;
    if (!ReadSealed(reader, sealed)) return false;
    Wiped<std::string> plain;
    if (g_pVault->key.Open(sealed, HostPlace(*g_pVault), plain.get()) != VAULT_OK) {
        Tell(IDS_VAULT_DAMAGED, MB_ICONERROR,
             u"host " + IntToDecimal(static_cast<int>(g_pVault->host) + 1) + u" of the group \"" +
                 AnsiToWide(g_pVault->groupName) + u"\"");
        return false;
    }
    CPlainReader fields(plain.get());
    Wiped<std::string> address, port, login, password;
    if (!fields.ReadText(kMaxCredentialBytes, address.get()) || !fields.ReadText(16, port.get()) ||
        !fields.ReadText(kMaxCredentialBytes, login.get()) || !fields.ReadText(kMaxCredentialBytes, password.get()) ||
        (withSettings && !ReadHostSettings(fields, host, true)) || !fields.AtEnd())
        return false;
    host.m_bstrHost = AnsiToWide(address.get());
    host.m_nPort = DecimalToInt(AnsiToWide(port.get()));
    host.m_bstrLogin = AnsiToWide(login.get());
    WipeString(host.m_bstrPassword);
    host.m_bstrPassword = AnsiToWide(password.get());
    if (g_pVault->version != kVaultVersionNoXml && !LoadSealedXml(reader, host)) {
        Tell(IDS_VAULT_DAMAGED, MB_ICONERROR,
             u"the hardware of host " + IntToDecimal(static_cast<int>(g_pVault->host) + 1) + u" of the group \"" +
                 AnsiToWide(g_pVault->groupName) + u"\"");
        return false;
    }
    return true;
}

}  // namespace

HRESULT CRootNode::Save(IStream* stream, bool)
{
    CStreamWriter writer(stream);
    writer.WriteU32(static_cast<std::uint32_t>(m_children.size()));
    std::uint32_t index = 0;
    for (auto& group : m_children) {
        if (FAILED(writer.Result())) break;
        if (g_pVault) g_pVault->group = index++;
        const HRESULT hr = group->Save(stream, m_bSavePasswords);
        if (FAILED(hr)) return hr;
    }
    return writer.Result();
}

int CRootNode::Load(IStream* stream, bool*)
{
    m_bInsertAll = true;
    CStreamReader reader(stream);
    std::uint32_t count = 0;
    if (!reader.ReadU32(count)) return 1;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (g_pVault) g_pVault->group = i;
        auto group = std::make_unique<CGroupNode>(this);
        const int failed = group->Load(stream, &m_bSavePasswords);
        // A group whose name was read keeps the complete hosts read before a
        // damaged one.
        if (!failed || group->m_bInsertAll) AppendChild(std::move(group));
        if (failed) return 1;
    }
    return 0;
}

HRESULT CGroupNode::Save(IStream* stream, bool encrypt)
{
    CStreamWriter writer(stream);
    const std::u16string_view name = Name();
    writer.WriteU32(static_cast<std::uint32_t>(name.size() + 1));
    writer.WriteWide(name);
    writer.WriteWide(std::u16string_view(u"\0", 1));
    writer.WriteU32(static_cast<std::uint32_t>(m_children.size()));
    if (g_pVault) g_pVault->groupName = WideToAnsi(name);
    std::uint32_t index = 0;
    for (auto& host : m_children) {
        if (FAILED(writer.Result())) break;
        if (g_pVault) g_pVault->host = index++;
        const HRESULT hr = host->Save(stream, encrypt);
        if (FAILED(hr)) return hr;
    }
    return writer.Result();
}

int CGroupNode::Load(IStream* stream, bool* encrypt)
{
    CStreamReader reader(stream);
    std::uint32_t length = 0;
    std::u16string name;
    if (!reader.ReadU32(length) || length > kMaxNameUnits || !reader.ReadWide(length, name)) return 1;
    // The stored name ends at its terminator.
    SetName(std::u16string_view(name).substr(0, name.find(u'\0')));
    if (g_pVault) g_pVault->groupName = WideToAnsi(Name());
    m_bInsertAll = true;
    std::uint32_t count = 0;
    if (!reader.ReadU32(count)) return 1;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (g_pVault) g_pVault->host = i;
        auto host = std::make_unique<CHostNode>(this);
        if (host->Load(stream, encrypt) != 0) return 1;
        AppendChild(std::move(host));
        if (g_pVault) ++g_pVault->hostsDone;
    }
    return 0;
}

HRESULT CHostNode::Save(IStream* stream, bool encrypt)
{
    CStreamWriter writer(stream);
    const std::u16string port = IntToDecimal(m_nPort);
    if (!encrypt) {
        if (!HostSettingsFit(*this, false)) return E_CREDENTIAL_TOO_LONG;
        const std::string* packed = &m_picture.Packed();
        std::string settings;
        AppendHostSettings(settings, *this, false);
        writer.WriteU32(settings.empty() ? kPlainForm : kPlainSettingsForm);
        writer.WriteU32(static_cast<std::uint32_t>(m_bstrHost.size()));
        writer.WriteWide(m_bstrHost);
        writer.WriteU32(static_cast<std::uint32_t>(port.size()));
        writer.WriteWide(port);
        writer.WriteU32(static_cast<std::uint32_t>(packed->size()));
        writer.WriteBytes(packed->data(), packed->size());
        if (!settings.empty()) {
            writer.WriteU32(static_cast<std::uint32_t>(settings.size()));
            writer.WriteBytes(settings.data(), settings.size());
        }
        return writer.Result();
    }
    // Credentials are only ever written sealed in a vault.
    if (!g_pVault) return E_UNEXPECTED;
    return SaveSealedHost(writer, *this, port);
}

int CHostNode::Load(IStream* stream, bool* encrypt)
{
    CStreamReader reader(stream);
    std::uint32_t form = 0;
    if (!reader.ReadU32(form)) return 1;
    std::uint32_t length = 0;
    if (g_pVault) {
        // A vault holds sealed records only: an older form in it would
        // bypass the seal.
        if ((form != kSealedForm && form != kSealedSettingsForm) ||
            !LoadSealedHost(reader, *this, form == kSealedSettingsForm))
            return 1;
        if (Name().empty()) SetName(m_bstrHost);  // no name of its own: its address
    } else if (form == kPlainForm || form == kPlainSettingsForm) {
        std::u16string port;
        if (!reader.ReadU32(length) || !reader.ReadWide(length, m_bstrHost)) return 1;
        if (!reader.ReadU32(length) || !reader.ReadWide(length, port)) return 1;
        if (g_nPlainVersion == kPlainVersionWide) {
            std::u16string xml;
            if (!reader.ReadU32(length) || !reader.ReadWide(length, xml) || !TakeWideXml(*this, xml)) return 1;
        } else {
            std::string packed;
            if (!reader.ReadU32(length) || length > kMaxPackedReadBytes || !reader.ReadBytes(length, packed) ||
                !TakePackedXml(*this, std::move(packed)))
                return 1;
        }
        if (form == kPlainSettingsForm) {
            std::string settings;
            if (!reader.ReadU32(length) || length > kMaxSettingsBlock || !reader.ReadBytes(length, settings)) return 1;
            CPlainReader fields(settings);
            if (!ReadHostSettings(fields, *this, false) || !fields.AtEnd()) return 1;
        }
        if (Name().empty()) SetName(m_bstrHost);  // no name of its own: its address
        m_nPort = DecimalToInt(port);
    } else if (form == kLegacyEncryptedForm) {
        std::string check;
        if (!reader.ReadU32(length) || length > kMaxCredentialBytes || !reader.ReadBytes(length, check)) return 1;
        if (!CheckLegacyPassword(check)) return 1;
        std::u16string port;
        if (!ReadLegacyField(reader, m_bstrHost) || !ReadLegacyField(reader, port) ||
            !ReadLegacyField(reader, m_bstrLogin) || !ReadLegacyField(reader, m_bstrPassword))
            return 1;
        if (Name().empty()) SetName(m_bstrHost);  // no name of its own: its address
        m_nPort = DecimalToInt(port);
    } else {
        return 1;
    }
    if (encrypt) *encrypt = form != kPlainForm && form != kPlainSettingsForm;
    return 0;
}

namespace {

// The bytes the inventory takes in its plain form, so that the stream can
// make room once instead of growing under every host's XML.
std::uint64_t PlainInventorySize(CRootNode& root)
{
    std::uint64_t size = 12;  // marker and group count
    for (auto& group : root.GetChildren()) {
        size += 8 + 2 * (group->Name().size() + 1);
        for (auto& child : group->GetChildren()) {
            auto& host = static_cast<CHostNode&>(*child);
            const std::string* packed = &host.m_picture.Packed();
            size += 16 + 2 * (host.m_bstrHost.size() + IntToDecimal(host.m_nPort).size()) + packed->size();
            std::string settings;
            AppendHostSettings(settings, host, false);
            if (!settings.empty()) size += 4 + settings.size();
        }
    }
    return size;
}

// After the first successful save of a file read in an earlier version:
// says once that it is now in today's form.
void TellRepacked(CRootNode& root, HRESULT saved)
{
    if (FAILED(saved) || !root.m_bOlderForm) return;
    root.m_bOlderForm = false;
    Tell(IDS_CONSOLE_REPACKED, MB_ICONINFORMATION);
}

HRESULT SavePlain(CRootNode& root, IStream* stream)
{
    // A hint only: a stream that cannot make room is written all the same.
    std::uint64_t position = 0;
    if (SUCCEEDED(StreamPosition(stream, position))) StreamSetSize(stream, position + PlainInventorySize(root));
    CStreamWriter writer(stream);
    writer.WriteU32(static_cast<std::uint32_t>(kMarkerPlain.size() * 2));
    writer.WriteWide(kMarkerPlain);
    HRESULT hr = writer.Result();
    if (SUCCEEDED(hr)) hr = root.Save(stream, false);
    if (SUCCEEDED(hr)) {
        // The room made above ends exactly where the inventory does.
        std::uint64_t end = 0;
        if (SUCCEEDED(StreamPosition(stream, end))) StreamSetSize(stream, end);
    }
    TellRepacked(root, hr);
    return hr;
}

HRESULT SaveVault(CRootNode& root, IStream* stream)
{
    HoldSecretsInProcess();
    SVaultSession session;
    {
        Wiped<std::string> password(WideToAnsi(g_bstrMainPassword));
        const EVaultError created = session.key.Create(password.get());
        if (created == VAULT_EMPTY_PASSWORD) {
            Tell(IDS_MAIN_PASSWORD_EMPTY, MB_ICONERROR);
            return E_MAIN_PASSWORD_EMPTY;
        }
        if (created != VAULT_OK) return E_FAIL;
    }
    std::uint32_t groups = 0;
    std::uint32_t hosts = 0;
    CountInventory(root, groups, hosts);
    std::string check;
    AppendText(check, kCheckText);
    AppendU32(check, groups);
    AppendU32(check, hosts);
    SVaultHeader header;
    header.params = session.key.Params();
    header.salt = session.key.Salt();
    session.header = VaultHeaderBytes(header);
    session.header += VaultHeaderDigest(session.version, session.header);
    std::string sealedCheck;
    if (session.key.Seal(check, CheckPlace(session.version, session.header), sealedCheck) != VAULT_OK) return E_FAIL;

    CVaultScope scope(session);
    CStreamWriter writer(stream);
    writer.WriteU32(static_cast<std::uint32_t>(kMarkerVault.size() * 2));
    writer.WriteWide(kMarkerVault);
    writer.WriteBytes(session.header.data(), session.header.size());
    WriteSealed(writer, sealedCheck);
    HRESULT hr = writer.Result();
    if (SUCCEEDED(hr)) hr = root.Save(stream, true);
    if (SUCCEEDED(hr) && root.m_bReencrypt) {
        // Said once, and it says all the older form's note would.
        root.m_bReencrypt = false;
        root.m_bOlderForm = false;
        Tell(IDS_VAULT_REENCRYPTED, MB_ICONINFORMATION);
    }
    TellRepacked(root, hr);
    return hr;
}

HRESULT LoadVault(CRootNode& root, IStream* stream, std::uint32_t version)
{
    CStreamReader reader(stream);
    SVaultHeader header;
    std::string check;
    if (!ReadVaultHeader(reader, header)) {
        TellHeaderDamaged(u"it cannot be read");
        return HRESULT_INVALID_DATA;
    }
    SVaultSession session;
    session.version = version;
    if (version >= kVaultVersion) {
        // The digest covers the header and the marker's version: a header
        // damaged on disk, or given another marker, is told as such.
        session.header = VaultHeaderBytes(header);
        std::string digest;
        if (!reader.ReadBytes(kVaultHeaderDigestBytes, digest) ||
            digest != VaultHeaderDigest(version, session.header)) {
            TellHeaderDamaged(u"its check value does not match its fields or its version marker");
            return HRESULT_INVALID_DATA;
        }
        session.header += digest;
    }
    if (!ReadSealed(reader, check)) {
        TellHeaderDamaged(u"the check record after it cannot be read");
        return HRESULT_INVALID_DATA;
    }
    if (!VaultParamsAcceptable(header.params)) {
        Tell(IDS_VAULT_PARAMETERS, MB_ICONERROR);
        return HRESULT_INVALID_DATA;
    }
    if (const char* fault = VaultHeaderFault(header)) {
        TellHeaderDamaged(AnsiToWide(fault));
        return HRESULT_INVALID_DATA;
    }
    std::uint32_t groups = 0;
    std::uint32_t hosts = 0;
    const HRESULT opened = OpenVault(session, header, check, groups, hosts);
    if (FAILED(opened)) return opened;
    CVaultScope scope(session);
    root.m_bSavePasswords = true;
    if (root.Load(stream, &root.m_bSavePasswords) != 0) return HRESULT_INVALID_DATA;
    root.m_bSavePasswords = true;
    // Every record opened, but some may have been cut off or dropped.
    if (root.GetChildren().size() != groups || session.hostsDone != hosts) {
        Tell(IDS_VAULT_DAMAGED, MB_ICONERROR, u"records are missing");
        return HRESULT_INVALID_DATA;
    }
    return S_OK;
}

}  // namespace

HRESULT SaveInventory(CRootNode& root, IStream* stream)
{
    if (stream == nullptr) return E_POINTER;
    g_bDirty = false;
    const HRESULT hr = root.m_bSavePasswords ? SaveVault(root, stream) : SavePlain(root, stream);
    if (FAILED(hr)) {
        g_bDirty = true;
        return hr;
    }
    return S_OK;
}

HRESULT LoadInventory(CRootNode& root, IStream* stream)
{
    if (stream == nullptr) return E_POINTER;
    g_bDirty = false;
    CStreamReader reader(stream);
    std::uint32_t markerLength = 0;
    if (!reader.ReadU32(markerLength)) return HRESULT_INVALID_DATA;
    root.m_bSavePasswords = false;
    root.m_bReencrypt = false;
    root.m_bOlderForm = true;
    g_bPromptCancelled = false;
    std::uint32_t version = kPlainVersionWide;
    if (markerLength == kMarkerVault.size() * 2) {
        std::u16string marker;
        if (!reader.ReadWide(static_cast<std::uint32_t>(kMarkerVault.size()), marker)) return HRESULT_INVALID_DATA;
        // Version 5 is written again as 6 without a note: only the
        // associated data changed.
        root.m_bOlderForm = marker != kMarkerVault && marker != kMarkerVaultUnbound && marker != kMarkerPlain;
        if (marker == kMarkerVault) return LoadVault(root, stream, kVaultVersion);
        if (marker == kMarkerVaultUnbound) return LoadVault(root, stream, kVaultVersionUnbound);
        if (marker == kMarkerVaultWide) return LoadVault(root, stream, kVaultVersionWide);
        if (marker == kMarkerVaultNoXml) return LoadVault(root, stream, kVaultVersionNoXml);
        if (marker == kMarkerPlain) version = kPlainVersion;
    } else if (!reader.Skip(markerLength)) {
        return HRESULT_INVALID_DATA;
    }
    // Version 1: the marker's content was never compared.
    CPlainVersionScope scope(version);
    const int failed = root.Load(stream, &root.m_bSavePasswords);
    // Encrypted records of version 1 are written again in a vault.
    root.m_bReencrypt = root.m_bSavePasswords;
    if (g_bPromptCancelled) return E_MAIN_PASSWORD_CANCELLED;
    return failed == 0 ? S_OK : HRESULT_INVALID_DATA;
}
