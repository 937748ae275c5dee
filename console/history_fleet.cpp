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

bool ReadHistoryFleet(CHistoryStore& store, std::vector<InventoryImageHost>& hosts,
                      std::vector<SHistoryFleetEntry>& entries, std::string& error)
{
    hosts.clear();
    entries.clear();
    error.clear();
    const std::vector<std::string> keys = store.Keys(error);
    if (!error.empty()) return false;
    std::map<std::tuple<std::string, std::string, int>, SLatest> latest;
    for (const std::string& key : keys) {
        std::vector<ScanEntry> listed = store.List(key, error);
        if (!error.empty()) return false;
        if (listed.empty()) continue;
        ScanEntry& last = listed.back();
        auto [at, added] = latest.try_emplace({last.host, last.address, last.port}, SLatest{key, last});
        if (!added && last.lastSeen > at->second.entry.lastSeen) at->second = {key, std::move(last)};
    }
    struct SChosen {
        InventoryImageHost host;
        SHistoryFleetEntry entry;
    };
    std::map<std::pair<std::u16string, std::u16string>, int> named;
    std::vector<SChosen> chosen;
    for (const auto& [identity, found] : latest) {
        const std::vector<std::u16string> names = ParseNodePath(AnsiToWide(found.entry.host));
        InventoryImageHost host = names.size() == 2 ? InventoryImageHost{names[0], names[1], {}}
                                                    : InventoryImageHost{u"History", AnsiToWide(found.entry.host), {}};
        ++named[{host.group, host.host}];
        chosen.push_back({std::move(host), {found.key, found.entry.id}});
    }
    std::size_t i = 0;
    for (const auto& [identity, found] : latest) {
        SChosen& one = chosen[i++];
        if (named[{one.host.group, one.host.host}] > 1)
            one.host.host += u" (" + AnsiToWide(found.entry.address) + u":" + IntToDecimal(found.entry.port) + u")";
    }
    std::sort(chosen.begin(), chosen.end(), [](const SChosen& a, const SChosen& b) {
        return std::tie(a.host.group, a.host.host) < std::tie(b.host.group, b.host.host);
    });
    for (SChosen& one : chosen) {
        hosts.push_back(std::move(one.host));
        entries.push_back(std::move(one.entry));
    }
    return true;
}

bool ReadHistoryFleetXml(CHistoryStore& store, const SHistoryFleetEntry& entry, std::u16string& xml, std::string& error)
{
    std::string reason;
    const std::optional<ScanEntry> full = store.Get(entry.key, entry.id, reason);
    if (!reason.empty()) {
        error = reason;
        return false;
    }
    xml = full ? AnsiToWide(full->xml) : std::u16string();
    return true;
}
