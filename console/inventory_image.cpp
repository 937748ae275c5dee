#include "console/inventory_image.h"

#include "console/console_file.h"
#include "console/snapin_module.h"

namespace {

class CStreamBuilder {
public:
    void U32(std::uint32_t value)
    {
        for (int i = 0; i < 4; ++i) m_bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
    void Units(std::u16string_view text)
    {
        for (char16_t unit : text) {
            m_bytes.push_back(static_cast<std::uint8_t>(unit));
            m_bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
        }
    }
    // Length in code units, then the text.
    void Text(std::u16string_view text)
    {
        U32(static_cast<std::uint32_t>(text.size()));
        Units(text);
    }
    std::vector<std::uint8_t> Take() { return std::move(m_bytes); }

private:
    std::vector<std::uint8_t> m_bytes;
};

}  // namespace

std::vector<std::uint8_t> InventoryImageWithXml(std::u16string_view group, std::u16string_view host,
                                                std::u16string_view xml)
{
    return InventoryImageWithHosts({{std::u16string(group), std::u16string(host), std::u16string(xml)}});
}

std::vector<std::uint8_t> InventoryImageWithHosts(const std::vector<InventoryImageHost>& hosts)
{
    std::vector<std::pair<std::u16string, std::vector<const InventoryImageHost*>>> groups;
    for (const InventoryImageHost& host : hosts) {
        if (groups.empty() || groups.back().first != host.group) groups.emplace_back(host.group, std::vector<const InventoryImageHost*>{});
        groups.back().second.push_back(&host);
    }
    CStreamBuilder stream;
    // Marker: the wide text "1" with its terminator.
    stream.U32(4);
    stream.Units(std::u16string_view(u"1\0", 2));
    stream.U32(static_cast<std::uint32_t>(groups.size()));
    for (const auto& [group, members] : groups) {
        stream.U32(static_cast<std::uint32_t>(group.size() + 1));
        stream.Units(group);
        stream.Units(std::u16string_view(u"\0", 1));
        stream.U32(static_cast<std::uint32_t>(members.size()));
        for (const InventoryImageHost* host : members) {
            stream.U32(0);  // plain form
            stream.Text(host->host);
            stream.Text(u"22");
            stream.Text(host->xml);
        }
    }
    return FormatConsoleFile({ConsoleFileInstance{kFerrodexSnapinClass, stream.Take()}});
}
