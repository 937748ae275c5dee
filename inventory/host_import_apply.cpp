#include "inventory/host_import_apply.h"

#include <map>
#include <set>
#include <tuple>

#include "inventory/group_node.h"
#include "inventory/host_node.h"
#include "inventory/module_state.h"
#include "inventory/root_node.h"
#include "inventory/value_checks.h"
#include "platform/text.h"

namespace {

using hostimport::SImportedHost;

std::u16string Wide(const std::string& text) { return AnsiToWide(text); }

// Inserts a child appended after the console showed its parent's children;
// a parent not yet expanded inserts all of them at its expansion.
template <typename Parent>
void ShowNewChild(Parent& parent, CConsoleNode& child, IConsoleNameSpace2* nameSpace)
{
    if (!parent.IsExpanded()) {
        parent.m_bInsertAll = true;
        return;
    }
    if (nameSpace == nullptr) return;
    const int image = child.GetImageIndex();
    parent.InsertScopeChild(nameSpace, child, image, image + 1, 1);
}

}  // namespace

std::u16string ImportGroupName(std::u16string_view target, const std::string& path)
{
    if (path.empty()) return std::u16string(target);
    std::u16string name(target);
    name += u'.';
    std::u16string wide = Wide(path);
    for (char16_t& c : wide)
        if (c == u'/') c = u'.';
    name += wide;
    if (name.size() > kMaxNodeName || !CheckNodeName(name).empty()) return {};
    return name;
}

// The key file and the jump hosts a record names; false when one of them
// cannot be kept (a path or route the host dialog would refuse too).
bool ApplyLoginExtras(CHostNode& host, const SImportedHost& record, bool& changed)
{
    changed = false;
    bool kept = true;
    if (!record.identityFile.empty()) {
        std::u16string keyFile;
        if (!CheckKeyFiles(Wide(record.identityFile), keyFile).empty()) {
            kept = false;
        } else if (host.m_bstrKeyFile != keyFile) {
            WipeString(host.m_bstrPassphrase);  // it belonged to the other key
            host.m_bstrKeyFile = keyFile;
            changed = true;
        }
    }
    if (!record.jump.empty()) {
        std::u16string route;
        if (!CheckJumpRoute(Wide(record.jump), route).empty()) {
            kept = false;
        } else if (host.m_bstrJump != route) {
            host.m_bstrJump = route;
            changed = true;
        }
    }
    return kept;
}

namespace {

// The first of name, name-2, name-3 ... that neither an earlier record of
// this import took nor another host of the group has.
std::u16string FreeName(CGroupNode& group, const std::u16string& name, const std::set<std::u16string>& taken)
{
    for (int n = 2;; ++n) {
        std::u16string candidate = name + u"-" + IntToDecimal(n);
        if (candidate.size() > kMaxNodeName) candidate = name.substr(0, kMaxNodeName - (candidate.size() - name.size())) + u"-" + IntToDecimal(n);
        if (taken.count(candidate) == 0 && HostNamed(group, candidate) == nullptr) return candidate;
    }
}

// The host of the group that a record without a host of its name updates:
// one named by its address (as older imports and hand-added hosts are) with
// the record's address and port, and its login or none.
CHostNode* HostByAddress(CGroupNode& group, const std::u16string& address, int port, const std::u16string& login,
                         const std::set<std::u16string>& taken)
{
    CHostNode* same = nullptr;
    for (CHostNode* host : HostsOf(group)) {
        if (host->Name() != host->m_bstrHost || host->m_bstrHost != address || host->m_nPort != port ||
            taken.count(std::u16string(host->Name())) != 0)
            continue;
        if (host->m_bstrLogin == login) return host;
        if ((host->m_bstrLogin.empty() || login.empty()) && same == nullptr) same = host;
    }
    return same;
}

}  // namespace

