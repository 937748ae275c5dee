#include "hardware/hardware_tree.h"

#include <memory>

#include "hardware/general_node.h"
#include "hardware/hardware_node.h"
#include "inventory/host_node.h"
#include "inventory/module_state.h"
#include "platform/ui.h"
#include "res/resource_ids.h"

namespace {

XmlDocumentFactory g_pXmlFactory = &CreateXmlDocument;

// The top `node` element. Newer lshw versions wrap it in a `list` element;
// such a document is read from the list's first `node`.
com_ptr<IXMLDOMNode> SelectTopNode(const com_ptr<IXMLDOMNode>& document)
{
    if (auto top = xml::SelectSingleNode(document, u"/node")) return top;
    return xml::SelectSingleNode(document, u"/list/node");
}

void AddGeneralRow(CHostNode& host, std::u16string name, std::u16string value)
{
    AppendRow(host.m_generalNames, host.m_generalValues, std::move(name), std::move(value));
}

// The children of the top element: hardware nodes, and rows as they come
// (capabilities one row each, text / id; nothing else expanded or
// formatted at this level).
void ReadTopElement(CHostNode& host)
{
    for (host.m_spXmlCursor = xml::FirstChild(host.m_spXmlRoot); host.m_spXmlCursor;
         host.m_spXmlCursor = xml::NextSibling(host.m_spXmlCursor)) {
        std::u16string name = xml::NodeName(host.m_spXmlCursor);
        if (name == u"node") {
            host.AppendChild(std::make_unique<CHardwareNode>(host.m_spXmlCursor, &host));
        } else if (name == u"capabilities") {
            for (auto capability = xml::FirstChild(host.m_spXmlCursor); capability;
                 capability = xml::NextSibling(capability))
                AddGeneralRow(host, xml::Text(capability), AttributeOrEmpty(capability, u"id"));
        } else {
            AddGeneralRow(host, std::move(name), xml::Text(host.m_spXmlCursor));
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

int BuildHardwareTree(CHostNode& host)
{
    host.m_spXmlDoc = nullptr;
    host.m_hrXml = g_pXmlFactory(CLSID_DOMDocument, host.m_spXmlDoc.put());
    if (FAILED(host.m_hrXml) || !host.m_spXmlDoc) {
        if (SUCCEEDED(host.m_hrXml)) host.m_hrXml = E_POINTER;
        return 1;
    }

    if (!host.m_picture.Empty()) {
        xml::LoadText(host.m_spXmlDoc, host.m_picture.Text());  // a failed parse leaves no top element
    } else {
        MessageBox(nullptr, LoadString(g_hInstance, IDS_FILE_NOT_FOUND), u"Error", MB_OK | MB_ICONERROR);
    }

    int result = 1;
    try {
        com_ptr<IXMLDOMNode> document;
        host.m_hrXml = host.m_spXmlDoc.query_to(document);
        if (FAILED(host.m_hrXml)) return 1;
        host.m_spXmlRoot = SelectTopNode(document);
        ReadTopElement(host);
        result = 0;
    } catch (const ComError&) {
    } catch (const std::bad_alloc&) {
    }
    host.m_spXmlCursor = nullptr;
    return result;
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

HRESULT InsertHostHardware(CHostNode& host, IConsoleNameSpace2* nameSpace)
{
    return ComBoundary([&] {
        host.m_pGeneral = std::make_unique<CGeneralNode>(host.m_generalNames, host.m_generalValues, &host);
        // The scan's status and notice rows, also for a picture from the
        // console file.
        host.ShowScanStatus();
        return InsertHardwareItems(nameSpace, host, *host.m_pGeneral);
    });
}
