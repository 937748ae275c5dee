// The base of the tests that run `ferrodex` commands on a console file of
// their own, in a registry and data folder of their own.
#pragma once

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "tests/console/json_value.h"
#include "tests/console/run_ferrodex.h"
#include "tests/support/temp_dir.h"

class CCommandFixture : public ::testing::Test {
protected:
    CCommandFixture()
    {
        m_env.registry = m_dir.file("registry");
        m_env.dataHome = m_dir.file("data");
        m_console = m_dir.file("inventory.fdx");
    }

    // Runs ferrodex on a console file.
    RunResult RunOn(const std::string& console, std::vector<std::string> args, const std::string& input = "")
    {
        args.insert(args.begin(), {"--console", console});
        return RunFerrodex(m_env, args, input);
    }
    // The same, expecting success.
    RunResult OkOn(const std::string& console, const std::vector<std::string>& args, const std::string& input = "")
    {
        RunResult result = RunOn(console, args, input);
        EXPECT_EQ(result.status, 0) << "ferrodex " << ::testing::PrintToString(args) << "\n" << result.err;
        return result;
    }
    // The same, its standard output read as JSON.
    JsonValue JsonOn(const std::string& console, const std::vector<std::string>& args, const std::string& input = "")
    {
        const RunResult result = OkOn(console, args, input);
        JsonValue value;
        std::string error;
        EXPECT_TRUE(ParseJson(result.out, value, &error)) << error << "\n" << result.out;
        return value;
    }
    // The same, expecting a failure whose message holds `reason`.
    RunResult FailsOn(const std::string& console, const std::vector<std::string>& args, const std::string& reason,
                      const std::string& input = "")
    {
        RunResult result = RunOn(console, args, input);
        EXPECT_NE(result.status, 0) << "ferrodex " << ::testing::PrintToString(args);
        EXPECT_NE(result.err.find(reason), std::string::npos) << ::testing::PrintToString(args) << "\n" << result.err;
        return result;
    }
    // The four on the test's own console file.
    RunResult Run(const std::vector<std::string>& args, const std::string& input = "")
    {
        return RunOn(m_console, args, input);
    }
    RunResult Ok(const std::vector<std::string>& args, const std::string& input = "")
    {
        return OkOn(m_console, args, input);
    }
    JsonValue Json(const std::vector<std::string>& args, const std::string& input = "")
    {
        return JsonOn(m_console, args, input);
    }
    RunResult Fails(const std::vector<std::string>& args, const std::string& reason, const std::string& input = "")
    {
        return FailsOn(m_console, args, reason, input);
    }

    // The names of a JSON node's children, in order.
    static std::vector<std::string> Names(const JsonValue& node)
    {
        std::vector<std::string> names;
        if (const JsonValue* children = node.Find("children"))
            for (const JsonValue& child : children->items) names.push_back(child["name"].text);
        return names;
    }
    // A JSON node's child of that name; null when there is none.
    static const JsonValue* FindChild(const JsonValue& node, const std::string& name)
    {
        if (const JsonValue* children = node.Find("children"))
            for (const JsonValue& child : children->items)
                if (child["name"].text == name) return &child;
        return nullptr;
    }
    static const JsonValue& Child(const JsonValue& node, const std::string& name)
    {
        if (const JsonValue* child = FindChild(node, name)) return *child;
        throw std::out_of_range("no child " + name);
    }

    TempDir m_dir;
    RunEnvironment m_env;
    std::string m_console;
};
