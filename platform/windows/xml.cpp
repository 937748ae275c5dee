// The XML facade over MSXML's document object (version 6.0, else 3.0, with
// XPath selections), read through its DOM interfaces.
#include "platform/xml.h"

#include "platform/text.h"

// The version-independent document class, which the system's header
// declares and no system library defines.
extern "C" const CLSID CLSID_DOMDocument = MakeGuid("F6D90F11-9C73-11D3-B32E-00C04F990BB4");

namespace {

constexpr CLSID kDocument60 = MakeGuid("88D96A05-F192-11D4-A65F-0080C7A8A1A0");
constexpr CLSID kDocument30 = MakeGuid("F5078F32-C551-11D3-89B9-0000F81FE221");
constexpr IID kDocument2 = MakeGuid("2933BF95-7B36-11D2-B20E-00C04F983E60");
constexpr IID kElement = MakeGuid("2933BF86-7B36-11D2-B20E-00C04F983E60");

// A string of the automation kind, freed when it goes.
class CBstr {
public:
    CBstr() = default;
    explicit CBstr(std::u16string_view text)
        : m_text(::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size())))
    {
        if (m_text == nullptr) throw std::bad_alloc();
    }
    ~CBstr() { ::SysFreeString(m_text); }
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;

    BSTR Get() const { return m_text; }
    BSTR* Put()
    {
        ::SysFreeString(m_text);
        m_text = nullptr;
        return &m_text;
    }
    std::u16string Text() const
    {
        return m_text == nullptr ? std::u16string() : std::u16string(OleView(m_text).substr(0, ::SysStringLen(m_text)));
    }

private:
    BSTR m_text = nullptr;
};

void RequireNode(const com_ptr<IXMLDOMNode>& node)
{
    if (!node) throw ComError(E_POINTER);
}

// The attribute's value; false when the node has none of that name (or is
// no element).
bool FindAttribute(IXMLDOMNode* node, std::u16string_view name, std::u16string& value)
{
    value.clear();
    com_ptr<IXMLDOMElement> element;
    if (FAILED(node->QueryInterface(kElement, element.put_void())) || !element) return false;
    CBstr wanted(name);
    VARIANT found;
    ::VariantInit(&found);
    const HRESULT hr = element->getAttribute(wanted.Get(), &found);
    ThrowIfFailed(hr);
    const bool present = hr == S_OK && found.vt == VT_BSTR;
    if (present) value = std::u16string(OleView(found.bstrVal).substr(0, ::SysStringLen(found.bstrVal)));
    ::VariantClear(&found);
    return present;
}

}  // namespace

HRESULT CreateXmlDocument(REFCLSID clsid, IXMLDOMDocument** document)
{
    if (document == nullptr) return E_POINTER;
    *document = nullptr;
    if (!(clsid == InterfaceId<IXMLDOMDocument>::value) && !(clsid == CLSID_DOMDocument) && !(clsid == kDocument60) &&
        !(clsid == kDocument30))
        return CLASS_E_CLASSNOTAVAILABLE;
    com_ptr<IXMLDOMDocument> created;
    HRESULT hr = ::CoCreateInstance(kDocument60, nullptr, CLSCTX_INPROC_SERVER, IID_OF<IXMLDOMDocument>(), created.put_void());
    if (FAILED(hr)) {
        hr = ::CoCreateInstance(kDocument30, nullptr, CLSCTX_INPROC_SERVER, IID_OF<IXMLDOMDocument>(), created.put_void());
        if (FAILED(hr)) return hr;
        // Version 3.0 selects with its older pattern language unless told.
        com_ptr<IXMLDOMDocument2> second;
        if (SUCCEEDED(created->QueryInterface(kDocument2, second.put_void())) && second) {
            CBstr property(u"SelectionLanguage");
            VARIANT value;
            ::VariantInit(&value);
            value.vt = VT_BSTR;
            value.bstrVal = ::SysAllocString(L"XPath");
            second->setProperty(property.Get(), value);
            ::VariantClear(&value);
        }
    }
    created->put_preserveWhiteSpace(VARIANT_FALSE);
    *document = created.detach();
    return S_OK;
}

namespace xml {

std::u16string NodeName(const com_ptr<IXMLDOMNode>& node)
{
    RequireNode(node);
    CBstr name;
    ThrowIfFailed(node->get_nodeName(name.Put()));
    return name.Text();
}

std::u16string Text(const com_ptr<IXMLDOMNode>& node)
{
    RequireNode(node);
    CBstr text;
    ThrowIfFailed(node->get_text(text.Put()));
    return text.Text();
}

std::u16string Attribute(const com_ptr<IXMLDOMNode>& node, std::u16string_view name)
{
    RequireNode(node);
    std::u16string value;
    if (!FindAttribute(node.get(), name, value)) throw ComError(E_POINTER);
    return value;
}

std::u16string AttributeOrEmpty(const com_ptr<IXMLDOMNode>& node, std::u16string_view name)
{
    RequireNode(node);
    std::u16string value;
    FindAttribute(node.get(), name, value);
    return value;
}

com_ptr<IXMLDOMNode> SelectSingleNode(const com_ptr<IXMLDOMNode>& node, std::u16string_view path)
{
    RequireNode(node);
    CBstr query(path);
    com_ptr<IXMLDOMNode> found;
    ThrowIfFailed(node->selectSingleNode(query.Get(), found.put()));
    return found;
}

bool LoadText(const com_ptr<IXMLDOMDocument>& document, std::u16string_view text)
{
    if (!document) return false;
    document->put_async(VARIANT_FALSE);
    CBstr source(text);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    return SUCCEEDED(document->loadXML(source.Get(), &loaded)) && loaded == VARIANT_TRUE;
}

CNodeView::CNodeView(com_ptr<IXMLDOMNode> node) : m_spNode(std::move(node))
{
    DOMNodeType type = NODE_INVALID;
    if (m_spNode && SUCCEEDED(m_spNode->get_nodeType(&type)) && type == NODE_ELEMENT)
        m_strElement = WideToAnsi(NodeName(m_spNode));
}

CNodeView CNodeView::FirstChild() const { return m_spNode ? CNodeView(xml::FirstChild(m_spNode)) : CNodeView(); }

CNodeView CNodeView::NextSibling() const { return m_spNode ? CNodeView(xml::NextSibling(m_spNode)) : CNodeView(); }

bool CNodeView::IsElement(std::string_view name) const { return m_spNode && m_strElement == name; }

std::string_view CNodeView::ElementName() const { return m_strElement; }

std::u16string CNodeView::Name() const { return m_spNode ? NodeName(m_spNode) : std::u16string(); }

std::u16string CNodeView::Text() const { return m_spNode ? xml::Text(m_spNode) : std::u16string(); }

bool CNodeView::Attribute(std::string_view name, std::u16string& value) const
{
    value.clear();
    return m_spNode && FindAttribute(m_spNode.get(), AnsiToWide(name), value);
}

CNodeView View(const com_ptr<IXMLDOMNode>& node) { return node ? CNodeView(node) : CNodeView(); }

com_ptr<IXMLDOMNode> Hand(const com_ptr<IXMLDOMNode>& sameDocument, CNodeView view)
{
    RequireNode(sameDocument);
    return view.m_spNode;
}

}  // namespace xml
