#include "hardware/hardware_tree.h"

#include <memory>

#include "hardware/general_node.h"
#include "hardware/hardware_node.h"

namespace {

XmlDocumentFactory g_pXmlFactory = &CreateXmlDocument;

// The top `node` element. Newer lshw versions wrap it in a `list` element;
// such a document is read from the list's first `node`.
com_ptr<IXMLDOMNode> SelectTopNode(const com_ptr<IXMLDOMNode>& document)
{
    if (auto top = xml::SelectSingleNode(document, u"/node")) return top;
    return xml::SelectSingleNode(document, u"/list/node");
}

// The children of the top element: hardware nodes, and rows as they come
// (capabilities one row each, text / id; nothing else expanded or
// formatted at this level).
void ReadTopElement(const com_ptr<IXMLDOMNode>& top, CConsoleNode* parent, SHardwareTree& tree)
{
    for (auto child = xml::FirstChild(top); child; child = xml::NextSibling(child)) {
        std::u16string name = xml::NodeName(child);
        if (name == u"node") {
            tree.nodes.push_back(std::make_unique<CHardwareNode>(child, parent));
        } else if (name == u"capabilities") {
            for (auto capability = xml::FirstChild(child); capability; capability = xml::NextSibling(capability))
                AppendRow(tree.generalNames, tree.generalValues, xml::Text(capability),
                          AttributeOrEmpty(capability, u"id"));
        } else {
            AppendRow(tree.generalNames, tree.generalValues, std::move(name), xml::Text(child));
        }
    }
}

}  // namespace

XmlDocumentFactory SetXmlDocumentFactory(XmlDocumentFactory factory)
{
    return std::exchange(g_pXmlFactory, factory != nullptr ? factory : &CreateXmlDocument);
}

std::u16string AttributeOrEmpty(const com_ptr<IXMLDOMNode>& node, std::u16string_view name)
{
    return xml::AttributeOrEmpty(node, name);
}

int ReadHardwareTree(std::u16string_view text, CConsoleNode* parent, SHardwareTree& tree)
{
    tree.document = nullptr;
    tree.hrXml = g_pXmlFactory(CLSID_DOMDocument, tree.document.put());
    if (FAILED(tree.hrXml) || !tree.document) {
        if (SUCCEEDED(tree.hrXml)) tree.hrXml = E_POINTER;
        return 1;
    }
    if (!text.empty()) xml::LoadText(tree.document, text);  // a failed parse leaves no top element

    try {
        com_ptr<IXMLDOMNode> document;
        tree.hrXml = tree.document.query_to(document);
        if (FAILED(tree.hrXml)) return 1;
        ReadTopElement(SelectTopNode(document), parent, tree);
        return 0;
    } catch (const ComError&) {
    } catch (const std::bad_alloc&) {
    }
    return 1;
}

HRESULT InsertHardwareItems(IConsoleNameSpace2* nameSpace, CConsoleNode& parent, CGeneralNode& general)
{
    const int generalImage = general.GetImageIndex();
    RETURN_IF_FAILED(parent.InsertScopeChild(nameSpace, general, generalImage, generalImage, 0));
    for (const auto& child : parent.GetChildren()) {
        const int image = child->GetImageIndex();
        const int childCount = static_cast<int>(child->GetChildren().size());
        RETURN_IF_FAILED(parent.InsertScopeChild(nameSpace, *child, image, image, childCount));
    }
    return S_OK;
}
