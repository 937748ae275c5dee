#include "console/fleet_query.h"

#include <charconv>
#include <cmath>

namespace {

constexpr std::size_t kMaxNumberLength = 40;

struct UnitEntry {
    std::string_view name;
    EQuantityKind kind;
    double factor;
};

// The views write bytes as "Kb", "Mb", "Gb" meaning powers of 1024; a query
// may write those, the binary "KiB".."TiB", or the decimal "KB".."TB".
constexpr UnitEntry kUnits[] = {
    {"B", EQuantityKind::Bytes, 1.0},
    {"bytes", EQuantityKind::Bytes, 1.0},
    {"Kb", EQuantityKind::Bytes, 1024.0},
    {"Mb", EQuantityKind::Bytes, 1048576.0},
    {"Gb", EQuantityKind::Bytes, 1073741824.0},
    {"Tb", EQuantityKind::Bytes, 1099511627776.0},
    {"KiB", EQuantityKind::Bytes, 1024.0},
    {"MiB", EQuantityKind::Bytes, 1048576.0},
    {"GiB", EQuantityKind::Bytes, 1073741824.0},
    {"TiB", EQuantityKind::Bytes, 1099511627776.0},
    {"kB", EQuantityKind::Bytes, 1e3},
    {"KB", EQuantityKind::Bytes, 1e3},
    {"MB", EQuantityKind::Bytes, 1e6},
    {"GB", EQuantityKind::Bytes, 1e9},
    {"TB", EQuantityKind::Bytes, 1e12},
    {"Hz", EQuantityKind::Hertz, 1.0},
    {"kHz", EQuantityKind::Hertz, 1e3},
    {"KHz", EQuantityKind::Hertz, 1e3},
    {"MHz", EQuantityKind::Hertz, 1e6},
    {"GHz", EQuantityKind::Hertz, 1e9},
    {"bit/s", EQuantityKind::BitsPerSecond, 1.0},
    {"bps", EQuantityKind::BitsPerSecond, 1.0},
    {"kbit/s", EQuantityKind::BitsPerSecond, 1e3},
    {"Kbit/s", EQuantityKind::BitsPerSecond, 1e3},
    {"Mbit/s", EQuantityKind::BitsPerSecond, 1e6},
    {"Gbit/s", EQuantityKind::BitsPerSecond, 1e9},
    {"mWh", EQuantityKind::WattHours, 1e-3},
    {"Wh", EQuantityKind::WattHours, 1.0},
    {"mV", EQuantityKind::Volts, 1e-3},
    {"V", EQuantityKind::Volts, 1.0},
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool IsOperatorChar(char c) { return c == '=' || c == '!' || c == '~' || c == '<' || c == '>'; }

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

char Fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualFolded(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(b[i])) return false;
    return true;
}

bool ContainsFolded(std::string_view text, std::string_view part)
{
    if (part.empty()) return true;
    if (text.size() < part.size()) return false;
    for (std::size_t i = 0; i + part.size() <= text.size(); ++i)
        if (EqualFolded(text.substr(i, part.size()), part)) return true;
    return false;
}

bool SameNumber(double a, double b) { return std::fabs(a - b) <= 1e-9 * std::max(std::fabs(a), std::fabs(b)); }

class CQueryReader {
public:
    explicit CQueryReader(std::string_view text) : m_text(text) {}

    bool AtEnd()
    {
        while (m_pos < m_text.size() && IsBlank(m_text[m_pos])) ++m_pos;
        return m_pos == m_text.size();
    }

    bool Term(QueryTerm& term, std::string& error)
    {
        const std::size_t start = m_pos;
        if (!Word(term.key, true, error)) return false;
        if (term.key.empty()) return Fail(error, start, "a term needs a name before its operator");
        if (!Operator(term.op)) return Fail(error, m_pos, "expected one of = != ~ < <= > >= after \"" + term.key + "\"");
        if (!Word(term.value, false, error)) return false;
        term.quantity = ParseQuantity(term.value);
        const bool ordering = term.op == EQueryOp::Less || term.op == EQueryOp::LessEqual ||
                              term.op == EQueryOp::Greater || term.op == EQueryOp::GreaterEqual;
        if (ordering && !term.quantity)
            return Fail(error, start, "\"" + term.value + "\" is no number with a known unit, so it cannot be compared");
        return true;
    }

private:
    static bool Fail(std::string& error, std::size_t pos, const std::string& text)
    {
        error = "query, at character " + std::to_string(pos + 1) + ": " + text;
        return false;
    }

