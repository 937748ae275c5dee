// The XML document service over pugixml. A document owns the parsed tree;
// every node object it hands out keeps the document alive, so a node stays
// usable for as long as somebody holds it.
#include "platform/xml.h"

#include <atomic>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "platform/com_object.h"
#include "platform/text.h"

namespace {

// What the parse keeps: elements, text, CDATA and comments. Text made only
// of white space is dropped (pugixml keeps it only with parse_ws_pcdata).
// A document type declaration is kept as a node only so that the document
// can be refused for it: no DTD, and so no entity beyond the five
// predefined ones and no external resource, ever takes part.
constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_comments | pugi::parse_doctype;

// The longest document taken, in UTF-16 units: above every output a host
// may send to a scan.
constexpr std::size_t kMaxDocumentLength = std::size_t{64} << 20;

// The parsed tree, shared by the document object and its node objects.
struct CXmlTree {
    pugi::xml_document document;
};

// UTF-8 from the parse to UTF-16; names and values are nearly always
// plain ASCII, which is widened directly.
std::u16string Widen(std::string_view text)
{
    std::u16string out(text.size(), u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) return AnsiToWide(text);
        out[i] = c;
    }
    return out;
}

// The attribute of that name; names are narrowed on the stack when short
// and plain ASCII, as attribute names nearly always are.
pugi::xml_attribute FindAttribute(const pugi::xml_node& node, std::u16string_view name)
{
    char narrow[64];
    if (name.size() < sizeof narrow) {
        bool ascii = true;
        for (std::size_t i = 0; i < name.size(); ++i) {
            ascii = ascii && name[i] < 0x80;
            narrow[i] = static_cast<char>(name[i]);
        }
        narrow[name.size()] = '\0';
        if (ascii) return node.attribute(narrow);
    }
    return node.attribute(WideToAnsi(name).c_str());
}

HRESULT CopyOut(std::u16string* out, std::u16string value)
{
    if (out == nullptr) return E_POINTER;
    *out = std::move(value);
    return S_OK;
}

std::u16string NameOf(const pugi::xml_node& node)
{
    switch (node.type()) {
    case pugi::node_element:
    case pugi::node_pi: return Widen(node.name());
    case pugi::node_pcdata: return u"#text";
    case pugi::node_cdata: return u"#cdata-section";
    case pugi::node_comment: return u"#comment";
    case pugi::node_document: return u"#document";
    case pugi::node_declaration: return u"xml";
    case pugi::node_doctype: return u"#doctype";
    default: return std::u16string();
    }
}

// The text of a node: its own value for text, CDATA and comments, and for
// an element or the document the text of every text or CDATA descendant in
// document order. The walk is iterative, so any depth is safe.
std::u16string TextOf(const pugi::xml_node& node)
{
    const pugi::xml_node_type type = node.type();
    if (type != pugi::node_element && type != pugi::node_document) return Widen(node.value());

    // The usual element: one text child.
    const pugi::xml_node only = node.first_child();
    if (only && !only.next_sibling() && (only.type() == pugi::node_pcdata || only.type() == pugi::node_cdata))
        return Widen(only.value());

    std::string text;
    pugi::xml_node current = node.first_child();
    while (current) {
        const pugi::xml_node_type t = current.type();
        if (t == pugi::node_pcdata || t == pugi::node_cdata) text += current.value();
        if (t == pugi::node_element && current.first_child()) {
            current = current.first_child();
            continue;
        }
        while (current && current != node && !current.next_sibling()) current = current.parent();
        if (!current || current == node) break;
        current = current.next_sibling();
    }
    return Widen(text);
}

// "/a/b" from the document, "a/b" from the node: each step takes the first
// child element of that name. Empty when nothing matches.
pugi::xml_node SelectElement(const pugi::xml_node& from, std::string_view path, HRESULT& hr)
{
    hr = S_OK;
    pugi::xml_node current = from;
    if (!path.empty() && path.front() == '/') {
        current = from.root();
        path.remove_prefix(1);
    }
    if (path.empty()) {
        hr = E_INVALIDARG;
        return {};
    }
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string step(path.substr(0, slash));
        if (step.empty()) {
            hr = E_INVALIDARG;
            return {};
        }
        current = current.child(step.c_str());
        if (!current) return {};
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    }
    return current;
}

