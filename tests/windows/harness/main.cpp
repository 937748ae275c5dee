// fdx-harness: a management console in a console program. It creates the
// Ferrodex snap-in (or the class --clsid names) through the COM runtime,
// runs a script of console actions against it, answers its dialogs as the
// script says, and prints what the console shows.
//
//   fdx-harness [--clsid {GUID}] [--timeout SECONDS] [--trace] SCRIPT|-
//
// --trace writes every notification and command to standard error.
//
// Exit status: 0 when every command succeeded, 1 when one failed, 2 for a
// wrong command line, 3 when the time ran out.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <fcntl.h>
#include <io.h>

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

#include "dialog_answers.h"
#include "script_runner.h"
#include "session.h"
#include "text.h"

namespace {

// The console's configuration: the snap-in it shows.
constexpr CLSID kFerrodexSnapin = {0xD89C902C, 0xBBEF, 0x4E6D, {0xBD, 0x92, 0xE7, 0x17, 0x64, 0x80, 0x6F, 0x79}};
constexpr int kDefaultTimeoutSeconds = 300;

void PrintLine(const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Ends the process when the script runs longer than allowed: a console
// waiting for something that never comes must not hang its test.
class Watchdog {
public:
    explicit Watchdog(int seconds)
        : m_thread([this, seconds] {
              std::unique_lock lock(m_mutex);
              if (!m_done.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_finished; })) {
                  PrintLine("error: the script did not finish in " + std::to_string(seconds) + " seconds");
                  TerminateProcess(GetCurrentProcess(), 3);
              }
          })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_all();
        m_thread.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;  // last: starts once the rest is ready
};

class ComApartment {
public:
    ComApartment() : m_hr(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment()
    {
        if (SUCCEEDED(m_hr)) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    bool Ok() const { return SUCCEEDED(m_hr); }

private:
    HRESULT m_hr;
};

struct Options {
    CLSID clsid = kFerrodexSnapin;
    int timeout = kDefaultTimeoutSeconds;
    bool trace = false;
    std::wstring script;
};

int Usage(const std::string& problem)
{
    std::fprintf(stderr, "fdx-harness: %s\nusage: fdx-harness [--clsid {GUID}] [--timeout SECONDS] [--trace] SCRIPT|-\n",
                 problem.c_str());
    return 2;
}

bool ParseOptions(int argc, wchar_t** argv, Options& options, std::string& problem)
{
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == L"--clsid" && hasValue) {
            if (FAILED(CLSIDFromString(argv[++i], &options.clsid))) {
                problem = "--clsid takes a class id in braces";
                return false;
            }
        } else if (arg == L"--trace") {
            options.trace = true;
        } else if (arg == L"--timeout" && hasValue) {
            options.timeout = _wtoi(argv[++i]);
            if (options.timeout <= 0) {
                problem = "--timeout takes a number of seconds";
                return false;
            }
        } else if (options.script.empty() && (arg == L"-" || arg.rfind(L"--", 0) != 0)) {
            options.script = arg;
        } else {
            problem = "unexpected argument " + Narrow(arg);
            return false;
        }
    }
    if (options.script.empty()) {
        problem = "no script given";
        return false;
    }
    return true;
}

int RunScript(const Options& options, std::istream& script)
{
    ComApartment apartment;
    if (!apartment.Ok()) {
        PrintLine("error: the COM runtime did not start");
        return 1;
    }
    DialogAnswerer answerer(PrintLine);
    if (!answerer.Hooked()) {
        PrintLine("error: the dialog hook could not be set");
        return 1;
    }
    ConsoleSession session(options.clsid, PrintLine);
    session.SetTrace(options.trace);
    std::string error;
    if (!session.Start(nullptr, error)) {
        PrintLine("error: " + error);
        return 1;
    }
    ScriptRunner runner(session, answerer, PrintLine);
    std::string line;
    int number = 0;
    bool ok = true;
    while (ok && std::getline(script, line)) ok = runner.Run(line, ++number);
    ok = runner.Finish() && ok;
    session.Stop();
    return ok ? 0 : 1;
}

}  // namespace

int main()
{
    _setmode(_fileno(stdout), _O_BINARY);
    int argc = 0;
    std::unique_ptr<wchar_t*, decltype(&LocalFree)> argv(CommandLineToArgvW(GetCommandLineW(), &argc), &LocalFree);
    if (!argv) return Usage("the command line cannot be read");
    Options options;
    std::string problem;
    if (!ParseOptions(argc, argv.get(), options, problem)) return Usage(problem);

    Watchdog watchdog(options.timeout);
    if (options.script == L"-") return RunScript(options, std::cin);
    std::ifstream file(std::filesystem::path(options.script));
    if (!file) {
        PrintLine("error: cannot open the script " + Narrow(options.script));
        return 1;
    }
    return RunScript(options, file);
}
