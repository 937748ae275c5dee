// The texts the console host makes for people and programs: pages as plain
// text, JSON, node paths.
#include <gtest/gtest.h>

#include "console/html_text.h"
#include "console/json_writer.h"
#include "console/node_path.h"
#include "tests/console/json_value.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(HtmlText, PagesBecomeReadableLines)
{
    const std::string page =
        "<html><head><title>Hidden</title><style>p{color:red}</style></head><body>\n"
        "<h1><font color=\"#cc0000\">Sorry.</font></h1>\n<p>The   host\ncould not be reached.</p>"
        "<ul><li>No SSH &amp; no &quot;lshw&quot;</li><li>Wrong&nbsp;login &#65;&#x42;</li></ul>"
        "<p><img src=\"x.bmp\" alt='No connection'> <!-- <p>comment</p> -->end<br>next</p></body></html>";
    EXPECT_EQ(HtmlToText(page),
              "Sorry.\n\nThe host could not be reached.\n\n* No SSH & no \"lshw\"\n* Wrong login AB\n\n"
              "[No connection] end\nnext\n");
}

TEST(HtmlText, BrokenMarkupNeverStopsTheText)
{
    EXPECT_EQ(HtmlToText("a < b && c &bogus; &#xZZ; &#9999999; &#99999999999999;"),
              "a < b && c &bogus; &#xZZ; \xEF\xBF\xBD &#99999999999999;\n");
    EXPECT_EQ(HtmlToText("<p>unterminated <b"), "unterminated <b\n");
    EXPECT_EQ(HtmlToText("<script>never shown"), "");
    EXPECT_EQ(HtmlToText(""), "");
    // Every module page renders to something.
    for (const char* name : {"ci.html", "group.html", "mycomputers.html"})
        EXPECT_FALSE(HtmlToText(ReadWholeFile(SourceDir() + "/res/html/" + name)).empty()) << name;
}

TEST(JsonWriter, EscapesEverythingAStrictReaderRefuses)
{
    const char controls[] = "tab\tnl\ncr\rnul\0bell\x07 del\x7f";
    const char broken[] = "\xC3\x28 \xED\xA0\x80 \xF0\x9F\x98\x80";
    CJsonWriter json;
    json.BeginObject();
    json.Key("quote\"back\\slash");
    json.String(std::string(controls, sizeof controls - 1));
    json.Key("bad utf8");
    json.String(std::string(broken, sizeof broken - 1));
    json.Key("wide");
    json.String(std::u16string(u"caf\u00e9 \xD800"));
    json.Key("list");
    json.BeginArray();
    json.Number(-3);
    json.Bool(true);
    json.BeginArray();
    json.EndArray();
    json.BeginObject();
    json.EndObject();
    json.EndArray();
    json.EndObject();

    JsonValue value;
    std::string error;
    ASSERT_TRUE(ParseJson(json.Text(), value, &error)) << error << "\n" << json.Text();
    EXPECT_EQ(value["quote\"back\\slash"].text, std::string(controls, sizeof controls - 1));
    EXPECT_EQ(value["bad utf8"].text, "\xEF\xBF\xBD( \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD \xF0\x9F\x98\x80");
    EXPECT_EQ(value["wide"].text, "caf\xC3\xA9 \xEF\xBF\xBD");
    ASSERT_EQ(value["list"].items.size(), 4u);
    EXPECT_EQ(value["list"][0].number, -3);
    EXPECT_EQ(value["list"][2].kind, JsonValue::Kind::Array);
    EXPECT_EQ(value["list"][3].kind, JsonValue::Kind::Object);
}

TEST(JsonWriter, KeepsHostileTextExactButInert)
{
    // Every C0 control and DEL, the C1 controls and the bidirectional
    // overrides: escaped on the way out, the same text once read back.
    std::string hostile;
    for (int c = 0; c < 0x20; ++c) hostile += static_cast<char>(c);
    hostile += "\x7f" "\xC2\x80\xC2\x85\xC2\x9B\xC2\x9F" "\xE2\x80\xA8\xE2\x80\xAE\xE2\x81\xA6\xE2\x81\xA9";
    hostile += "\xC2\xA0\xE2\x80\xAF";  // printable neighbours stay as they are
    const std::string quoted = JsonQuote(hostile);
    for (unsigned char b : quoted) EXPECT_FALSE(b < 0x20 || b == 0x7F) << int(b);
    for (const char* raw : {"\xC2\x85", "\xC2\x9B", "\xE2\x80\xAE", "\xE2\x81\xA6"})
        EXPECT_EQ(quoted.find(raw), std::string::npos) << quoted;
    EXPECT_NE(quoted.find("\\u001f\\u007f\\u0080\\u0085\\u009b\\u009f\\u2028\\u202e\\u2066\\u2069\xC2\xA0\xE2\x80\xAF"),
              std::string::npos)
        << quoted;
    JsonValue value;
    std::string error;
    ASSERT_TRUE(ParseJson(quoted, value, &error)) << error << "\n" << quoted;
    EXPECT_EQ(value.text, hostile);
}

TEST(NodePath, EscapedSlashesAndBackslashesRoundTrip)
{
    EXPECT_TRUE(ParseNodePath(u"").empty());
    EXPECT_EQ(ParseNodePath(u"Lab/srv/core/cpu:0"), (std::vector<std::u16string>{u"Lab", u"srv", u"core", u"cpu:0"}));
    EXPECT_EQ(ParseNodePath(u"a\\/b/c\\\\d/\\x"), (std::vector<std::u16string>{u"a/b", u"c\\d", u"\\x"}));
    EXPECT_EQ(ParseNodePath(u"Lab/"), (std::vector<std::u16string>{u"Lab", u""}));
    EXPECT_EQ(ParseNodePath(u"/"), (std::vector<std::u16string>{u"", u""}));
    for (const std::vector<std::u16string>& names :
         {std::vector<std::u16string>{u"a/b", u"\\", u""}, std::vector<std::u16string>{u"", u"x\\/y"}})
        EXPECT_EQ(ParseNodePath(FormatNodePath(names)), names);
}

}  // namespace
