// Hosts from an OpenSSH client configuration: every host name a Host line
// names without a wildcard becomes a record named by it, with the options
// that the client itself would use for it: the first value found wins,
// blocks apply in file order, wildcard blocks such as "Host *" give
// defaults, and Match blocks apply when their host, originalhost, user,
// localuser, all, canonical and final conditions hold (a second reading by
// the resolved name when one asks for "final"). Match exec, LocalCommand and
// any ProxyCommand other than "ssh -W %h:%p HOP" are never run; the notes
// name the hosts they concern. A ProxyJump (or that ProxyCommand) is
// resolved through the same file, each hop with its own HostName, User and
// Port and the first hop with its own jump hosts.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "inventory/import/host_record.h"
#include "platform/text.h"  // HostPatternsMatch, which Host lines use

namespace hostimport {

// Reads the files an absolute path or glob pattern names, in name order;
// false (with a reason) when they cannot be read whole.
using IncludeLoader =
    std::function<bool(const std::string& pattern, std::vector<SIncludedFile>& files, std::string& error)>;

struct SSshConfigContext {
    std::string homeFolder;     // for "~" and %d; relative Include names are under homeFolder/.ssh
    std::string localUser;      // for %u, and the login when the file names none
    IncludeLoader loadInclude;  // without one, Include lines are refused
    std::string localHost = {};  // for %l and %L; "" leaves them unexpanded
    std::string userId = {};     // for %i; "" leaves it unexpanded
};

void ReadSshConfig(std::string_view text, const std::string& file, const SSshConfigContext& context,
                   SImportResult& result);

}  // namespace hostimport
