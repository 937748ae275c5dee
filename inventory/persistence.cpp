#include "inventory/persistence.h"

#include <cstdlib>

#include "inventory/credential_crypt.h"
#include "inventory/dialogs.h"
#include "inventory/group_node.h"
#include "inventory/host_node.h"
#include "inventory/module_state.h"
#include "inventory/root_node.h"
#include "inventory/stream_io.h"

namespace {

constexpr std::uint32_t kPlainForm = 0;
constexpr std::uint32_t kEncryptedForm = 1;
constexpr std::string_view kCheckText = "wvej";
// A name holds at most 256 code units and its terminator.
constexpr std::uint32_t kMaxNameUnits = CConsoleNode::kMaxName + 1;

// Writes one encrypted field: its byte count, then its bytes; an empty text
// is the count 0 alone.
void WriteEncrypted(CStreamWriter& writer, std::u16string_view text, std::string_view password)
{
    Wiped<std::string> plain(WideToAnsi(text));
    if (plain.get().empty()) {
        writer.WriteU32(0);
        return;
    }
    Wiped<std::string> cipher;
    const int rc = CryptCredential(plain.get(), cipher.get(), password, 1);
    if (rc != kCryptOk) {
        writer.Fail(rc == kCryptTooLong ? E_CREDENTIAL_TOO_LONG : E_FAIL);
        return;
    }
    writer.WriteU32(static_cast<std::uint32_t>(cipher.get().size()));
    writer.WriteBytes(cipher.get().data(), cipher.get().size());
}

// Reads one encrypted field and decrypts it with the main password.
bool ReadEncrypted(CStreamReader& reader, std::u16string& out)
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

// Asks for the main password until it opens `check`; Cancel ends the
// process, as the console cannot go on without the credentials.
void CheckMainPassword(const std::string& check)
{
    for (;;) {
        if (g_bstrMainPassword.empty()) {
            CPasswordDialog dialog(PASSWORDDLG_PROMPT);
            if (dialog.DoModal() != IDOK) {
                WipeString(g_bstrMainPassword);
                std::exit(1);
            }
            g_bstrMainPassword = dialog.m_bstrPassword;
        }
        Wiped<std::string> password(WideToAnsi(g_bstrMainPassword));
        Wiped<std::string> plain;
        if (CryptCredential(check, plain.get(), password.get(), 0) == kCryptOk && plain.get() == kCheckText) return;
        WipeString(g_bstrMainPassword);
    }
}

}  // namespace

