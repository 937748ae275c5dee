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
