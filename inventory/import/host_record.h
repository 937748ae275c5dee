// What an import reads from a file administrators already keep (an OpenSSH
// client configuration, an Ansible inventory, a CSV list): plain host
// records and the notes about lines that were skipped or refused. Nothing
// here touches the inventory; see inventory/host_import_apply.h.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace hostimport {

// Bounds of every import, whatever the format.
inline constexpr std::size_t kMaxImportFile = 4u << 20;  // bytes of one file
inline constexpr std::size_t kMaxLine = 8192;            // bytes of one line
inline constexpr std::size_t kMaxRangeHosts = 1000;      // names one host range may make
inline constexpr std::size_t kMaxHosts = 10000;          // records of one import
inline constexpr int kMaxIncludeDepth = 8;               // nested Include of an ssh config
inline constexpr std::size_t kMaxIncludedFiles = 256;    // files one import may read

// A file read for an import beside the one named (an included ssh config,
// an inventory's variable file).
struct SIncludedFile {
    std::string path;
    std::string text;
};

// The most key files a host offers at its login.
inline constexpr std::size_t kMaxKeyFiles = 8;

// One host as the file describes it.
struct SImportedHost {
    std::string group;         // "" for the group imported into; else "parent/child"
    std::string name;          // the name the file gives the host
    std::string address;       // where to connect
    int port = 22;
    std::string login;         // "" when the file names none
    std::string identityFile;  // private key files, one path per line, "" for none
    std::string jump;          // [user@]host[:port][,...], "" for none
    std::optional<bool> sudo;  // set only when the file says
    std::string sourceFile;
    int line = 0;
};

// A line that was refused (its host or value is not imported) or only
// skipped with a warning.
struct SImportNote {
    std::string file;
    int line = 0;
    std::string text;
    bool refused = true;
};

struct SImportResult {
    std::vector<SImportedHost> hosts;
    std::vector<SImportNote> notes;
    // Empty when the file could be read; else why nothing was imported.
    std::string error;

    void Refuse(const std::string& file, int line, std::string text) { notes.push_back({file, line, std::move(text), true}); }
    void Warn(const std::string& file, int line, std::string text) { notes.push_back({file, line, std::move(text), false}); }
    // Adds a record unless the import holds kMaxHosts already; false then.
    bool Add(SImportedHost host)
    {
        if (hosts.size() >= kMaxHosts) return false;
        hosts.push_back(std::move(host));
        return true;
    }
};

}  // namespace hostimport
