// An inventory built in a test and the bytes of its console-file stream.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "inventory/group_node.h"
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
