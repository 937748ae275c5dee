#include "inventory/host_import_apply.h"

#include <map>
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
        const std::u16string keyFile = Wide(record.identityFile);
        if (!CheckKeyFilePath(keyFile).empty()) {
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

    for (const SImportedHost& record : hosts) {
        auto refuse = [&](const std::string& why) { applied.notes.push_back({record.sourceFile, record.line, why, true}); };
        if (const std::u16string address = Wide(record.address); address.empty() || !CheckNodeName(address).empty()) {
            refuse("\"" + record.address + "\" cannot be a host name here");
            continue;
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
        const std::u16string address = Wide(record.address);
        const std::u16string login = Wide(record.login);
        // A host of the group with this address, port and login. A host
        // without a login is the same host and gets the login; a record
        // without one names the host of that address and port whatever its
        // login, which it keeps.
        CHostNode* same = nullptr;
        for (auto& child : group->GetChildren()) {
            auto* host = dynamic_cast<CHostNode*>(child.get());
            if (host == nullptr || host->m_bstrHost != address || host->m_nPort != record.port) continue;
            if (host->m_bstrLogin == login) {
                same = host;
                break;
            }
            if ((host->m_bstrLogin.empty() || login.empty()) && same == nullptr) same = host;
        }
        bool changed = false;
        CHostNode* host = same;
        if (host == nullptr) {
            // Like a host added by hand, the node is named by its address
            // (the console file keeps no other name).
            auto made = std::make_unique<CHostNode>(group);
            made->SetName(address);
            made->m_bstrHost = address;
            made->m_nPort = record.port;
            made->m_bstrLogin = login;
            host = static_cast<CHostNode*>(&group->AppendChild(std::move(made)));
            ShowNewChild(*group, *host, nameSpace);
            ++applied.added;
            g_bDirty = true;
        } else if (!login.empty() && host->m_bstrLogin != login) {
            host->m_bstrLogin = login;
            changed = true;
        }
        if (record.sudo && host->m_bSudo != *record.sudo) {
            host->m_bSudo = *record.sudo;
            changed = true;
        }
        bool extrasChanged = false;
        const bool kept = ApplyLoginExtras(*host, record, extrasChanged);
        if (!kept && (!record.identityFile.empty() || !record.jump.empty()) && unkeptExtras++ == 0)
            firstUnkept = &record;
        changed = changed || extrasChanged;
        if (same != nullptr) {
            if (changed)
                ++applied.updated;
            else
                ++applied.unchanged;
        }
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
