// The Name/Value list that hardware nodes show in the result pane.
#pragma once

#include <string>
#include <vector>

#include "inventory/console_node.h"

// The rows of one node: entry i of m_names belongs to entry i of m_values.
using RowList = std::vector<std::u16string>;

// Appends one row to both lists; when memory runs out, neither list grows.
void AppendRow(RowList& names, RowList& values, std::u16string name, std::u16string value);

// Rebuilds the result pane from the rows: inserts the "Name" and "Value"
// columns, deletes every line and the items of the previous show, then
// makes one CPropertyItem per row, inserts its line and keeps it in
// `items`. S_OK, or S_FALSE when a console call fails (the lines inserted
// until then stay).
HRESULT ShowRowList(IConsole* console, CConsoleNode& owner, const RowList& names, const RowList& values,
                    CConsoleNode::Children& items);
