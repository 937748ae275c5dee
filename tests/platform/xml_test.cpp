// The XML document service: what the hardware tree reads from it, and that
// bad input ends in a clean failure.
#include <gtest/gtest.h>

#include <string>

#include "platform/xml.h"

namespace {

com_ptr<IXMLDOMDocument> Load(std::u16string_view text, BOOL* ok = nullptr)
{
    com_ptr<IXMLDOMDocument> document;
    EXPECT_EQ(CreateXmlDocument(CLSID_DOMDocument, document.put()), S_OK);
    EXPECT_EQ(document->put_async(FALSE), S_OK);
    BOOL loaded = FALSE;
    EXPECT_EQ(document->loadXML(text, &loaded), S_OK);
    if (ok != nullptr) *ok = loaded;
    return document;
}

com_ptr<IXMLDOMNode> Top(const com_ptr<IXMLDOMDocument>& document)
{
    return xml::SelectSingleNode(document.query<IXMLDOMNode>(), u"/node");
}

std::vector<std::u16string> ChildNames(const com_ptr<IXMLDOMNode>& node)
{
    std::vector<std::u16string> names;
    for (auto child = xml::FirstChild(node); child; child = xml::NextSibling(child)) names.push_back(xml::NodeName(child));
    return names;
}

TEST(XmlTest, WalksChildrenDroppingWhiteSpaceAndNamingComments)
{
    auto document = Load(u"<?xml version=\"1.0\"?>\n<node id=\"pc\">\n  <!-- generated -->\n  <description>Desktop</description>\n"
                         u"  <node id=\"core\"/>\n  <![CDATA[raw]]>\n</node>\n");
    auto top = Top(document);
    ASSERT_TRUE(top);
    EXPECT_EQ(xml::NodeName(top), u"node");
    EXPECT_EQ(xml::Attribute(top, u"id"), u"pc");
    EXPECT_EQ(ChildNames(top), (std::vector<std::u16string>{u"#comment", u"description", u"node", u"#cdata-section"}));
    auto comment = xml::FirstChild(top);
    EXPECT_EQ(xml::Text(comment), u" generated ");

    // Text joins every descendant's but no comment's, and keeps non-ASCII.
    document = Load(u"<node><a>one <b>two <c>three</c></b><!--x--> four</a><e/></node>");
    auto a = xml::FirstChild(Top(document));
    EXPECT_EQ(xml::Text(a), u"one two three four");
    EXPECT_EQ(xml::Text(xml::NextSibling(a)), u"");
    EXPECT_EQ(xml::Text(Top(document)), u"one two three four");
    document = Load(u"<node id=\"\u00e9t\u00e9\"><v>\u65e5\u672c \U0001F600 &amp; &lt;</v></node>");
    top = Top(document);
    EXPECT_EQ(xml::Attribute(top, u"id"), u"\u00e9t\u00e9");
    EXPECT_EQ(xml::Text(xml::FirstChild(top)), u"\u65e5\u672c \U0001F600 & <");
}

TEST(XmlTest, LoneSurrogatesNeverBreakTheParse)
{
    std::u16string text = u"<node id='x'><v>a?b</v></node>";
    for (char16_t unit : {char16_t(0xD800), char16_t(0xDFFF)}) {
        text[17] = unit;
        BOOL ok = FALSE;
        auto document = Load(text, &ok);
        if (ok) {
            EXPECT_EQ(xml::NodeName(xml::FirstChild(Top(document))), u"v");
        }
    }
    BOOL ok = TRUE;
    Load(u"<node id='\xD800'/>" + std::u16string(1, char16_t(0xDBFF)), &ok);  // lone lead at the very end
}

TEST(XmlTest, MissingThingsGiveNullsAndPointerErrors)
{
    com_ptr<IXMLDOMDocument> unknown;
    EXPECT_EQ(CreateXmlDocument(GUID_NULL, unknown.put()), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_FALSE(unknown);
    auto document = Load(u"<node><leaf/></node>");
    auto leaf = xml::FirstChild(Top(document));
    EXPECT_FALSE(xml::FirstChild(leaf));
    EXPECT_FALSE(xml::NextSibling(leaf));

    std::u16string value = u"stale";
    EXPECT_EQ(leaf->getAttribute(u"id", &value), S_FALSE);
    EXPECT_TRUE(value.empty());
    try {
        xml::Attribute(leaf, u"id");
        FAIL() << "a missing attribute must raise";
    } catch (const ComError& e) {
        EXPECT_EQ(e.Error(), E_POINTER);
    }
    try {
        xml::NodeName(com_ptr<IXMLDOMNode>());
        FAIL() << "a null node must raise";
    } catch (const ComError& e) {
        EXPECT_EQ(e.Error(), E_POINTER);
    }
}

TEST(XmlTest, SelectionFindsOnlyTheTopElementOfThatName)
{
    auto document = Load(u"<list><node id=\"inner\"/></list>");
    EXPECT_FALSE(Top(document));
    auto root = document.query<IXMLDOMNode>();
    auto inner = xml::SelectSingleNode(root, u"/list/node");
    ASSERT_TRUE(inner);
    EXPECT_EQ(xml::Attribute(inner, u"id"), u"inner");
    // An absolute path from an inner node still starts at the document.
    EXPECT_TRUE(xml::SelectSingleNode(inner, u"/list"));
    com_ptr<IXMLDOMNode> none;
    EXPECT_EQ(root->selectSingleNode(u"//", none.put()), E_INVALIDARG);
    EXPECT_THROW(xml::SelectSingleNode(root, u""), ComError);
}

TEST(XmlTest, MalformedOrTruncatedTextLeavesAnEmptyDocument)
{
    for (std::u16string_view text : {u"", u"<node>", u"<node><a></b></node>", u"<node id=\"x></node>", u"plain text",
                                     u"<node/><node/>", u"<!-- only a comment -->"}) {
        BOOL ok = TRUE;
        auto document = Load(text, &ok);
        EXPECT_FALSE(ok) << "accepted: " << std::string(text.begin(), text.end());
        EXPECT_FALSE(Top(document));
        EXPECT_FALSE(xml::FirstChild(document.query<IXMLDOMNode>()));
    }
    const std::u16string text =
        u"<node id=\"pc\" class=\"system\"><!-- c --><size units=\"bytes\">1024</size><capabilities>"
        u"<capability id=\"fpu\">co-processor</capability></capabilities><![CDATA[x]]></node>";
    for (std::size_t n = 0; n < text.size(); ++n) {
        BOOL ok = TRUE;
        Load(std::u16string_view(text).substr(0, n), &ok);
        EXPECT_FALSE(ok) << n;
    }
    BOOL ok = FALSE;
    Load(text, &ok);
    EXPECT_TRUE(ok);
}

TEST(XmlTest, NodesOutliveTheirDocumentAndAReloadAndItSerialises)
{
    com_ptr<IXMLDOMNode> description;
    {
        auto document = Load(u"<node><description>kept</description></node>");
        description = xml::FirstChild(Top(document));
        BOOL ok = FALSE;
        ASSERT_EQ(document->loadXML(u"<node><other/></node>", &ok), S_OK);
        EXPECT_TRUE(ok);
        EXPECT_EQ(xml::NodeName(xml::FirstChild(Top(document))), u"other");
    }
    EXPECT_EQ(xml::Text(description), u"kept");
    // Serialised without the white space between elements.
    auto document = Load(u"<node id=\"a\">\n  <v>1 &amp; 2</v>\n</node>");
    std::u16string text;
    ASSERT_EQ(document->get_xml(&text), S_OK);
    EXPECT_EQ(text, u"<node id=\"a\"><v>1 &amp; 2</v></node>");
}

TEST(XmlTest, DeepNestingIsWalkedWithoutRecursion)
{
    std::u16string text;
    const int depth = 200000;
    for (int i = 0; i < depth; ++i) text += u"<a>";
    text += u"x";
    for (int i = 0; i < depth; ++i) text += u"</a>";
    text = u"<node>" + text + u"</node>";
    BOOL ok = FALSE;
    auto document = Load(text, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(xml::Text(Top(document)), u"x");
}

// What a document may hold of XML's means to reach outside itself or to
// grow: no DTD at all, so no entity but the five predefined ones and
// character references, and no external resource.
TEST(XmlTest, ADocumentTypeDeclarationIsRefusedWhateverItHolds)
{
    const std::u16string doctypes[] = {
        u"<!DOCTYPE node>",
        u"<!DOCTYPE node [<!ENTITY e \"expanded\">]>",
        u"<!DOCTYPE node SYSTEM \"/etc/hostname\">",
        u"<!DOCTYPE node [<!ENTITY e SYSTEM \"file:///etc/hostname\">]>",
        u"<!DOCTYPE node [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]>",
    };
    for (const std::u16string& doctype : doctypes) {
        for (const std::u16string& body : {std::u16string(u"<node>&e;</node>"), std::u16string(u"<node>x</node>")}) {
            BOOL ok = TRUE;
            auto document = Load(u"<?xml version=\"1.0\"?>" + doctype + body, &ok);
            EXPECT_FALSE(ok);
            EXPECT_FALSE(Top(document));
        }
    }
}

TEST(XmlTest, OnlyThePredefinedEntitiesAndCharacterReferencesAreExpanded)
{
    BOOL ok = FALSE;
    auto document = Load(u"<node a=\"&lt;&gt;&amp;&apos;&quot;\">&lt;&gt;&amp;&apos;&quot;&#65;&#x42;</node>", &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(xml::Attribute(Top(document), u"a"), u"<>&'\"");
    EXPECT_EQ(xml::Text(Top(document)), u"<>&'\"AB");
    // Any other reference is never replaced by anything: the document is
    // refused, or the reference stays as written.
    document = Load(u"<node>&e;&nbsp;</node>", &ok);
    if (ok) {
        EXPECT_EQ(xml::Text(Top(document)), u"&e;&nbsp;");
    }
}

TEST(XmlTest, ADocumentOverTheSizeLimitIsRefused)
{
    std::u16string text = u"<node>";
    text.append((std::size_t{64} << 20) - text.size() - 7 + 1, u'x');
    text += u"</node>";
    BOOL ok = TRUE;
    Load(text, &ok);
    EXPECT_FALSE(ok);
    text.erase(6, 1);  // exactly at the limit
    Load(text, &ok);
    EXPECT_TRUE(ok);
}

}  // namespace
