// Walking a document's nodes: the same calls on either side's nodes.
#include "platform/xml.h"

namespace xml {

namespace {

void RequireNode(const com_ptr<IXMLDOMNode>& node)
{
    if (!node) throw ComError(E_POINTER);
}

}  // namespace

com_ptr<IXMLDOMNode> FirstChild(const com_ptr<IXMLDOMNode>& node)
{
    RequireNode(node);
    com_ptr<IXMLDOMNode> child;
    ThrowIfFailed(node->get_firstChild(child.put()));
    return child;
}

com_ptr<IXMLDOMNode> NextSibling(const com_ptr<IXMLDOMNode>& node)
{
    RequireNode(node);
    com_ptr<IXMLDOMNode> sibling;
    ThrowIfFailed(node->get_nextSibling(sibling.put()));
    return sibling;
}

}  // namespace xml
