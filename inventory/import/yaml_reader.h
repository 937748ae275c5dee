// A small, bounded reader for the part of YAML that inventories and their
// variable files use: block mappings by indentation, block sequences, flow
// mappings and sequences on one line, plain and quoted scalars, literal and
// folded block scalars, comments and empty values, and the "!vault" tag of
// an encrypted value (kept as such, never opened). Anything else (anchors,
// aliases, other tags, complex keys, flow collections across lines) is
// refused with its line, never guessed at.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace hostimport {

struct SYamlEntry;

struct SYamlNode {
    enum class EKind { Null, Scalar, Map, List };
    EKind kind = EKind::Null;
    std::string scalar;
    std::vector<SYamlEntry> entries;  // a mapping's keys in file order
    std::vector<SYamlNode> items;     // a sequence's items
    bool vault = false;               // a "!vault" scalar: encrypted, its text not the value
    int line = 0;
};

struct SYamlEntry {
    std::string key;
    SYamlNode value;
    int line = 0;
};

// Parses a document; false with the line and the reason of the first
// problem. An empty document is a Null node.
bool ParseYaml(std::string_view text, SYamlNode& document, int& errorLine, std::string& error);

}  // namespace hostimport
