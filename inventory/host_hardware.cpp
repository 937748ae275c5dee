#include "inventory/host_hardware.h"

#include <memory>

#include "hardware/general_node.h"
#include "hardware/hardware_tree.h"
#include "inventory/host_node.h"
#include "platform/ui.h"
#include "res/module_strings.h"
#include "res/resource_ids.h"

int BuildHardwareTree(CHostNode& host)
{
    SHardwareTree tree;
    const std::u16string text = host.m_picture.Empty() ? std::u16string() : host.m_picture.Text();
    if (text.empty()) MessageBox(nullptr, LoadString(g_hInstance, IDS_FILE_NOT_FOUND), u"Error", MB_OK | MB_ICONERROR);
    const int result = ReadHardwareTree(text, &host, tree);
    host.m_hrXml = tree.hrXml;
    host.m_spXmlDoc = std::move(tree.document);
    if (host.m_generalNames.empty()) {
        host.m_generalNames = std::move(tree.generalNames);
        host.m_generalValues = std::move(tree.generalValues);
    } else {
        for (std::size_t i = 0; i < tree.generalNames.size(); ++i)
            AppendRow(host.m_generalNames, host.m_generalValues, std::move(tree.generalNames[i]),
                      std::move(tree.generalValues[i]));
    }
    for (auto& node : tree.nodes) host.AppendChild(std::move(node));
    return result;
}

HRESULT InsertHostHardware(CHostNode& host, IConsoleNameSpace2* nameSpace)
{
    return ComBoundary([&] {
        host.m_pGeneral = std::make_unique<CGeneralNode>(host.m_generalNames, host.m_generalValues, &host);
        // The scan's status and notice rows, also for a picture from the
        // console file.
        host.ShowScanStatus();
        return InsertHardwareItems(nameSpace, host, *host.m_pGeneral);
    });
}