// Copies UTF-16 text into `out` unit by unit, and says whether it was all
// ASCII (else `out` holds no meaning). Blocks of a fixed length let the
// compiler turn the loop into vector instructions.
bool NarrowAscii(std::u16string_view text, char* out)
{
    constexpr std::size_t kBlock = 64;
    const char16_t* in = text.data();
    const std::size_t size = text.size();
    char16_t high = 0;
    std::size_t i = 0;
    for (; i + kBlock <= size; i += kBlock) {
        // The text and the buffer never overlap; saying so lets the block
        // be copied without a check of each store against the next load.
        const char16_t* __restrict from = in + i;
        char* __restrict to = out + i;
        char16_t blockHigh = 0;
        for (std::size_t j = 0; j < kBlock; ++j) {
            blockHigh |= from[j];
            to[j] = static_cast<char>(from[j]);
        }
        high |= blockHigh;
    }
    for (; i < size; ++i) {
        high |= in[i];
        out[i] = static_cast<char>(in[i]);
    }
    return high < 0x80;
}

// Parses wide text. Plain ASCII text (what lshw prints) is narrowed in one
// pass into a buffer that the document then owns and parses in place; any
// other text is read by pugixml's own UTF-16 reader, where a lone surrogate
// ends in an error, never in a read out of bounds.
bool Parse(pugi::xml_document& document, std::u16string_view text)
{
    const std::size_t size = text.size();
    auto* buffer = static_cast<char*>(pugi::get_memory_allocation_function()(size != 0 ? size : 1));
    if (buffer == nullptr) throw std::bad_alloc();
    if (NarrowAscii(text, buffer))  // the document owns the buffer from here on, whatever the outcome
        return static_cast<bool>(document.load_buffer_inplace_own(buffer, size, kParseOptions, pugi::encoding_utf8));
    pugi::get_memory_deallocation_function()(buffer);
    return static_cast<bool>(
        document.load_buffer(text.data(), size * sizeof(char16_t), kParseOptions, pugi::encoding_utf16));
}

// A well-formed document has exactly one top element (pugixml would also
// take a fragment of several), and no document type declaration.
bool HasOneTopElement(const pugi::xml_document& document)
{
    int elements = 0;
    for (pugi::xml_node child = document.first_child(); child; child = child.next_sibling()) {
        if (child.type() == pugi::node_doctype) return false;
        if (child.type() == pugi::node_element) ++elements;
    }
    return elements == 1;
}