HRESULT CRootNode::Save(IStream* stream, bool)
{
    CStreamWriter writer(stream);
    writer.WriteU32(static_cast<std::uint32_t>(m_children.size()));
    for (auto& group : m_children) {
        if (FAILED(writer.Result())) break;
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
    for (auto& host : m_children) {
        if (FAILED(writer.Result())) break;
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
    m_bInsertAll = true;
    std::uint32_t count = 0;
    if (!reader.ReadU32(count)) return 1;
    for (std::uint32_t i = 0; i < count; ++i) {
        auto host = std::make_unique<CHostNode>(this);
        if (host->Load(stream, encrypt) != 0) return 1;
        AppendChild(std::move(host));
    }
    return 0;
}

HRESULT CHostNode::Save(IStream* stream, bool encrypt)
{
    CStreamWriter writer(stream);
    const std::u16string port = IntToDecimal(m_nPort);
    if (!encrypt) {
        writer.WriteU32(kPlainForm);
        writer.WriteU32(static_cast<std::uint32_t>(m_bstrHost.size()));
        writer.WriteWide(m_bstrHost);
        writer.WriteU32(static_cast<std::uint32_t>(port.size()));
        writer.WriteWide(port);
        writer.WriteU32(static_cast<std::uint32_t>(m_bstrXml.size()));
        writer.WriteWide(m_bstrXml);
        return writer.Result();
    }
    // Refuse a value the encrypted form cannot hold before writing anything
    // of this host.
    for (const std::u16string* text : {&m_bstrHost, &m_bstrLogin, &m_bstrPassword}) {
        Wiped<std::string> ansi(WideToAnsi(*text));
        if (ansi.get().size() > kMaxCredentialBytes) return E_CREDENTIAL_TOO_LONG;
    }
    Wiped<std::string> password(WideToAnsi(g_bstrMainPassword));
    Wiped<std::string> check;
    if (CryptCredential(kCheckText, check.get(), password.get(), 1) != kCryptOk) return E_FAIL;
    writer.WriteU32(kEncryptedForm);
    writer.WriteU32(static_cast<std::uint32_t>(check.get().size()));
    writer.WriteBytes(check.get().data(), check.get().size());
    WriteEncrypted(writer, m_bstrHost, password.get());
    WriteEncrypted(writer, port, password.get());
    WriteEncrypted(writer, m_bstrLogin, password.get());
    WriteEncrypted(writer, m_bstrPassword, password.get());
    return writer.Result();
}

int CHostNode::Load(IStream* stream, bool* encrypt)
{
    CStreamReader reader(stream);
    std::uint32_t form = 0;
    if (!reader.ReadU32(form)) return 1;
    std::uint32_t length = 0;
    if (form == kPlainForm) {
        std::u16string port;
        if (!reader.ReadU32(length) || !reader.ReadWide(length, m_bstrHost)) return 1;
        if (!reader.ReadU32(length) || !reader.ReadWide(length, port)) return 1;
        if (!reader.ReadU32(length) || !reader.ReadWide(length, m_bstrXml)) return 1;
        SetName(m_bstrHost);
        m_nPort = DecimalToInt(port);
    } else {
        std::string check;
        if (!reader.ReadU32(length) || length > kMaxCredentialBytes || !reader.ReadBytes(length, check)) return 1;
        CheckMainPassword(check);
        std::u16string port;
        if (!ReadEncrypted(reader, m_bstrHost) || !ReadEncrypted(reader, port) || !ReadEncrypted(reader, m_bstrLogin) ||
            !ReadEncrypted(reader, m_bstrPassword))
            return 1;
        SetName(m_bstrHost);
        m_nPort = DecimalToInt(port);
    }
    if (encrypt) *encrypt = form != kPlainForm;
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
            const auto& host = static_cast<CHostNode&>(*child);
            size += 16 + 2 * (host.m_bstrHost.size() + IntToDecimal(host.m_nPort).size() + host.m_bstrXml.size());
        }
    }
    return size;
}

}  // namespace

HRESULT SaveInventory(CRootNode& root, IStream* stream)
{
    if (stream == nullptr) return E_POINTER;
    g_bDirty = false;
    if (!root.m_bSavePasswords) {
        // A hint only: a stream that cannot make room is written all the same.
        std::uint64_t position = 0;
        if (SUCCEEDED(stream->Seek(0, STREAM_SEEK_CUR, &position)))
            stream->SetSize(position + PlainInventorySize(root));
    }
    CStreamWriter writer(stream);
    writer.WriteU32(4);
    writer.WriteWide(std::u16string_view(u"1\0", 2));
    HRESULT hr = writer.Result();
    if (SUCCEEDED(hr)) hr = root.Save(stream, root.m_bSavePasswords);
    if (SUCCEEDED(hr) && !root.m_bSavePasswords) {
        // The room made above ends exactly where the inventory does.
        std::uint64_t end = 0;
        if (SUCCEEDED(stream->Seek(0, STREAM_SEEK_CUR, &end))) stream->SetSize(end);
    }
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
    if (!reader.ReadU32(markerLength) || !reader.Skip(markerLength)) return HRESULT_INVALID_DATA;
    root.m_bSavePasswords = false;
    return root.Load(stream, &root.m_bSavePasswords) == 0 ? S_OK : HRESULT_INVALID_DATA;
}
