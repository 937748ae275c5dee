// Turning a host's lshw XML into hardware nodes, and putting them into the
// console tree.
#pragma once

#include <string>

#include "platform/console.h"
#include "platform/xml.h"

class CConsoleNode;
class CGeneralNode;
class CHostNode;

// Parses the host's picture and appends a CHardwareNode to its children
// for every `node` element below the top one; the top element's own rows
// go to m_generalNames and m_generalValues. 0 on success, 1 when the XML
// service is missing or the document has no top `node` element (an empty
// text also shows the "Can't find file: " box). Nodes and rows read before
// an error stay.
int BuildHardwareTree(CHostNode& host);

// Makes the host's "general" node from its top rows and inserts it, then
// every hardware child, under the host's scope item.
HRESULT InsertHostHardware(CHostNode& host, IConsoleNameSpace2* nameSpace);

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
