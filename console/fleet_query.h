// Fleet search queries: terms like `class=memory size<32GiB product~Xeon`,
// all of which a node must meet. A query comes from the user's command line
// or a script and is parsed as untrusted text: bounded in length and terms,
// every failure a message, never a crash.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

constexpr std::size_t kMaxQueryLength = 4096;
constexpr std::size_t kMaxQueryTerms = 32;

// What a quantity measures; values of different kinds never compare.
enum class EQuantityKind { Number, Bytes, Hertz, BitsPerSecond, WattHours, Volts };

// A number with its unit as the views show it ("24 Gb", "2600 MHz",
// "10000000 bit/s", "44400 mWh") or a query writes it ("32GiB", "2.5GHz"),
// in the kind's base unit (bytes, Hz, bit/s, Wh, V).
struct Quantity {
    double value = 0;
    EQuantityKind kind = EQuantityKind::Number;
};
// Nothing when the text is not a number with a known unit.
std::optional<Quantity> ParseQuantity(std::string_view text);

enum class EQueryOp { Equal, NotEqual, Contains, Less, LessEqual, Greater, GreaterEqual };

struct QueryTerm {
    std::string key;    // a row name, or class, host, group, node
    EQueryOp op = EQueryOp::Equal;
    std::string value;  // as written, quotes removed
    std::optional<Quantity> quantity;  // the value, when it is a quantity
};

// Terms are separated by blanks; a key or value holding blanks or operator
// characters is written in double quotes (\" and \\ inside). False with a
// message naming the position on any error.
bool ParseQuery(std::string_view text, std::vector<QueryTerm>& terms, std::string& error);

// Whether a value (UTF-8, as the view shows it) meets the term: `~` contains
// and `=`/`!=` compare text without regard to ASCII case; when both sides are
// quantities of one kind, `=`, `!=` and the orderings compare the numbers.
// An ordering between texts, or quantities of different kinds, never holds.
bool TermMatches(const QueryTerm& term, std::string_view value);
