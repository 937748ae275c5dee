// Turning an lshw XML into hardware nodes, and putting them into the
// console tree.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "hardware/row_list.h"
#include "platform/console.h"
#include "platform/xml.h"

class CConsoleNode;
class CGeneralNode;

// The hardware of one lshw picture as nodes, a value its owner keeps (a host
// of the inventory hangs the nodes under itself).
struct SHardwareTree {
    // The XML service's failure when nothing could be read; S_OK otherwise.
    HRESULT hrXml = S_OK;
    // The parsed document: the nodes read their rows from it.
    com_ptr<IXMLDOMDocument> document;
    // The top element's own rows.
    RowList generalNames;
    RowList generalValues;
    // A CHardwareNode for every `node` element below the top one.
    std::vector<std::unique_ptr<CConsoleNode>> nodes;
};

// Parses `xml` into `tree`, the nodes made with `parent` as their parent;
// the top element's rows come as they are (capabilities one row each, text
// / id). 0 on success, 1 when the XML service is missing or the document
// has no top `node` element. Nodes and rows read before an error stay.
int ReadHardwareTree(std::u16string_view xml, CConsoleNode* parent, SHardwareTree& tree);

// Inserts `general` and then every child of `parent` under the parent's
// scope item, each with its own image and with an expand mark exactly when
// it has children. Stops at the first failing insertion and returns it.
HRESULT InsertHardwareItems(IConsoleNameSpace2* nameSpace, CConsoleNode& parent, CGeneralNode& general);

// An attribute's text, or empty when the element lacks it.
std::u16string AttributeOrEmpty(const com_ptr<IXMLDOMNode>& node, std::u16string_view name);

// The XML service: tests replace it to act out a machine without one. A
// null factory restores the real one; the previous one is returned.
using XmlDocumentFactory = HRESULT (*)(REFCLSID clsid, IXMLDOMDocument** document);
XmlDocumentFactory SetXmlDocumentFactory(XmlDocumentFactory factory);