SImportApplied ApplyImportedHosts(CRootNode& root, CGroupNode& target, const std::vector<SImportedHost>& hosts,
                                  IConsoleNameSpace2* nameSpace)
{
    SImportApplied applied;
    std::map<std::u16string, CGroupNode*> groups;
    for (auto& child : root.GetChildren())
        if (auto* group = dynamic_cast<CGroupNode*>(child.get())) groups.emplace(std::u16string(group->Name()), group);
    const std::u16string targetName(target.Name());
    int unkeptExtras = 0;
    const SImportedHost* firstUnkept = nullptr;
    // The names this import gave or updated, per group.
    std::map<CGroupNode*, std::set<std::u16string>> claimed;

    for (const SImportedHost& record : hosts) {
        auto refuse = [&](const std::string& why) { applied.notes.push_back({record.sourceFile, record.line, why, true}); };
        if (const std::u16string address = Wide(record.address); address.empty() || !CheckNodeName(address).empty()) {
            refuse("\"" + record.address + "\" cannot be a host address here");
            continue;
        }
        std::u16string name = Wide(record.name.empty() ? record.address : record.name);
        if (name.size() > kMaxNodeName || !CheckNodeName(name).empty()) {
            refuse("\"" + record.name + "\" cannot be a host name here; the host is named by its address");
            name = Wide(record.address);
        }
        CGroupNode* group = &target;
        if (!record.group.empty()) {
            const std::u16string groupName = ImportGroupName(targetName, record.group);
            if (groupName.empty()) {
                refuse("the group \"" + record.group + "\" cannot be a group name here");
                continue;
            }
            auto found = groups.find(groupName);
            if (found == groups.end()) {
                auto made = std::make_unique<CGroupNode>(&root);
                made->SetName(groupName);
                made->m_bInsertAll = true;
                CGroupNode& added = static_cast<CGroupNode&>(root.AppendChild(std::move(made)));
                ShowNewChild(root, added, nameSpace);
                found = groups.emplace(groupName, &added).first;
                ++applied.groupsAdded;
                g_bDirty = true;
            }
            group = found->second;
        }
        std::set<std::u16string>& taken = claimed[group];
        const std::u16string address = Wide(record.address);
        const std::u16string login = Wide(record.login);
        if (taken.count(name) != 0) {
            const std::u16string unique = FreeName(*group, name, taken);
            applied.notes.push_back({record.sourceFile, record.line,
                                     "the name " + WideToAnsi(name) + " is taken by an earlier host of this import; " +
                                         "this host is named " + WideToAnsi(unique),
                                     false});
            name = unique;
        }
        // The host of that name; else one named by this address.
        CHostNode* same = HostNamed(*group, name);
        bool renamed = false;
        if (same == nullptr) {
            same = HostByAddress(*group, address, record.port, login, taken);
            renamed = same != nullptr && same->Name() != name;
        }
        taken.insert(name);
        std::string was;
        auto tell = [&was](const std::string& what) { was += (was.empty() ? "" : ", ") + what; };
        bool changed = false;
        CHostNode* host = same;
        if (host == nullptr) {
            auto made = std::make_unique<CHostNode>(group);
            made->SetName(name);
            made->m_bstrHost = address;
            made->m_nPort = record.port;
            made->m_bstrLogin = login;
            host = static_cast<CHostNode*>(&group->AppendChild(std::move(made)));
            ShowNewChild(*group, *host, nameSpace);
            ++applied.added;
            g_bDirty = true;
        } else {
            if (renamed) {
                tell("was named " + WideToAnsi(host->Name()));
                host->SetName(name);
                changed = true;
            }
            if (host->m_bstrHost != address || host->m_nPort != record.port) {
                tell("was " + WideToAnsi(host->m_bstrHost) + ":" + std::to_string(host->m_nPort));
                host->m_bstrHost = address;
                host->m_nPort = record.port;
                // The picture belongs to the address and port it was taken from.
                if (!host->GetChildren().empty() || !host->m_picture.Empty()) host->DropHardware(nameSpace);
                changed = true;
            }
            if (!login.empty() && host->m_bstrLogin != login) {
                tell("login was " + (host->m_bstrLogin.empty() ? std::string("none") : WideToAnsi(host->m_bstrLogin)));
                host->m_bstrLogin = login;
                changed = true;
            }
        }
        if (record.sudo && host->m_bSudo != *record.sudo) {
            tell(std::string("sudo was ") + (host->m_bSudo ? "on" : "off"));
            host->m_bSudo = *record.sudo;
            changed = true;
        }
        const std::u16string keyBefore = host->m_bstrKeyFile;
        const std::u16string jumpBefore = host->m_bstrJump;
        bool extrasChanged = false;
        const bool kept = ApplyLoginExtras(*host, record, extrasChanged);
        if (!kept && (!record.identityFile.empty() || !record.jump.empty()) && unkeptExtras++ == 0)
            firstUnkept = &record;
        if (host->m_bstrKeyFile != keyBefore && same != nullptr)
            tell("key file was " + (keyBefore.empty() ? std::string("none") : WideToAnsi(keyBefore)));
        if (host->m_bstrJump != jumpBefore && same != nullptr)
            tell("jump route was " + (jumpBefore.empty() ? std::string("none") : WideToAnsi(jumpBefore)));
        changed = changed || extrasChanged;
        SImportedRoute route;
        route.state = same == nullptr ? SImportedRoute::EState::Added
                      : changed       ? SImportedRoute::EState::Updated
                                      : SImportedRoute::EState::Unchanged;
        if (same != nullptr) {
            if (changed)
                ++applied.updated;
            else
                ++applied.unchanged;
        }
        route.group = WideToAnsi(group->Name());
        route.name = WideToAnsi(host->Name());
        route.address = WideToAnsi(host->m_bstrHost);
        route.port = host->m_nPort;
        route.login = WideToAnsi(host->m_bstrLogin);
        route.keyFile = WideToAnsi(KeyFilesShown(host->m_bstrKeyFile));
        route.jump = WideToAnsi(host->m_bstrJump);
        route.was = std::move(was);
        applied.routes.push_back(std::move(route));
        if (changed) g_bDirty = true;
    }
    if (firstUnkept != nullptr)
        applied.notes.push_back({firstUnkept->sourceFile, firstUnkept->line,
                                 std::to_string(unkeptExtras) +
                                     " host(s) name a key file or a jump host that cannot be kept (too long, control "
                                     "characters, or a route of more than two hops); imported without it",
                                 false});
    return applied;
}