// What this service's node objects answer besides the DOM: the parser's
// node behind them, and a new node object of the same document.
class IXmlViewSource : public IUnknown {
public:
    virtual pugi::xml_node ViewNode() const = 0;
    virtual HRESULT HandNode(pugi::xml_node node, IXMLDOMNode** out) const = 0;

protected:
    ~IXmlViewSource() = default;
};

}  // namespace
FDX_DECLARE_IID(IXmlViewSource, "5C0F3E9A-2B7D-4E61-9A43-7F1D2C8B6E05");
namespace {

class CXmlNode;

// The operations every node object shares, over one pugixml node.
template <typename Interface>
class CXmlNodeBase : public Interface, public IXmlViewSource, private CRefCounted<CXmlNodeBase<Interface>> {
    friend class CRefCounted<CXmlNodeBase<Interface>>;

public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IXMLDOMNode || riid == IID_OF<Interface>()) {
            *ppv = static_cast<Interface*>(this);
        } else if (riid == IID_OF<IXmlViewSource>()) {
            *ppv = static_cast<IXmlViewSource*>(this);
        } else {
            return E_NOINTERFACE;
        }
        this->AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return this->AddRefImpl(); }
    ULONG Release() override { return this->ReleaseImpl(); }

    HRESULT get_nodeName(std::u16string* name) override
    {
        return ComBoundary([&] { return CopyOut(name, NameOf(Node())); });
    }
    HRESULT get_text(std::u16string* text) override
    {
        return ComBoundary([&] { return CopyOut(text, TextOf(Node())); });
    }
    HRESULT get_firstChild(IXMLDOMNode** child) override { return Hand(Node().first_child(), child); }
    HRESULT get_nextSibling(IXMLDOMNode** sibling) override { return Hand(Node().next_sibling(), sibling); }
    HRESULT getAttribute(std::u16string_view name, std::u16string* value) override
    {
        return ComBoundary([&] {
            if (value == nullptr) return E_POINTER;
            value->clear();
            const pugi::xml_attribute attribute = FindAttribute(Node(), name);
            if (!attribute) return S_FALSE;
            *value = Widen(attribute.value());
            return S_OK;
        });
    }
    HRESULT selectSingleNode(std::u16string_view path, IXMLDOMNode** node) override
    {
        if (node == nullptr) return E_POINTER;
        *node = nullptr;
        return ComBoundary([&] {
            HRESULT hr = S_OK;
            const pugi::xml_node found = SelectElement(Node(), WideToAnsi(path), hr);
            if (FAILED(hr)) return hr;
            return Hand(found, node);
        });
    }

    pugi::xml_node ViewNode() const override { return Node(); }
    HRESULT HandNode(pugi::xml_node node, IXMLDOMNode** out) const override { return Hand(node, out); }

protected:
    explicit CXmlNodeBase(std::shared_ptr<CXmlTree> tree) : m_tree(std::move(tree)) {}
    virtual ~CXmlNodeBase() = default;
    virtual pugi::xml_node Node() const = 0;

    // Hands out a new node object for `node`, or null and S_FALSE.
    HRESULT Hand(const pugi::xml_node& node, IXMLDOMNode** out) const;

    std::shared_ptr<CXmlTree> m_tree;
};

class CXmlNode final : public CXmlNodeBase<IXMLDOMNode> {
public:
    CXmlNode(std::shared_ptr<CXmlTree> tree, pugi::xml_node node) : CXmlNodeBase(std::move(tree)), m_node(node) {}

protected:
    pugi::xml_node Node() const override { return m_node; }

private:
    pugi::xml_node m_node;
};

template <typename Interface>
HRESULT CXmlNodeBase<Interface>::Hand(const pugi::xml_node& node, IXMLDOMNode** out) const
{
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (!node) return S_FALSE;
    return ComBoundary([&] {
        *out = new CXmlNode(m_tree, node);
        return S_OK;
    });
}

class CXmlDocument final : public CXmlNodeBase<IXMLDOMDocument> {
public:
    CXmlDocument() : CXmlNodeBase(std::make_shared<CXmlTree>()) {}

    HRESULT put_async(BOOL async) override { return S_OK; }

    HRESULT loadXML(std::u16string_view text, BOOL* success) override
    {
        if (success != nullptr) *success = FALSE;
        return ComBoundary([&] {
            // Nodes handed out earlier keep the tree they came from.
            auto tree = std::make_shared<CXmlTree>();
            const bool parsed =
                text.size() <= kMaxDocumentLength && Parse(tree->document, text) && HasOneTopElement(tree->document);
            if (!parsed) tree->document.reset();
            m_tree = std::move(tree);
            if (success != nullptr) *success = parsed ? TRUE : FALSE;
            return S_OK;
        });
    }

    HRESULT get_xml(std::u16string* text) override
    {
        return ComBoundary([&] {
            std::ostringstream out;
            m_tree->document.save(out, "\t", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
            return CopyOut(text, AnsiToWide(out.str()));
        });
    }

protected:
    pugi::xml_node Node() const override { return m_tree->document; }
};

void RequireNode(const com_ptr<IXMLDOMNode>& node)
{
    if (!node) throw ComError(E_POINTER);
}

}  // namespace

