// The commands an administrator runs beside the inventory: the settings
// (config), and the refresh table and a group's list as they fit a
// terminal. The real program, its own registry and console file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>

#include "platform/product_settings.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tests/support/scoped_env.h"

#include "tests/console/command_fixture.h"

namespace {

class AdminCommandTest : public CCommandFixture {
protected:
    static std::vector<std::string> Lines(const std::string& text)
    {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    // Terminal columns of UTF-8 text without wide characters.
    static std::size_t Columns(const std::string& text)
    {
        return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
    }
};

TEST_F(AdminCommandTest, SettingsAreListedCheckedStoredAndReset)
{
    // Every setting of the table, at its default, with its meaning.
    // Then the one text setting, the shared history.
    const JsonValue all = Json({"config", "list", "--json"});
    ASSERT_EQ(all.items.size(), ProductSettings().size() + 1);
    EXPECT_EQ(all.items.back()["name"].text, "HistoryDatabase");
    EXPECT_EQ(all.items.back()["value"].text, "");
    for (std::size_t i = 0; i + 1 < all.items.size(); ++i) {
        const SProductSetting& setting = ProductSettings()[i];
        EXPECT_EQ(all.items[i]["name"].text, ProductSettingName(setting));
        EXPECT_EQ(all.items[i]["value"].number, setting.defaultValue) << ProductSettingName(setting);
        EXPECT_EQ(all.items[i]["stored"].kind, JsonValue::Kind::Null) << ProductSettingName(setting);
        EXPECT_GE(setting.defaultValue, setting.minimum) << ProductSettingName(setting);
        EXPECT_LE(setting.defaultValue, setting.maximum) << ProductSettingName(setting);
    }
    const std::vector<std::string> text = Lines(Ok({"config", "list"}).out);
    ASSERT_EQ(text.size(), ProductSettings().size() + 2);
    EXPECT_EQ(text[0].substr(0, 4), "NAME");

    // The bounds themselves are taken, whatever the case of the name; the
    // value is what the scans read.
    Ok({"config", "set", "refreshjobs", "64"});
    Ok({"config", "set", "CommandTimeoutSeconds", "1"});
    EXPECT_EQ(Ok({"config", "get", "RefreshJobs"}).out, "64\n");
    EXPECT_EQ(Ok({"config", "get", "CommandTimeoutSeconds"}).out, "1\n");

    // Refused with the reason and exit 2; what was stored stays.
    const std::string registryBefore = ReadWholeFile(m_env.registry + "/HKEY_CURRENT_USER.reg");
    for (const std::string& value : {std::string("0"), std::string("65"), std::string("-1"), std::string("1e3"),
                                     std::string(""), std::string(" 8"), std::string("99999999999999999999999")}) {
        const RunResult refused = Run({"config", "set", "RefreshJobs", value});
        EXPECT_EQ(refused.status, 2) << value;
        EXPECT_NE(refused.err.find("RefreshJobs"), std::string::npos) << refused.err;
        EXPECT_NE(refused.err.find("1 to 64"), std::string::npos) << refused.err;
    }
    const RunResult unknown = Run({"config", "set", "Jobs", "4"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("no setting is named \"Jobs\""), std::string::npos) << unknown.err;
    EXPECT_EQ(Run({"config", "get", "Nope"}).status, 2);
    EXPECT_EQ(ReadWholeFile(m_env.registry + "/HKEY_CURRENT_USER.reg"), registryBefore);

    // A value stored out of bounds by hand is not used, and the list says so.
    {
        CScopedEnv registry("FERRODEX_REGISTRY", m_env.registry);
        ASSERT_EQ(RegWriteDword(HKEY_CURRENT_USER, kProductSettingsKey, u"MaxOutputMiB", 500), ERROR_SUCCESS);
    }
    EXPECT_EQ(Ok({"config", "get", "MaxOutputMiB"}).out, "16\n");
    EXPECT_NE(Ok({"config", "list"}).out.find("stored 500 is out of bounds and not used"), std::string::npos);

    // The text setting takes a location, shown without anything but where it is.
    Ok({"config", "set", "historydatabase", "postgresql://fdx@db.example:5433/inv?sslmode=verify-full"});
    EXPECT_EQ(Ok({"config", "get", "HistoryDatabase"}).out, "postgresql://fdx@db.example:5433/inv?sslmode=verify-full\n");
    EXPECT_NE(Ok({"config", "list"}).out.find("(now db.example:5433/inv)"), std::string::npos);
    Ok({"config", "set", "HistoryDatabase", "default"});
    EXPECT_EQ(Ok({"config", "get", "HistoryDatabase"}).out, "\n");

    // "default" removes the stored value.
    Ok({"config", "set", "RefreshJobs", "default"});
    Ok({"config", "set", "RefreshJobs", "default"});  // again: nothing to remove
    EXPECT_EQ(Ok({"config", "get", "RefreshJobs"}).out, "8\n");
    for (const JsonValue& setting : Json({"config", "list", "--json"}).items)
        if (setting["name"].text == "RefreshJobs") {
            EXPECT_EQ(setting["stored"].kind, JsonValue::Kind::Null);
        }
}

TEST_F(AdminCommandTest, RefreshTableAndGroupListFitTheTerminalAndJsonKeepsTheWholeResult)
{
    // Two hosts whose refresh fails with a long message (nothing listens
    // on port 1).
    Ok({"group", "add", "Lab"});
    Ok({"host", "add", "Lab", "web-frontend-01", "--address", "127.0.0.1", "--port", "1", "--login", "root"});
    Ok({"host", "add", "Lab", "db", "--address", "127.0.0.1", "--port", "1", "--login", "deploy"});
    std::string fullResult;
    for (const std::string& line : Lines(Run({"refresh", "--json", "--password-stdin"}, "pw\n").out)) {
        JsonValue record;
        ASSERT_TRUE(ParseJson(line, record, nullptr)) << line;
        EXPECT_FALSE(record["ok"].boolean);
        fullResult = record["result"].text;
    }
    ASSERT_GT(fullResult.size(), 30u) << fullResult;

    for (const int width : {60, 80, 120}) {
        CScopedEnv columns("COLUMNS", std::to_string(width));
        const RunResult refresh = Run({"refresh", "--password-stdin"}, "pw\n");
        EXPECT_EQ(refresh.status, 1) << refresh.err;
        const std::vector<std::string> lines = Lines(refresh.out);
        ASSERT_EQ(lines.size(), 4u) << refresh.out;
        EXPECT_EQ(lines[0].substr(0, 4), "HOST");
        for (const std::string& line : lines) EXPECT_LE(Columns(line), static_cast<std::size_t>(width)) << line;
        // Cut where it must be, whole where it fits; the other columns stay.
        const bool fits = fullResult.size() + 54 <= static_cast<std::size_t>(width);
        EXPECT_EQ(lines[1].find(fullResult) != std::string::npos, fits) << lines[1];
        EXPECT_EQ(lines[1].find("\xE2\x80\xA6") != std::string::npos, !fits) << lines[1];
        EXPECT_NE(lines[1].find("password"), std::string::npos) << lines[1];

        // The group's list: the columns of the console's list.
        const std::vector<std::string> listed = Lines(Ok({"show", "Lab"}).out);
        ASSERT_EQ(listed.size(), 3u);
        for (const char* column : {"Name", "Last scan", "Result", "Login", "Sudo"})
            EXPECT_NE(listed[0].find(column), std::string::npos) << listed[0];
        for (const std::string& line : listed) EXPECT_LE(Columns(line), static_cast<std::size_t>(width)) << line;
    }
    // Not a terminal and no COLUMNS: lines of any length, nothing cut.
    CScopedEnv columns("COLUMNS", "");
    const RunResult whole = Run({"refresh", "--password-stdin"}, "pw\n");
    EXPECT_NE(whole.out.find(fullResult), std::string::npos) << whole.out;
    const JsonValue group = Json({"show", "Lab", "--json"});
    ASSERT_EQ(group["columns"].items.size(), 5u);
    ASSERT_EQ(group["rows"].items.size(), 2u);
    EXPECT_EQ(group["rows"].items[0].items[0].text, "web-frontend-01");
    EXPECT_EQ(group["rows"].items[0].items[3].text, "password");
    // The failure is kept with each host: after the file is reopened the
    // list and every report say when and why the last refresh failed.
    EXPECT_EQ(group["rows"].items[0].items[2].text, fullResult);
    const JsonValue report = Json({"export", "--format", "json"});
    ASSERT_EQ(report["hosts"].items.size(), 2u);
    for (const JsonValue& host : report["hosts"].items) {
        EXPECT_FALSE(host["scanned"].boolean);
        EXPECT_EQ(host["lastError"]["message"].text, fullResult);
        EXPECT_EQ(host["lastError"]["time"].text.size(), 20u) << host["lastError"]["time"].text;
    }
    const std::vector<std::string> csv = Lines(Ok({"export", "--format", "csv"}).out);
    ASSERT_EQ(csv.size(), 3u);
    EXPECT_NE(csv[0].find(",last_error_time,last_error"), std::string::npos) << csv[0];
    EXPECT_NE(csv[1].find(fullResult), std::string::npos) << csv[1];
    const std::string html = Ok({"export", "--format", "html"}).out;
    EXPECT_NE(html.find("class=\"failed\">Last refresh failed "), std::string::npos);
}

// The pages the module shows lead nowhere that is not there: every link and
// image names a page or picture the module carries.
TEST(ModulePages, EveryLinkAndImageOfThePagesExists)
{
    const std::filesystem::path pages = SourceDir() + "/res/html";
    std::size_t checked = 0;
    for (const auto& entry : std::filesystem::directory_iterator(pages)) {
        if (entry.path().extension() != ".html") continue;
        const std::string text = ReadWholeFile(entry.path().string());
        const std::regex target("(?:href|src)=\"([^\"]*)\"");
        for (auto it = std::sregex_iterator(text.begin(), text.end(), target); it != std::sregex_iterator(); ++it) {
            const std::string name = (*it)[1];
            EXPECT_TRUE(std::filesystem::is_regular_file(pages / name)) << entry.path().filename() << " -> " << name;
            ++checked;
        }
    }
    EXPECT_GT(checked, 5u);
}

}  // namespace

