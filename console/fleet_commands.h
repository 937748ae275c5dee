// `ferrodex find` and `ferrodex export` on an open console: they read the
// hosts' stored pictures, never a server, and save nothing.
#pragma once

#include <string>
#include <vector>

#include "console/host_core.h"
#include "console/script_ui.h"

// The answers of a session that only reads stored pictures: a host with a
// picture but no login is asked for one before it expands; any login does,
// since nothing connects and nothing is saved.
ScriptAnswers FleetReadAnswers();

// Errors go through `ui`, which then reports the failure.
// The number of matches printed.
std::size_t RunFind(CConsoleHost& console, HSCOPEITEM root, const std::string& query, bool json,
                    CScriptUserInterface& ui);
void RunExport(CConsoleHost& console, HSCOPEITEM root, const std::vector<std::string>& paths, const std::string& format,
               const std::string& file, const std::string& historyFile, CScriptUserInterface& ui);