HRESULT CreateXmlDocument(REFCLSID clsid, IXMLDOMDocument** document)
{
    if (document == nullptr) return E_POINTER;
    *document = nullptr;
    if (!(clsid == CLSID_DOMDocument)) return CLASS_E_CLASSNOTAVAILABLE;
    return ComBoundary([&] {
        *document = new CXmlDocument();
        return S_OK;
    });
}

namespace xml {

std::u16string NodeName(const com_ptr<IXMLDOMNode>& node)
{
    RequireNode(node);
    std::u16string name;
    ThrowIfFailed(node->get_nodeName(&name));
    return name;
}

std::u16string Text(const com_ptr<IXMLDOMNode>& node)
{
    RequireNode(node);
    std::u16string text;
    ThrowIfFailed(node->get_text(&text));
    return text;
}

std::u16string Attribute(const com_ptr<IXMLDOMNode>& node, std::u16string_view name)
{
    RequireNode(node);
    std::u16string value;
    const HRESULT hr = node->getAttribute(name, &value);
    ThrowIfFailed(hr);
    if (hr == S_FALSE) throw ComError(E_POINTER);
    return value;
}

com_ptr<IXMLDOMNode> SelectSingleNode(const com_ptr<IXMLDOMNode>& node, std::u16string_view path)
{
    RequireNode(node);
    com_ptr<IXMLDOMNode> found;
    ThrowIfFailed(node->selectSingleNode(path, found.put()));
    return found;
}

namespace {

pugi::xml_node Unwrap(void* node) { return pugi::xml_node(static_cast<pugi::xml_node_struct*>(node)); }

}  // namespace

CNodeView CNodeView::FirstChild() const { return CNodeView(Unwrap(m_pNode).first_child().internal_object()); }

CNodeView CNodeView::NextSibling() const { return CNodeView(Unwrap(m_pNode).next_sibling().internal_object()); }

bool CNodeView::IsElement(std::string_view name) const { return ElementName() == name; }

std::string_view CNodeView::ElementName() const
{
    const pugi::xml_node node = Unwrap(m_pNode);
    return node.type() == pugi::node_element ? std::string_view(node.name()) : std::string_view();
}

std::u16string CNodeView::Name() const { return NameOf(Unwrap(m_pNode)); }

std::u16string CNodeView::Text() const { return TextOf(Unwrap(m_pNode)); }

bool CNodeView::Attribute(std::string_view name, std::u16string& value) const
{
    value.clear();
    for (pugi::xml_attribute attribute = Unwrap(m_pNode).first_attribute(); attribute;
         attribute = attribute.next_attribute())
        if (name == attribute.name()) {
            value = Widen(attribute.value());
            return true;
        }
    return false;
}

CNodeView View(const com_ptr<IXMLDOMNode>& node)
{
    if (!node) return {};
    com_ptr<IXmlViewSource> source;
    if (FAILED(node.query_to(source)) || !source) return {};
    return CNodeView(source->ViewNode().internal_object());
}

com_ptr<IXMLDOMNode> Hand(const com_ptr<IXMLDOMNode>& sameDocument, CNodeView view)
{
    RequireNode(sameDocument);
    com_ptr<IXmlViewSource> source;
    ThrowIfFailed(sameDocument.query_to(source));
    if (!source) throw ComError(E_NOINTERFACE);
    com_ptr<IXMLDOMNode> node;
    ThrowIfFailed(source->HandNode(Unwrap(view.m_pNode), node.put()));
    return node;
}

}  // namespace xml

namespace xml {

std::u16string AttributeOrEmpty(const com_ptr<IXMLDOMNode>& node, std::u16string_view name)
{
    RequireNode(node);
    std::u16string value;
    ThrowIfFailed(node->getAttribute(name, &value));
    return value;
}

bool LoadText(const com_ptr<IXMLDOMDocument>& document, std::u16string_view text)
{
    BOOL loaded = FALSE;
    document->put_async(FALSE);
    return SUCCEEDED(document->loadXML(text, &loaded)) && loaded;
}

}  // namespace xml
