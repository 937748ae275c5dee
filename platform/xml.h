// The XML document service: a DOM over one parsed document, offering what
// the hardware tree reads. Comments are nodes named "#comment"; text made
// only of white space is dropped; a failing step raises ComError.
#pragma once

#include <string>
#include <string_view>

#include "platform/com.h"

#ifdef _WIN32
#include <msxml2.h>

FDX_SYSTEM_IID(IXMLDOMNode, "2933BF80-7B36-11D2-B20E-00C04F983E60");
FDX_SYSTEM_IID(IXMLDOMDocument, "2933BF81-7B36-11D2-B20E-00C04F983E60");
#else
class IXMLDOMNode : public IUnknown {
public:
    // "#comment" for a comment, "#text" for text, "#cdata-section", else the
    // element name.
    virtual HRESULT get_nodeName(std::u16string* name) = 0;
    // The concatenated text of the node and all its descendants.
    virtual HRESULT get_text(std::u16string* text) = 0;
    // S_FALSE and null when there is none.
    virtual HRESULT get_firstChild(IXMLDOMNode** child) = 0;
    virtual HRESULT get_nextSibling(IXMLDOMNode** sibling) = 0;
    // S_FALSE and an empty text when the attribute is missing.
    virtual HRESULT getAttribute(std::u16string_view name, std::u16string* value) = 0;
    // S_FALSE and null when the path selects nothing. Paths are absolute
    // element paths such as "/node".
    virtual HRESULT selectSingleNode(std::u16string_view path, IXMLDOMNode** node) = 0;

protected:
    ~IXMLDOMNode() = default;
};
FDX_DECLARE_IID(IXMLDOMNode, "2933BF80-7B36-11D2-B20E-00C04F983E60");

class IXMLDOMDocument : public IXMLDOMNode {
public:
    virtual HRESULT put_async(BOOL async) = 0;
    // Parses text; *success is false (and the document empty) when it is
    // not well-formed, holds a document type declaration (no DTD, so no
    // entity beyond the five predefined ones and no external resource), or
    // is longer than 64 Mi UTF-16 units. The result code is S_OK either way.
    virtual HRESULT loadXML(std::u16string_view text, BOOL* success) = 0;
    // The document serialised as XML text.
    virtual HRESULT get_xml(std::u16string* text) = 0;

protected:
    ~IXMLDOMDocument() = default;
};
FDX_DECLARE_IID(IXMLDOMDocument, "2933BF81-7B36-11D2-B20E-00C04F983E60");

#ifndef _WIN32
// The document class of the XML service.
inline constexpr CLSID CLSID_DOMDocument = MakeGuid("F6D90F11-9C73-11D3-B32E-00C04F990BB4");
#endif

// Creates a new, empty document (the service's class object).
#endif

HRESULT CreateXmlDocument(REFCLSID clsid, IXMLDOMDocument** document);

// Calls that raise ComError on failure, and E_POINTER on a null node, as
// the smart wrappers of the XML service do.
namespace xml {
std::u16string NodeName(const com_ptr<IXMLDOMNode>& node);
std::u16string Text(const com_ptr<IXMLDOMNode>& node);
com_ptr<IXMLDOMNode> FirstChild(const com_ptr<IXMLDOMNode>& node);
com_ptr<IXMLDOMNode> NextSibling(const com_ptr<IXMLDOMNode>& node);
// The attribute's text; raises E_POINTER when it is missing, as a lookup in
// the attribute map that finds nothing gives a null node.
std::u16string Attribute(const com_ptr<IXMLDOMNode>& node, std::u16string_view name);
com_ptr<IXMLDOMNode> SelectSingleNode(const com_ptr<IXMLDOMNode>& node, std::u16string_view path);
// The attribute's value, empty when the element has none.
std::u16string AttributeOrEmpty(const com_ptr<IXMLDOMNode>& node, std::u16string_view name);
// Parses text into the document, synchronously; false when it is no
// well-formed XML (the document is empty then).
bool LoadText(const com_ptr<IXMLDOMDocument>& document, std::u16string_view text);

// A read-only position in a parsed document, for walks over many nodes
// without a node object for each. It reads as the node objects do (names,
// text, attributes) and is valid while a node object of its document is
// held. An empty view stands for "no node".
class CNodeView {
public:
    CNodeView() = default;

#ifdef _WIN32
    explicit operator bool() const { return static_cast<bool>(m_spNode); }
#else
    explicit operator bool() const { return m_pNode != nullptr; }
#endif
    CNodeView FirstChild() const;
    CNodeView NextSibling() const;
    // True for an element of that (ASCII) name; no text is made.
    bool IsElement(std::string_view name) const;
    // An element's name as the document spells it (UTF-8); empty for any
    // other kind of node.
    std::string_view ElementName() const;
    // As get_nodeName and get_text.
    std::u16string Name() const;
    std::u16string Text() const;
    // False and an empty value when the element has no such attribute.
    bool Attribute(std::string_view name, std::u16string& value) const;

private:
    friend CNodeView View(const com_ptr<IXMLDOMNode>& node);
    friend com_ptr<IXMLDOMNode> Hand(const com_ptr<IXMLDOMNode>& sameDocument, CNodeView view);
#ifdef _WIN32
    explicit CNodeView(com_ptr<IXMLDOMNode> node);
    com_ptr<IXMLDOMNode> m_spNode;  // one reference to the parser's node
    std::string m_strElement;       // its name when it is an element
#else
    explicit CNodeView(void* node) : m_pNode(node) {}
    void* m_pNode = nullptr;  // the parser's node; owned by the document
#endif
};

// The view of a node object of this service (empty for a null node or a
// node of another implementation).
CNodeView View(const com_ptr<IXMLDOMNode>& node);
// A node object for `view`, which must lie in the same document as
// `sameDocument`; it keeps the document alive like any node object.
com_ptr<IXMLDOMNode> Hand(const com_ptr<IXMLDOMNode>& sameDocument, CNodeView view);
}  // namespace xml
