// The jump route as users write it: what reads, what is refused, and that
// the written form reads back to the same hops.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scan/jump_route.h"

namespace {

struct SCase {
    const char* text;
    std::vector<SJumpHop> hops;
};

bool Same(const std::vector<SJumpHop>& a, const std::vector<SJumpHop>& b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].user != b[i].user || a[i].host != b[i].host || a[i].port != b[i].port) return false;
    return true;
}

TEST(JumpRoute, AcceptedFormsReadAndReadBackAlike)
{
    const SCase cases[] = {
        {"", {}},
        {"   ", {}},
        {"gw", {{"", "gw", 22}}},
        {"ops@gw.example.org:2222", {{"ops", "gw.example.org", 2222}}},
        {"10.0.0.1:1,ops@b:65535", {{"", "10.0.0.1", 1}, {"ops", "b", 65535}}},
        {" a , b ", {{"", "a", 22}, {"", "b", 22}}},
        {"[::1]:2200", {{"", "::1", 2200}}},
        {"gw:0022", {{"", "gw", 22}}},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<SJumpHop> hops{{"x", "stale", 1}};
        ASSERT_TRUE(ParseJumpRoute(c.text, hops));
        EXPECT_TRUE(Same(hops, c.hops));
        std::vector<SJumpHop> again;
        ASSERT_TRUE(ParseJumpRoute(FormatJumpRoute(hops), again)) << FormatJumpRoute(hops);
        EXPECT_TRUE(Same(again, hops));
    }
}

TEST(JumpRoute, MalformedRoutesAreRefusedAndLeaveTheHopsAlone)
{
    const std::string longName(256, 'a');
    const std::string tooLong(1025, 'a');
    const char* const refused[] = {
        "a,b,c",     ",",          "a,",        ",a",        "@gw",        "ops@",      "a@b@c",
        "gw:",       "gw:0",       "gw:65536",  "gw:99999999999", "gw:+22", "gw:2 2",  "g w",
        "gw\t1",     "gw\n",       "gw\x1b[2J", "[::1",      "[::1]x",     "[]",        "[gw]",
        "-oProxyCommand=x", "gw/path", "gw;rm",  "op s@gw",   "ops:x@gw",
    };
    for (const char* text : refused) {
        SCOPED_TRACE(text);
        std::vector<SJumpHop> hops{{"kept", "kept", 7}};
        EXPECT_FALSE(ParseJumpRoute(text, hops));
        ASSERT_EQ(hops.size(), 1u);
        EXPECT_EQ(hops[0].host, "kept");
    }
    std::vector<SJumpHop> hops;
    EXPECT_FALSE(ParseJumpRoute(longName, hops)) << "a name longer than 255 bytes";
    EXPECT_TRUE(ParseJumpRoute(longName.substr(1), hops));
    EXPECT_FALSE(ParseJumpRoute(tooLong, hops)) << "a route longer than 1024 bytes";
    bool valid = true;
    EXPECT_EQ(NormalJumpRoute(u"a,b,c", valid), u"");
    EXPECT_FALSE(valid);
}

}  // namespace
