#include "console/inventory_image.h"

#include "console/paste_data.h"
#include "console/script_ui.h"
#include "platform/snapin_contract.h"
#include "platform/text.h"

namespace {

// Installs the builder's user interface for its duration.
class CInterfaceSwap {
public:
    explicit CInterfaceSwap(IUserInterface* ui) : m_previous(SetUserInterface(ui)) {}
    ~CInterfaceSwap() { SetUserInterface(m_previous); }
    CInterfaceSwap(const CInterfaceSwap&) = delete;
    CInterfaceSwap& operator=(const CInterfaceSwap&) = delete;

private:
    IUserInterface* m_previous;
};

// Runs a menu command that adds a child to `parent`, and gives the child it
// added (the last one); 0 when the snap-in added none.
HSCOPEITEM AddChild(CConsoleHost& console, CScriptUserInterface& ui, HSCOPEITEM parent, long command)
{
    const std::size_t before = console.Children(parent).size();
    if (console.InvokeCommand(parent, command) != S_OK || ui.Failed()) return 0;
    const std::vector<HSCOPEITEM> children = console.Children(parent);
    return children.size() == before + 1 ? children.back() : 0;
}

HostStatus Refused(const char* what, std::u16string_view name)
{
    return HostStatus::Fail(std::string("the snap-in did not add the ") + what + " \"" + WideToAnsi(name) + "\"");
}

}  // namespace

HostStatus BuildInventoryImage(const std::vector<InventoryImageHost>& hosts, std::vector<std::uint8_t>& image)
{
    return BuildInventoryImage(
        hosts,
        [&hosts](std::size_t index, std::u16string& xml, std::string&) {
            xml = hosts[index].xml;
            return true;
        },
        image);
}

HostStatus BuildInventoryImage(const std::vector<InventoryImageHost>& hosts, const InventoryImageXml& xmlOf,
                               std::vector<std::uint8_t>& image)
{
    image.clear();
    ScriptAnswers answers;
    // The host dialog as `host add` answers it, with no login: the host is
    // stored as one whose login is asked before it is first expanded.
    answers.answerHostDialog = true;
    answers.login = u"";
    CScriptUserInterface ui(std::move(answers));
    CInterfaceSwap swap(&ui);
    CConsoleHost console;
    if (HostStatus status = console.OpenNew(); !status) return status;
    const HSCOPEITEM root = console.RootItem();
    console.Expand(root);
    HSCOPEITEM group = 0;
    const std::u16string* groupName = nullptr;
    for (std::size_t index = 0; index < hosts.size(); ++index) {
        const InventoryImageHost& host = hosts[index];
        if (groupName == nullptr || *groupName != host.group) {
            ui.Answers().groupName = host.group;
            group = AddChild(console, ui, root, IDM_ADD_GROUP);
            if (group == 0) return Refused("group", host.group);
            console.Expand(group);
            groupName = &host.group;
        }
        ui.NextHost();
        ui.Answers().host = host.host;
        const HSCOPEITEM added = AddChild(console, ui, group, IDM_ADD_HOST);
        if (added == 0) return Refused("host", host.host);
        std::u16string xml;
        std::string error;
        if (!xmlOf(index, xml, error)) return HostStatus::Fail(error);
        if (!xml.empty() && console.Paste(added, MakePictureData(xml).get()) != S_OK)
            return HostStatus::Fail("the host \"" + WideToAnsi(host.host) + "\" did not take its XML");
    }
    return console.SaveImage(image);
}

std::vector<std::uint8_t> InventoryImageWithHosts(const std::vector<InventoryImageHost>& hosts)
{
    std::vector<std::uint8_t> image;
    if (!BuildInventoryImage(hosts, image)) image.clear();
    return image;
}

std::vector<std::uint8_t> InventoryImageWithXml(std::u16string_view group, std::u16string_view host,
                                                std::u16string_view xml)
{
    return InventoryImageWithHosts({{std::u16string(group), std::u16string(host), std::u16string(xml)}});
}
