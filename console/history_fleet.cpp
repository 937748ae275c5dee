#include "console/history_fleet.h"

#include <algorithm>
#include <map>
#include <tuple>

#include "console/node_path.h"
#include "platform/text.h"

namespace {

struct SLatest {
    std::string key;
    ScanEntry entry;
};

}  // namespace

bool ReadHistoryFleet(CHistoryStore& store, std::vector<InventoryImageHost>& hosts, std::string& error)
{
    hosts.clear();
    error.clear();
    const std::vector<std::string> keys = store.Keys(error);
    if (!error.empty()) return false;
    std::map<std::tuple<std::string, std::string, int>, SLatest> latest;
    for (const std::string& key : keys) {
        std::vector<ScanEntry> entries = store.List(key, error);
        if (!error.empty()) return false;
        if (entries.empty()) continue;
        ScanEntry& last = entries.back();
        auto [at, added] = latest.try_emplace({last.host, last.address, last.port}, SLatest{key, last});
        if (!added && last.lastSeen > at->second.entry.lastSeen) at->second = {key, std::move(last)};
    }
    std::map<std::pair<std::u16string, std::u16string>, int> named;
    std::vector<std::pair<const SLatest*, std::pair<std::u16string, std::u16string>>> chosen;
    for (const auto& [identity, found] : latest) {
        const std::vector<std::u16string> names = ParseNodePath(AnsiToWide(found.entry.host));
        std::pair<std::u16string, std::u16string> name =
            names.size() == 2 ? std::pair(names[0], names[1]) : std::pair(std::u16string(u"History"), AnsiToWide(found.entry.host));
        ++named[name];
        chosen.emplace_back(&found, std::move(name));
    }
    for (auto& [found, name] : chosen) {
        if (named[name] > 1)
            name.second += u" (" + AnsiToWide(found->entry.address) + u":" + IntToDecimal(found->entry.port) + u")";
        const std::optional<ScanEntry> full = store.Get(found->key, found->entry.id, error);
        if (!error.empty()) return false;
        if (!full || full->xml.empty()) continue;
        hosts.push_back({name.first, name.second, AnsiToWide(full->xml)});
    }
    std::sort(hosts.begin(), hosts.end(), [](const InventoryImageHost& a, const InventoryImageHost& b) {
        return std::tie(a.group, a.host) < std::tie(b.group, b.host);
    });
    return true;
}
