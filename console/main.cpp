// ferrodex: the console host of the Ferrodex snap-in. Plain `ferrodex` opens
// the console; the subcommands drive the same console from scripts.
#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "console/admin_commands.h"
#include "console/commands.h"
#include "console/history_commands.h"
#include "console/history_recorder.h"
#include "console/tui/tui_app.h"
#include "platform/terminal.h"

namespace {

// Plain `ferrodex` opens the terminal console; without a terminal it lists
// the inventory instead.
int RunDefault(const CommandContext& context, bool ascii, bool noMouse)
{
    if (StdinIsTerminal() && StdoutIsTerminal()) {
        fdx::tui::TerminalFaceOptions options;
        options.consoleFile = context.consoleFile;
        options.ascii = ascii;
        options.mouse = !noMouse;
        options.historyKeep = context.historyKeep;
        options.history = context.history;
        return fdx::tui::RunTerminalFace(options);
    }
    const int status = CommandTree(context, "", false, HostOptions{});
    std::fprintf(stderr, "ferrodex: not a terminal, so the inventory is listed; "
                         "see `ferrodex --help` for the commands.\n");
    return status;
}

// Every command's output to standard output is checked once it is all
// written: a full disk or a closed pipe behind it is an error, not an exit
// status of 0 over a file cut short. A status that says more already stays.
int CheckedOutput(int status)
{
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    const int flushError = errno;
    const bool clean = std::ferror(stdout) == 0;
    errno = 0;
    // A standard output that was never open and took nothing is no failure.
    const bool closed = std::fclose(stdout) == 0 || errno == EBADF;
    const int closeError = errno;
    if (flushed && clean && closed) return status;
    const int error = !flushed ? flushError : closeError;
    std::fprintf(stderr, "Error: the output could not be written in full%s%s\n", error != 0 ? ": " : "",
                 error != 0 ? std::strerror(error) : "");
    return status != 0 ? status : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app{"ferrodex: the hardware inventory of your Linux servers, in a console.\n"
                 "Without a command it opens the console on the console file.",
                 "ferrodex"};
    app.set_help_all_flag("--help-all", "Print the help of every command");
    app.set_version_flag("--version", std::string("ferrodex ") + FDX_VERSION, "Print the version and exit");
    app.require_subcommand(0, 1);
    app.fallthrough();

    CommandContext context;
    app.add_option("--console", context.consoleFile, "The console file (default: $XDG_DATA_HOME/ferrodex/console.fdx)")
        ->type_name("FILE");
    app.add_option("--keep", context.historyKeep, "Scans kept per host in the history (default 50)")
        ->type_name("N")
        ->check(CLI::Range(1, 100000));
    app.add_option("--history", context.history,
                   "Also keep the scans in this history and read it: a PostgreSQL URL or connection string "
                   "shared by a team, or an SQLite file (default: the setting HistoryDatabase)")
        ->type_name("URL");
    app.add_flag("--accept-plain", context.acceptPlain,
                 "Open a console file that was encrypted when last used here but is now plain");
    bool ascii = false;
    bool noMouse = false;
    app.add_flag("--ascii", ascii, "Terminal console: ASCII lines and glyphs only");
    app.add_flag("--no-mouse", noMouse, "Terminal console: leave the mouse to the terminal");

    int status = 0;
    std::string name;
    std::string newName;
    std::string path;
    std::string file;
    bool json = false;
    HostOptions hostOptions;
    std::string port;
    bool sudoOn = false;
    bool sudoOff = false;
    // --sudo / --no-sudo into the host options, after parsing.
    bool agentOn = false;
    bool agentOff = false;
    auto takeSudo = [&] {
        if (sudoOn) hostOptions.sudo = true;
        if (sudoOff) hostOptions.sudo = false;
        // --agent / --no-agent too: every command that takes one takes --sudo.
        if (agentOn) hostOptions.agent = true;
        if (agentOff) hostOptions.agent = false;
    };
    auto addSudoOptions = [&](CLI::App* command) {
        CLI::Option* on = command->add_flag("--sudo", sudoOn, "Scan with root rights: run lshw through sudo");
        command->add_flag("--no-sudo", sudoOff, "Scan without sudo")->excludes(on);
    };
    std::string jump;
    bool noJump = false;
    // --jump / --no-jump into the host options, after parsing.
    auto takeJump = [&] {
        if (!jump.empty()) hostOptions.jump = jump;
        if (noJump) hostOptions.jump = std::string();
    };
    auto addJumpOptions = [&](CLI::App* command) {
        CLI::Option* through =
            command->add_option("--jump", jump, "Reach the host through jump hosts: [user@]host[:port][,...]")
                ->type_name("ROUTE");
        command->add_flag("--no-jump", noJump, "Reach the host directly")->excludes(through);
    };

    auto addHostOptions = [&](CLI::App* command, bool withHost, bool withPort) {
        if (withHost) command->add_option("--host", hostOptions.host, "New host name or address")->type_name("H");
        if (withPort)
            command->add_option("--port", hostOptions.port, "SSH port")->type_name("N")->check(CLI::Range(1, 65535));
        command->add_option("--login", hostOptions.login, "Login name")->type_name("L");
        command->add_flag("--password-stdin", hostOptions.passwordFromInput,
                          "Read the host password from standard input (a terminal asks without echo)");
        command->add_option("--identity", hostOptions.identities,
                            "Log in with this private key file (\"\": none); given again, the files are tried in order")
            ->type_name("FILE")
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
            ->allow_extra_args(false);
        CLI::Option* agent = command->add_flag("--agent", agentOn, "Log in with the keys of the SSH agent");
        command->add_flag("--no-agent", agentOff, "Do not ask the SSH agent")->excludes(agent);
        command->add_flag("--passphrase-stdin", hostOptions.passphraseFromInput,
                          "Read the key file's passphrase from standard input, after the password when both are "
                          "read (a terminal asks without echo)");
    };

    // group
    CLI::App* group = app.add_subcommand("group", "Add, rename or delete a group of hosts");
    group->require_subcommand(1);
    CLI::App* groupAdd = group->add_subcommand("add", "Add a group");
    groupAdd->add_option("NAME", name, "Name of the new group")->required();
    groupAdd->callback([&] { status = CommandGroupAdd(context, name); });
    CLI::App* groupRename = group->add_subcommand("rename", "Rename a group");
    groupRename->add_option("NAME", name, "The group")->required();
    groupRename->add_option("NEW", newName, "Its new name")->required();
    groupRename->callback([&] { status = CommandGroupRename(context, name, newName); });
    CLI::App* groupDelete = group->add_subcommand("delete", "Delete a group with all its hosts");
    groupDelete->add_option("NAME", name, "The group")->required();
    groupDelete->callback([&] { status = CommandGroupDelete(context, name); });

    // host
    CLI::App* host = app.add_subcommand("host", "Add, edit, remove or refresh a host");
    host->require_subcommand(1);
    CLI::App* hostAdd = host->add_subcommand("add", "Add a host to a group");
    hostAdd->add_option("GROUP", name, "The group")->required();
    hostAdd->add_option("HOST", newName, "Host name (and address, unless --address gives it)")->required();
    hostAdd->add_option("--address", hostOptions.address, "Where to connect, when it is not the host's name")
        ->type_name("A");
    addHostOptions(hostAdd, false, true);
    addSudoOptions(hostAdd);
    addJumpOptions(hostAdd);
    hostAdd->callback([&] {
        takeSudo();
        takeJump();
        status = CommandHostAdd(context, name, newName, hostOptions);
    });
    CLI::App* hostEdit = host->add_subcommand("edit", "Change a host's name, port, login or password");
    hostEdit->add_option("PATH", path, "GROUP/HOST")->required();
    addHostOptions(hostEdit, true, true);
    hostEdit->add_flag("--clear-password", hostOptions.clearPassword,
                       "Forget the stored password (without it, a password is changed only when one is given)");
    addSudoOptions(hostEdit);
    addJumpOptions(hostEdit);
    hostEdit->callback([&] {
        takeSudo();
        takeJump();
        status = CommandHostEdit(context, path, hostOptions);
    });
    CLI::App* hostRename = host->add_subcommand("rename", "Give a host a new name (its address stays)");
    hostRename->add_option("PATH", path, "GROUP/HOST")->required();
    hostRename->add_option("NEW", newName, "Its new name, unique within the group")->required();
    hostRename->callback([&] { status = CommandHostRename(context, path, newName); });
    CLI::App* hostRemove = host->add_subcommand("remove", "Remove a host");
    hostRemove->add_option("PATH", path, "GROUP/HOST")->required();
    hostRemove->callback([&] { status = CommandHostRemove(context, path); });
    CLI::App* hostRefresh = host->add_subcommand("refresh", "Scan a host's hardware again (contacts the host)");
    hostRefresh->add_option("PATH", path, "GROUP/HOST")->required();
    addHostOptions(hostRefresh, false, false);
    hostRefresh->add_flag("--yes", hostOptions.yes, "Allow the deployment of lshw to a host that lacks it");
    auto addHostKeyOptions = [&](CLI::App* command) {
        command->add_flag("--accept-changed-host-key", hostOptions.acceptChangedHostKey,
                          "Trust and store a host key that would be asked about: changed, of a new type for the "
                          "host, unverifiable after cache damage, or new in strict mode (otherwise the connection "
                          "stops before logging in)");
        command->add_flag("--strict-host-keys", hostOptions.strictHostKeys,
                          "Refuse a host never contacted before instead of storing its key (like the setting "
                          "StrictHostKeys)");
    };
    addHostKeyOptions(hostRefresh);
    hostRefresh
        ->add_option("--timeout", hostOptions.commandTimeout,
                     "Stop when lshw has not finished after this many seconds (default: the setting "
                     "CommandTimeoutSeconds, else 600)")
        ->type_name("SECONDS")
        ->check(CLI::Range(1, 86400));
    hostRefresh->add_flag("--sudo", sudoOn, "Scan with root rights for this run: run lshw through sudo");
    hostRefresh->callback([&] {
        takeSudo();
        status = CommandHostRefresh(context, path, hostOptions);
    });

    // import
    CLI::App* importCommand = app.add_subcommand(
        "import", "Add the hosts of an ssh client config, an Ansible inventory or a CSV list to a group");
    std::string importFormat;
    importCommand->add_option("GROUP", name, "The group (made when missing); the file's groups go beside it")
        ->required();
    importCommand->add_option("FILE", file, "The file to read")->required();
    importCommand->add_option("--format", importFormat, "ssh-config, ansible or csv (default: guessed from the content)")
        ->check(CLI::IsMember({"ssh-config", "ansible", "csv"}));
    bool dryRun = false;
    importCommand->add_flag("--dry-run", dryRun, "Report what the import would add and change; save nothing");
    importCommand->add_flag("--json", json, "Print the report as JSON on standard output");
    importCommand->callback([&] { status = CommandImport(context, name, file, importFormat, dryRun, json); });
    // refresh
    std::vector<std::string> refreshPaths;
    int jobs = 8;
    CLI::App* refresh = app.add_subcommand(
        "refresh", "Scan the hardware of many hosts again, several side by side (contacts the hosts)");
    refresh->add_option("PATH", refreshPaths, "GROUP or GROUP/HOST (every host when none is given)");
    refresh->add_option("--jobs,-j", jobs, "How many hosts are scanned side by side (default 8)")
        ->type_name("N")
        ->check(CLI::Range(1, 64));
    refresh->add_flag("--json", json, "Print one JSON record per host");
    addHostOptions(refresh, false, false);
    addHostKeyOptions(refresh);
    refresh->add_flag("--yes", hostOptions.yes, "Allow the deployment of lshw to the hosts that lack it");
    refresh
        ->add_option("--timeout", hostOptions.commandTimeout,
                     "Stop a host's lshw when it has not finished after this many seconds")
        ->type_name("SECONDS")
        ->check(CLI::Range(1, 86400));
    refresh->callback([&] { status = CommandRefresh(context, refreshPaths, jobs, json, hostOptions); });

    // tree, show
    CLI::App* tree = app.add_subcommand(
        "tree", "Print the console tree below PATH (hosts are expanded, and so perhaps scanned, only when PATH "
                "names one or a node below it)");
    tree->add_option("PATH", path, "Names joined with \"/\" below \"My Linux Servers\" (\"\\/\" for a \"/\")");
    tree->add_flag("--json", json, "Print JSON");
    addHostOptions(tree, false, false);
    addHostKeyOptions(tree);
    tree->callback([&] {
        takeSudo();
        status = CommandTree(context, path, json, hostOptions);
    });
    CLI::App* show = app.add_subcommand("show", "Print what the result pane shows for a node");
    show->add_option("PATH", path, "Names joined with \"/\" below \"My Linux Servers\"")->required();
    show->add_flag("--json", json, "Print JSON");
    addHostOptions(show, false, false);
    addHostKeyOptions(show);
    show->callback([&] {
        takeSudo();
        status = CommandShow(context, path, json, hostOptions);
    });

    // find, export
    CLI::App* find = app.add_subcommand("find", "Search the stored hardware of every host (contacts no host)");
    std::string query;
    find->add_option("QUERY", query, "Terms a node must all meet, e.g. 'class=memory size<32GiB' or 'product~Xeon'")
        ->required();
    find->add_flag("--json", json, "Print JSON");
    find->callback([&] { status = CommandFind(context, query, json); });
    CLI::App* exportCommand = app.add_subcommand("export", "Write the stored hardware of hosts as JSON, CSV or HTML");
    std::vector<std::string> exportPaths;
    std::string exportFormat;
    exportCommand->add_option("PATH", exportPaths, "GROUP or GROUP/HOST (default: every host)");
    exportCommand->add_option("--format", exportFormat, "json, csv or html")
        ->required()
        ->check(CLI::IsMember({"json", "csv", "html"}));
    exportCommand->add_option("-o,--output", file, "The file to write (default: standard output)")->type_name("FILE");
    exportCommand->callback([&] { status = CommandExport(context, exportPaths, exportFormat, file); });

    // passwords
    CLI::App* passwords = app.add_subcommand("passwords", "Turn Save Passwords on (asks for a main password) or off");
    std::string state;
    passwords->add_option("STATE", state, "on or off")->required()->check(CLI::IsMember({"on", "off"}));
    bool mainPasswordInput = false;
    passwords->add_flag("--main-password-stdin", mainPasswordInput,
                        "Read the main password from standard input (a terminal asks without echo)");
    passwords->callback([&] { status = CommandPasswords(context, state == "on"); });

    // view-xml, register, unregister
    CLI::App* viewXml = app.add_subcommand("view-xml", "Show the hardware tree and rows of an lshw XML file");
    viewXml->add_option("FILE", file, "Output of lshw -xml")->required();
    viewXml->add_flag("--json", json, "Print JSON");
    viewXml->callback([&] { status = CommandViewXml(file, json); });
    // history, diff
    CLI::App* history = app.add_subcommand("history", "List the scans of a host kept in the history");
    history->add_option("PATH", path, "GROUP/HOST");
    history->add_flag("--json", json, "Print JSON");
    history->callback([&] {
        if (history->get_subcommands().empty()) status = CommandHistory(context, path, json);
    });
    std::string prunePath;
    CLI::App* prune = history->add_subcommand("prune", "Keep only the --keep newest scans of every host (or of one)");
    prune->add_option("PATH", prunePath, "GROUP/HOST");
    prune->callback([&] { status = CommandHistoryPrune(context, prunePath); });
    history->add_subcommand("push", "Send the scans the shared history lacks from the file beside the console file")
        ->callback([&] { status = CommandHistoryPush(context); });
    DiffOptions diffOptions;
    CLI::App* diff = app.add_subcommand("diff", "Show what changed in a host's hardware between two scans");
    diff->add_option("PATH", path, "GROUP/HOST")->required();
    diff->add_option("--from", diffOptions.from, "A scan id or an ISO time (default: the scan before --to)")
        ->type_name("WHEN");
    diff->add_option("--to", diffOptions.to, "A scan id or an ISO time (default: the last scan)")->type_name("WHEN");
    diff->add_flag("--json", diffOptions.json, "Print JSON");
    diff->callback([&] { status = CommandDiff(context, path, diffOptions); });
    // For the shell's completion (an empty group hides it from the help).
    app.add_subcommand("complete-paths", "Print the node paths of the console file")
        ->group("")
        ->callback([&] { status = CommandCompletePaths(context); });
    // config, known-hosts
    CLI::App* config = app.add_subcommand("config", "List, read or change the settings");
    config->require_subcommand(1);
    CLI::App* configList = config->add_subcommand("list", "Every setting: its value, default and meaning");
    configList->add_flag("--json", json, "Print JSON");
    configList->callback([&] { status = CommandConfigList(json); });
    CLI::App* configGet = config->add_subcommand("get", "Print the value of a setting");
    configGet->add_option("NAME", name, "The setting")->required();
    configGet->callback([&] { status = CommandConfigGet(name); });
    CLI::App* configSet = config->add_subcommand("set", "Store a value of a setting (\"default\" removes it)");
    configSet->add_option("NAME", name, "The setting")->required();
    configSet->add_option("VALUE", newName, "Its value")->required();
    configSet->callback([&] { status = CommandConfigSet(name, newName); });
    CLI::App* knownHosts = app.add_subcommand("known-hosts", "List or forget the host keys Ferrodex remembers");
    knownHosts->require_subcommand(1);
    CLI::App* knownList = knownHosts->add_subcommand("list", "The stored host keys with their SHA256 fingerprints");
    knownList->add_option("HOST", name, "Only this host (HOST, HOST:PORT or [HOST]:PORT)");
    knownList->add_flag("--json", json, "Print JSON");
    knownList->callback([&] { status = CommandKnownHostsList(name, json); });
    CLI::App* knownForget = knownHosts->add_subcommand("forget", "Remove every key stored for a host (port 22 unless given)");
    knownForget->add_option("HOST", name, "HOST, HOST:PORT or [HOST]:PORT")->required();
    knownForget->callback([&] { status = CommandKnownHostsForget(name); });
    app.add_subcommand("register", "Register the snap-in module")->callback([&] { status = CommandRegister(); });
    app.add_subcommand("unregister", "Remove the snap-in's registration")->callback([&] {
        status = CommandUnregister();
    });

    // A history location with a password in it is refused before anything
    // runs; the message never repeats the location.
    app.parse_complete_callback([&] {
        if (const std::string refusal = CheckHistoryChoice(ChosenHistory(context.history)); !refusal.empty())
            throw CLI::ValidationError("--history", refusal);
    });
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }
    if (app.get_subcommands().empty()) return CheckedOutput(RunDefault(context, ascii, noMouse));
    return CheckedOutput(status);
}
