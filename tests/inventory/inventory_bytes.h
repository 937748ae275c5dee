// An inventory built in a test and the bytes of its console-file stream.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "inventory/group_node.h"
#include "inventory/host_node.h"
#include "inventory/persistence.h"
#include "inventory/root_node.h"

using Bytes = std::vector<std::uint8_t>;

// The stream the inventory saves (the save is expected to succeed).
inline Bytes Save(CRootNode& root)
{
    com_ptr<IStream> stream = CreateMemoryStream();
    EXPECT_EQ(SaveInventory(root, stream.get()), S_OK);
    return MemoryStreamBytes(stream.get());
}

inline HRESULT Load(CRootNode& root, const Bytes& bytes)
{
    com_ptr<IStream> stream = CreateMemoryStream(bytes);
    return LoadInventory(root, stream.get());
}

inline CGroupNode& AddGroup(CRootNode& root, std::u16string_view name)
{
    auto& group = static_cast<CGroupNode&>(root.AppendChild(std::make_unique<CGroupNode>(&root)));
    group.SetName(name);
    return group;
}

// A host named by its address, with what a console file keeps of it.
inline CHostNode& AddHost(CGroupNode& group, std::u16string_view host, int port = 22, std::u16string_view login = u"",
                          std::u16string_view password = u"", std::u16string_view xml = u"")
{
    auto& node = static_cast<CHostNode&>(group.AppendChild(std::make_unique<CHostNode>(&group)));
    node.SetName(host);
    node.m_bstrHost = host;
    node.m_nPort = port;
    node.m_bstrLogin = login;
    node.m_bstrPassword = password;
    node.m_picture.SetText(xml);
    return node;
}

inline CHostNode& HostAt(CRootNode& root, std::size_t group, std::size_t host)
{
    return static_cast<CHostNode&>(*root.GetChildren().at(group)->GetChildren().at(host));
}
