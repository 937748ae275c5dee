// Hosts from an OpenSSH client configuration: every host name a Host line
// names without a wildcard becomes a record, with the options that the
// client itself would use for it (the first value found wins, blocks apply
// in file order, wildcard blocks such as "Host *" give defaults).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "inventory/import/host_record.h"
#include "platform/text.h"  // HostPatternsMatch, which Host lines use

namespace hostimport {

struct SIncludedFile {
    std::string path;
    std::string text;
};

// Reads the files an absolute path or glob pattern names, in name order;
// false (with a reason) when they cannot be read whole.
using IncludeLoader =
    std::function<bool(const std::string& pattern, std::vector<SIncludedFile>& files, std::string& error)>;

struct SSshConfigContext {
    std::string homeFolder;     // for "~" and %d; relative Include names are under homeFolder/.ssh
    std::string localUser;      // for %u
    IncludeLoader loadInclude;  // without one, Include lines are refused
};

void ReadSshConfig(std::string_view text, const std::string& file, const SSshConfigContext& context,
                   SImportResult& result);

}  // namespace hostimport
