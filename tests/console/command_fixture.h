// The base of the tests that run `ferrodex` commands on a console file of
// their own, in a registry and data folder of their own.
#pragma once

#include <gtest/gtest.h>

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

    // Runs ferrodex on the test's console file.
    RunResult Run(std::vector<std::string> args, const std::string& input = "")
    {
        args.insert(args.begin(), {"--console", m_console});
        return RunFerrodex(m_env, args, input);
    }
    // The same, expecting success.
    RunResult Ok(std::vector<std::string> args, const std::string& input = "")
    {
        RunResult result = Run(args, input);
        EXPECT_EQ(result.status, 0) << "ferrodex " << ::testing::PrintToString(args) << "\n" << result.err;
        return result;
    }
    // The same, its standard output read as JSON.
    JsonValue Json(std::vector<std::string> args, const std::string& input = "")
    {
        const RunResult result = Ok(args, input);
        JsonValue value;
        std::string error;
        EXPECT_TRUE(ParseJson(result.out, value, &error)) << error << "\n" << result.out;
        return value;
    }

    TempDir m_dir;
    RunEnvironment m_env;
    std::string m_console;
};
