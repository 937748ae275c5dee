// A console file image holding one Ferrodex inventory whose hosts hold lshw
// XML, as scans leave them; used to show an XML file exactly as a scanned
// host shows it, without any network. The snap-in builds it: a new console
// gets the groups and hosts through the menus and dialogs the commands use,
// each host its XML through a paste, and the snap-in saves what it holds.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "console/host_core.h"

// The hosts in the order given; hosts of one group name it alike and follow
// each other (a group named again later is another group). An empty XML
// gives a host without a stored picture. The names go through the snap-in's
// dialogs, which refuse what they always refuse (a "/" or a control
// character): the reason is in the status then.
struct InventoryImageHost {
    std::u16string group;
    std::u16string host;
    std::u16string xml;
};
HostStatus BuildInventoryImage(const std::vector<InventoryImageHost>& hosts, std::vector<std::uint8_t>& image);
// The same with each host's XML asked for only as the host is added (and
// dropped once its picture is packed), so that a large fleet is never held
// as text all at once. `xmlOf(i)` gives host i's XML; false with `error`
// set ends the build.
using InventoryImageXml = std::function<bool(std::size_t index, std::u16string& xml, std::string& error)>;
HostStatus BuildInventoryImage(const std::vector<InventoryImageHost>& hosts, const InventoryImageXml& xmlOf,
                               std::vector<std::uint8_t>& image);

// The same without the reason: empty when the image could not be built.
std::vector<std::uint8_t> InventoryImageWithHosts(const std::vector<InventoryImageHost>& hosts);
// One group with one host.
std::vector<std::uint8_t> InventoryImageWithXml(std::u16string_view group, std::u16string_view host,
                                                std::u16string_view xml);
