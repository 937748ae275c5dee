// Applies imported host records to the inventory. A record without a group
// goes into the group the import runs on; a record of group "a/b" into a
// group named "<target>.a.b" beside it, made when missing. A host is the
// same host when it has the record's name in the group (or, for a host named
// by its address as older imports made them, the same address, port and
// login): importing again updates it instead of adding it twice. A new host
// is named as the file names it; a name that an earlier record of the same
// import took in the group gets "-2", "-3" ... appended, and a note says so.
#pragma once

#include <string>
#include <vector>

#include "inventory/import/host_record.h"
#include "platform/console.h"

class CGroupNode;
class CHostNode;
class CRootNode;

// One host the import added or changed, as the summary shows its route.
struct SImportedRoute {
    enum class EState { Added, Updated, Unchanged };
    EState state = EState::Added;
    std::string group;  // the inventory group's name
    std::string name;
    std::string address;
    int port = 22;
    std::string login;
    std::string keyFile;
    std::string jump;  // as the host keeps it, "" for none
    std::string was;   // Updated: what changed, in a few words
};

struct SImportApplied {
    std::vector<SImportedRoute> routes;
    int added = 0;
    int updated = 0;
    int unchanged = 0;
    int groupsAdded = 0;
    // Records the inventory refused (an address or group name it cannot
    // hold as a node name), and settings it does not keep.
    std::vector<hostimport::SImportNote> notes;
};

// The inventory group name of a record's group path, "" when it cannot be
// one (too long, a control character).
std::u16string ImportGroupName(std::u16string_view target, const std::string& path);

// Applies every record; new nodes are inserted into the console below the
// nodes that are shown (nameSpace may be null when none are).
SImportApplied ApplyImportedHosts(CRootNode& root, CGroupNode& target, const std::vector<hostimport::SImportedHost>& hosts,
                                  IConsoleNameSpace2* nameSpace);

// The settings a host record carries beyond address, port, login and sudo
// (its key file and jump host) set on a host: the one place that knows the
// host's fields for them. True when the host keeps them; `changed` tells
// whether they changed.
bool ApplyLoginExtras(CHostNode& host, const hostimport::SImportedHost& record, bool& changed);