    // A quoted text, or the characters up to a blank (a key also stops at an
    // operator character).
    bool Word(std::string& out, bool key, std::string& error)
    {
        out.clear();
        if (m_pos < m_text.size() && m_text[m_pos] == '"') {
            const std::size_t start = m_pos++;
            while (m_pos < m_text.size()) {
                const char c = m_text[m_pos++];
                if (c == '"') return true;
                if (c == '\\') {
                    if (m_pos == m_text.size()) break;
                    const char next = m_text[m_pos++];
                    if (next != '"' && next != '\\') return Fail(error, m_pos - 2, "only \\\" and \\\\ may follow a backslash");
                    out.push_back(next);
                } else {
                    out.push_back(c);
                }
            }
            return Fail(error, start, "a quote is not closed");
        }
        while (m_pos < m_text.size() && !IsBlank(m_text[m_pos]) && !(key && IsOperatorChar(m_text[m_pos]))) {
            if (m_text[m_pos] == '"') return Fail(error, m_pos, "a quote may only start a name or a value");
            out.push_back(m_text[m_pos++]);
        }
        return true;
    }

    bool Operator(EQueryOp& op)
    {
        const std::string_view rest = m_text.substr(m_pos);
        struct Entry {
            std::string_view text;
            EQueryOp op;
        };
        static constexpr Entry kOps[] = {{"!=", EQueryOp::NotEqual},  {"<=", EQueryOp::LessEqual},
                                         {">=", EQueryOp::GreaterEqual}, {"=", EQueryOp::Equal},
                                         {"~", EQueryOp::Contains},  {"<", EQueryOp::Less},
                                         {">", EQueryOp::Greater}};
        for (const Entry& entry : kOps) {
            if (rest.substr(0, entry.text.size()) == entry.text) {
                op = entry.op;
                m_pos += entry.text.size();
                return true;
            }
        }
        return false;
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
};

}  // namespace

std::optional<Quantity> ParseQuantity(std::string_view text)
{
    text = Trim(text);
    std::size_t digits = 0;
    bool dot = false;
    while (digits < text.size() && ((text[digits] >= '0' && text[digits] <= '9') || (text[digits] == '.' && !dot))) {
        dot = dot || text[digits] == '.';
        ++digits;
    }
    if (digits == 0 || digits > kMaxNumberLength || text[0] == '.' || text[digits - 1] == '.') return std::nullopt;
    double number = 0;
    const auto [end, result] = std::from_chars(text.data(), text.data() + digits, number);
    if (result != std::errc() || end != text.data() + digits || !std::isfinite(number)) return std::nullopt;
    const std::string_view unit = Trim(text.substr(digits));
    if (unit.empty()) return Quantity{number, EQuantityKind::Number};
    for (const UnitEntry& entry : kUnits)
        if (entry.name == unit) return Quantity{number * entry.factor, entry.kind};
    return std::nullopt;
}

bool ParseQuery(std::string_view text, std::vector<QueryTerm>& terms, std::string& error)
{
    terms.clear();
    if (text.size() > kMaxQueryLength) {
        error = "the query is longer than " + std::to_string(kMaxQueryLength) + " characters";
        return false;
    }
    CQueryReader reader(text);
    std::vector<QueryTerm> parsed;
    while (!reader.AtEnd()) {
        if (parsed.size() == kMaxQueryTerms) {
            error = "the query has more than " + std::to_string(kMaxQueryTerms) + " terms";
            return false;
        }
        QueryTerm term;
        if (!reader.Term(term, error)) return false;
        parsed.push_back(std::move(term));
    }
    if (parsed.empty()) {
        error = "the query is empty: write terms like class=memory size<32GiB";
        return false;
    }
    terms = std::move(parsed);
    return true;
}

bool TermMatches(const QueryTerm& term, std::string_view value)
{
    if (term.op == EQueryOp::Contains) return ContainsFolded(value, term.value);
    const std::optional<Quantity> found = term.quantity ? ParseQuantity(value) : std::nullopt;
    const bool numeric = found && found->kind == term.quantity->kind;
    switch (term.op) {
    case EQueryOp::Equal:
        return numeric ? SameNumber(found->value, term.quantity->value) : EqualFolded(Trim(value), term.value);
    case EQueryOp::NotEqual:
        return numeric ? !SameNumber(found->value, term.quantity->value) : !EqualFolded(Trim(value), term.value);
    case EQueryOp::Less:
        return numeric && found->value < term.quantity->value && !SameNumber(found->value, term.quantity->value);
    case EQueryOp::LessEqual:
        return numeric && (found->value < term.quantity->value || SameNumber(found->value, term.quantity->value));
    case EQueryOp::Greater:
        return numeric && found->value > term.quantity->value && !SameNumber(found->value, term.quantity->value);
    case EQueryOp::GreaterEqual:
        return numeric && (found->value > term.quantity->value || SameNumber(found->value, term.quantity->value));
    case EQueryOp::Contains:
        break;
    }
    return false;
}
