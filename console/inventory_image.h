// A console file image holding one Ferrodex inventory with one group and one
// host that holds the given lshw XML, in the snap-in's saved-state layout
// (plain host records); used to show an XML file exactly as a scanned host
// shows it, without any network.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

std::vector<std::uint8_t> InventoryImageWithXml(std::u16string_view group, std::u16string_view host,
                                                std::u16string_view xml);

// The same with several groups and hosts, in the order given; hosts of one
// group name it alike and follow each other. An empty XML gives a host
// without a stored picture.
struct InventoryImageHost {
    std::u16string group;
    std::u16string host;
    std::u16string xml;
};
std::vector<std::uint8_t> InventoryImageWithHosts(const std::vector<InventoryImageHost>& hosts);
