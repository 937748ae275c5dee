// The scriptable commands of `ferrodex`: each opens the console file, walks
// the same menus, commands and notifications as the terminal console, and
// saves the file when the snap-in reports unsaved changes. Each returns the
// process exit status.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct CommandContext {
    std::string consoleFile;  // empty: the default console file
    int historyKeep = 50;     // scans kept per host in the history
    // --history: a history written besides the file beside the console file
    // (see ChosenHistory); empty: the setting HistoryDatabase, if any.
    std::string history;
    // Opens a console file that was encrypted when last used here and is
    // now plain (with a warning); without it such a file is refused.
    bool acceptPlain = false;
};

// The key the history keeps the host GROUP/HOST of the console file under
// (HistoryKey): its identity when the console holds such a host, else the
// path itself. Reads the console file; contacts no host.
std::string HistoryKeyOfPath(const CommandContext& context, const std::string& path);
// The host GROUP/HOST as the history is asked about it: its key, path,
// address and port (address empty when the console holds no such host).
struct HistoryHost HistoryHostOfPath(const CommandContext& context, const std::string& path);
// Where this console's history is read (HistoryLocationFor).
std::string HistoryLocationOf(const CommandContext& context);

int CommandGroupAdd(const CommandContext& context, const std::string& name);
int CommandGroupRename(const CommandContext& context, const std::string& name, const std::string& newName);
int CommandGroupDelete(const CommandContext& context, const std::string& name);

struct HostOptions {
    std::optional<std::string> host;
    // Add: the address when the host's name is not it.
    std::optional<std::string> address;
    std::optional<int> port;
    std::optional<std::string> login;
    bool passwordFromInput = false;
    // The host's private key file (made absolute; empty: none), "Use the SSH
    // agent", and the key file's passphrase read like the password (after
    // it when both are asked).
    // Each --identity in order ("" alone: none); empty when not given.
    std::vector<std::string> identities;
    std::optional<bool> agent;
    bool passphraseFromInput = false;
    // Edit: forget the stored password (an empty one keeps it).
    bool clearPassword = false;
    // Add and edit: the host's "Scan with root rights (sudo)" (nothing keeps
    // it); refresh: true scans through sudo for this run.
    std::optional<bool> sudo;
    // Add and edit: the host's jump hosts ("[user@]host[:port][,...]"); an
    // empty text reaches it directly; nothing keeps them.
    std::optional<std::string> jump;
    // Allows the engine's deployment (its two questions).
    bool yes = false;
    // Trusts and stores a host key that the user would be asked about: a
    // changed key, a key of a new type for a known host, a key never seen
    // while the cache is damaged, a first contact in strict mode (otherwise
    // No, which stops the connection).
    bool acceptChangedHostKey = false;
    // A first contact is asked about (and so refused without the option
    // above) instead of stored, as the registry setting StrictHostKeys does.
    bool strictHostKeys = false;
    // How long a command on the host (lshw) may run, in seconds, for this
    // run only; otherwise the stored setting or its default.
    std::optional<int> commandTimeout;
};
int CommandHostAdd(const CommandContext& context, const std::string& group, const std::string& host,
                   const HostOptions& options);
int CommandHostEdit(const CommandContext& context, const std::string& path, const HostOptions& options);
// Imports the hosts of FILE into GROUP (made when missing) through the
// group's "Import Hosts..."; format: "" guesses, else ssh-config, ansible or csv.
// A dry run reports the same and saves nothing; json prints the report as
// one JSON document on standard output.
int CommandImport(const CommandContext& context, const std::string& group, const std::string& file,
                  const std::string& format, bool dryRun = false, bool json = false);
// Gives the host PATH names a new name, unique within its group.
int CommandHostRename(const CommandContext& context, const std::string& path, const std::string& newName);
int CommandHostRemove(const CommandContext& context, const std::string& path);
int CommandHostRefresh(const CommandContext& context, const std::string& path, const HostOptions& options);

// Refreshes the hosts the paths name (GROUP or GROUP/HOST; every host when
// none), `jobs` side by side, then prints one line (or JSON record) per
// host. Fails when any host failed.
int CommandRefresh(const CommandContext& context, const std::vector<std::string>& paths, int jobs, bool json,
                   const HostOptions& options);

int CommandTree(const CommandContext& context, const std::string& path, bool json, const HostOptions& options);
int CommandShow(const CommandContext& context, const std::string& path, bool json, const HostOptions& options);
// Searches the stored pictures of every host (never contacts one).
int CommandFind(const CommandContext& context, const std::string& query, bool json);
// Writes the stored pictures of the hosts the paths name (all when none) as
// json, csv or html to `file` (standard output when empty).
int CommandExport(const CommandContext& context, const std::vector<std::string>& paths, const std::string& format,
                  const std::string& file);
int CommandPasswords(const CommandContext& context, bool on);
int CommandViewXml(const std::string& file, bool json);
// Prints the paths of the groups and hosts, one a line, for shell
// completion; never contacts a host, takes no lock, asks nothing.
int CommandCompletePaths(const CommandContext& context);
int CommandRegister();
int CommandUnregister();
