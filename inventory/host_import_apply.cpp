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

bool ApplyLoginExtras(CHostNode&, const SImportedHost&, bool& changed)
{
    // The host keeps no key file and no jump host yet; when it does, set
    // them here (record.identityFile, record.jump) and return true.
    changed = false;
    return false;
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
        // A host of the group with this address, port and login. A login
        // is kept in the console file only with Save Passwords on: a host
        // read back without one is the same host, and gets the login again.
        CHostNode* same = nullptr;
        for (auto& child : group->GetChildren()) {
            auto* host = dynamic_cast<CHostNode*>(child.get());
            if (host == nullptr || host->m_bstrHost != address || host->m_nPort != record.port) continue;
            if (host->m_bstrLogin == login) {
                same = host;
                break;
            }
            if (host->m_bstrLogin.empty() && same == nullptr) same = host;
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
        } else if (host->m_bstrLogin != login) {
            host->m_bstrLogin = login;
            changed = root.m_bSavePasswords;  // otherwise the file does not keep it
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
                                 std::to_string(unkeptExtras) + " host(s) name a key file or a jump host; they are "
                                                                "imported without them",
                                 false});
    return applied;
}
