#include "scan/worker_record.h"

#include <initializer_list>

#include "platform/text.h"

namespace {

// The most a jump's or the host's port, a limit or a policy may be.
constexpr std::uint32_t kMaxPort = 65535;
constexpr std::uint32_t kMaxPolicy = HKP_STORE_AND_TELL;

// Writes the record's fields; a text over its bound spoils the record.
class CRecordWriter {
public:
    void U32(std::uint32_t value)
    {
        for (int shift = 24; shift >= 0; shift -= 8) m_out.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
    void Flag(bool value) { U32(value ? 1 : 0); }
    void Text(std::string_view text, std::size_t max)
    {
        if (text.size() > max) m_bSpoiled = true;
        U32(static_cast<std::uint32_t>(text.size()));
        m_out.append(text);
    }
    void Wide(std::u16string_view text)
    {
        std::u16string_view cut = text.substr(0, std::min(text.size(), kMaxFailureText));
        // Never half of a surrogate pair at the cut.
        if (cut.size() < text.size() && !cut.empty() && cut.back() >= 0xD800 && cut.back() <= 0xDBFF)
            cut.remove_suffix(1);
        const Wiped<std::string> bytes(WideToAnsi(cut));
        Text(bytes.get(), kMaxFailureText * 3);
    }
    // The bytes written; empty when a field did not fit (what was written
    // is wiped then: it may hold a secret).
    std::string Take()
    {
        if (!m_bSpoiled) return std::move(m_out);
        WipeString(m_out);
        return {};
    }
    void Reserve(std::size_t bytes) { m_out.reserve(bytes); }

private:
    std::string m_out;
    bool m_bSpoiled = false;
};

// Reads from bytes it never passes the end of.
class CBoundedBytes {
public:
    explicit CBoundedBytes(std::string_view bytes) : m_bytes(bytes) {}
    bool U32(std::uint32_t& value)
    {
        if (m_bytes.size() - m_off < 4) return false;
        value = 0;
        for (std::size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(m_bytes[m_off + i]);
        m_off += 4;
        return true;
    }
    bool Number(std::uint32_t low, std::uint32_t high, std::uint32_t& value)
    {
        return U32(value) && value >= low && value <= high;
    }
    template <typename T>
    bool Number(std::uint32_t low, std::uint32_t high, T& value)
    {
        std::uint32_t raw = 0;
        if (!Number(low, high, raw)) return false;
        value = static_cast<T>(raw);
        return true;
    }
    bool Flag(bool& value)
    {
        std::uint32_t raw = 0;
        if (!Number(0, 1, raw)) return false;
        value = raw != 0;
        return true;
    }
    // A text of at most `max` bytes that is UTF-8 as the writer writes it:
    // one that would not read back to the same bytes is refused.
    bool Text(std::size_t max, std::string& text)
    {
        std::string_view bytes;
        if (!Raw(max, bytes)) return false;
        const Wiped<std::u16string> wide(AnsiToWide(bytes));
        if (Wiped<std::string>(WideToAnsi(wide.get())).get() != bytes) return false;
        text.assign(bytes);
        return true;
    }
    bool Wide(std::u16string& text)
    {
        std::string_view bytes;
        if (!Raw(kMaxFailureText * 3, bytes)) return false;
        std::u16string wide = AnsiToWide(bytes);
        if (wide.size() > kMaxFailureText || WideToAnsi(wide) != bytes) return false;
        text = std::move(wide);
        return true;
    }
    bool Raw(std::size_t max, std::string_view& text)
    {
        std::uint32_t length = 0;
        if (!U32(length) || length > max || m_bytes.size() - m_off < length) return false;
        text = m_bytes.substr(m_off, length);
        m_off += length;
        return true;
    }
    bool AtEnd() const { return m_off == m_bytes.size(); }

private:
    std::string_view m_bytes;
    std::size_t m_off = 0;
};

}  // namespace

std::string EncodeWorkerRecord(const SScanRequest& request)
{
    if (request.jumps.size() > kMaxWorkerJumps) return {};
    CRecordWriter out;
    // Room for the whole record at once: no copy of a secret is left behind
    // by a growing buffer.
    out.Reserve(64 * 1024);
    out.Text(request.address, kMaxWorkerText);
    out.U32(static_cast<std::uint32_t>(request.port));
    out.Text(WideToAnsi(request.displayName), kMaxWorkerText);
    out.Text(request.login, kMaxWorkerText);
    out.Text(request.password, kMaxWorkerText);
    out.Text(request.keyFile, kMaxWorkerText);
    out.Text(request.passphrase, kMaxWorkerText);
    out.Flag(request.useAgent);
    out.Flag(request.sudo);
    out.Flag(request.deployWithoutAsking);
    out.U32(static_cast<std::uint32_t>(request.limits.connectSeconds));
    out.U32(static_cast<std::uint32_t>(request.limits.loginSeconds));
    out.U32(static_cast<std::uint32_t>(request.limits.commandSeconds));
    out.U32(static_cast<std::uint32_t>(request.limits.maxOutputMiB));
    out.U32(request.newHostKeyPolicy);
    out.U32(request.changedHostKeyPolicy);
    out.U32(static_cast<std::uint32_t>(request.jumps.size()));
    for (const SJumpLogin& jump : request.jumps) {
        out.Text(jump.hop.user, kMaxWorkerText);
        out.Text(jump.hop.host, kMaxWorkerText);
        out.U32(static_cast<std::uint32_t>(jump.hop.port));
        out.Text(jump.login, kMaxWorkerText);
        out.Text(jump.password, kMaxWorkerText);
        out.Text(jump.keys.identityFile, kMaxWorkerText);
        out.Text(jump.keys.passphrase, kMaxWorkerText);
        out.Flag(jump.keys.useAgent);
        out.Flag(jump.inventory);
    }
    return out.Take();
}

bool DecodeWorkerRecord(std::string_view bytes, SScanRequest& request)
{
    CBoundedBytes in(bytes);
    SScanRequest read;
    std::string displayName;
    std::uint32_t jumps = 0;
    if (!in.Text(kMaxWorkerText, read.address) || !in.Number(1, kMaxPort, read.port) ||
        !in.Text(kMaxWorkerText, displayName) || !in.Text(kMaxWorkerText, read.login) ||
        !in.Text(kMaxWorkerText, read.password) || !in.Text(kMaxWorkerText, read.keyFile) ||
        !in.Text(kMaxWorkerText, read.passphrase) || !in.Flag(read.useAgent) || !in.Flag(read.sudo) ||
        !in.Flag(read.deployWithoutAsking) || !in.Number(1, SScanLimits::kMaxSeconds, read.limits.connectSeconds) ||
        !in.Number(1, SScanLimits::kMaxSeconds, read.limits.loginSeconds) ||
        !in.Number(1, SScanLimits::kMaxSeconds, read.limits.commandSeconds) ||
        !in.Number(1, SScanLimits::kMaxOutputMiB, read.limits.maxOutputMiB) ||
        !in.Number(0, kMaxPolicy, read.newHostKeyPolicy) || !in.Number(0, kMaxPolicy, read.changedHostKeyPolicy) ||
        !in.Number(0, kMaxWorkerJumps, jumps))
        return false;
    read.displayName = AnsiToWide(displayName);
    for (std::uint32_t i = 0; i < jumps; ++i) {
        SJumpLogin jump;
        if (!in.Text(kMaxWorkerText, jump.hop.user) || !in.Text(kMaxWorkerText, jump.hop.host) ||
            !in.Number(1, kMaxPort, jump.hop.port) || !in.Text(kMaxWorkerText, jump.login) ||
            !in.Text(kMaxWorkerText, jump.password) || !in.Text(kMaxWorkerText, jump.keys.identityFile) ||
            !in.Text(kMaxWorkerText, jump.keys.passphrase) || !in.Flag(jump.keys.useAgent) ||
            !in.Flag(jump.inventory))
            return false;
        read.jumps.push_back(std::move(jump));
    }
    if (!in.AtEnd()) return false;
    request = std::move(read);
    return true;
}

std::string EncodeWorkerAnswer(const SScanResult& result)
{
    CRecordWriter out;
    out.U32(static_cast<std::uint32_t>(result.status));
    out.U32(static_cast<std::uint32_t>(result.step));
    out.Wide(result.failure);
    const std::size_t notes = std::min(result.notes.size(), kMaxWorkerNotes);
    out.U32(static_cast<std::uint32_t>(notes));
    for (std::size_t i = 0; i < notes; ++i) out.Wide(result.notes[i]);
    out.Flag(result.root);
    out.Wide(result.rootReason);
    out.Flag(result.lshwMissing);
    out.Flag(result.enginePackageMissing);
    out.Text(result.replacedHostKey, kMaxWorkerText);
    out.Text(result.acceptedHostKey, kMaxWorkerText);
    out.Text(result.xml, SScanLimits::kMaxOutputMiB << 20);
    return out.Take();
}

bool DecodeWorkerAnswer(std::string_view bytes, SScanResult& result)
{
    CBoundedBytes in(bytes);
    SScanResult read;
    std::uint32_t notes = 0;
    std::string_view xml;
    if (!in.Number(SCAN_OK, SCAN_WRONG_PASSWORD, read.status) || !in.Number(STEP_NONE, STEP_COUNT - 1, read.step) ||
        !in.Wide(read.failure) || !in.Number(0, kMaxWorkerNotes, notes))
        return false;
    for (std::uint32_t i = 0; i < notes; ++i)
        if (!in.Wide(read.notes.emplace_back())) return false;
    if (!in.Flag(read.root) || !in.Wide(read.rootReason) || !in.Flag(read.lshwMissing) ||
        !in.Flag(read.enginePackageMissing) || !in.Text(kMaxWorkerText, read.replacedHostKey) ||
        !in.Text(kMaxWorkerText, read.acceptedHostKey) || !in.Raw(SScanLimits::kMaxOutputMiB << 20, xml) ||
        !in.AtEnd())
        return false;
    // The XML goes as lshw wrote it; the host reads it as UTF-8.
    read.xml.assign(xml);
    result = std::move(read);
    return true;
}
