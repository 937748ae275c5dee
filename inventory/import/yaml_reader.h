// A small, bounded reader for the part of YAML that inventories use: block
// mappings by indentation, plain and quoted scalars, comments, "{}" and
// empty values. Anything else (lists, flow collections, anchors, tags,
// multi-line scalars) is refused with its line, never guessed at.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace hostimport {

struct SYamlEntry;

struct SYamlNode {
    enum class EKind { Null, Scalar, Map };
    EKind kind = EKind::Null;
    std::string scalar;
    std::vector<SYamlEntry> entries;  // a mapping's keys in file order
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
