// An inventory built in a test and the bytes of its console-file stream;
// the fixture of the tests that save and load it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "inventory/group_node.h"
#include "inventory/host_node.h"
#include "inventory/module_state.h"
#include "inventory/persistence.h"
#include "inventory/root_node.h"
#include "inventory/vault.h"
#include "tests/support/scripted_ui.h"

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

inline void PutU32(Bytes& bytes, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

// The plain bytes of one group "G" holding one host record.
inline Bytes PlainFile(const Bytes& record, std::uint8_t version = 0x34)
{
    Bytes bytes{4, 0, 0, 0, version, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0x47, 0, 0, 0, 1, 0, 0, 0};
    bytes.insert(bytes.end(), record.begin(), record.end());
    return bytes;
}

// A form 3 record of host "h", port "1", no XML, with `settings` as its block.
inline Bytes SettingsRecord(const Bytes& settings)
{
    Bytes record{3, 0, 0, 0, 1, 0, 0, 0, 0x68, 0, 1, 0, 0, 0, 0x31, 0, 0, 0, 0, 0};
    PutU32(record, static_cast<std::uint32_t>(settings.size()));
    record.insert(record.end(), settings.begin(), settings.end());
    return record;
}

// A plain file whose one host carries the settings (tag, value), loaded.
inline HRESULT LoadSettings(std::initializer_list<std::pair<std::uint32_t, std::string_view>> settings,
                            CRootNode& root)
{
    Bytes block;
    PutU32(block, static_cast<std::uint32_t>(settings.size()));
    for (const auto& [tag, value] : settings) {
        PutU32(block, tag);
        PutU32(block, static_cast<std::uint32_t>(value.size()));
        block.insert(block.end(), value.begin(), value.end());
    }
    return Load(root, PlainFile(SettingsRecord(block)));
}

// Saving and loading with cheap key derivation, no main password known and
// the scripted user interface answering.
class InventoryFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_bDirty = false;
        WipeString(g_bstrMainPassword);
        SetVaultTestParameters(&kCheapKdf);
    }
    void TearDown() override
    {
        SetVaultTestParameters(nullptr);
        WipeString(g_bstrMainPassword);
    }
    // How many messages shown so far start with `start`.
    int Told(std::u16string_view start) const
    {
        int count = 0;
        for (const auto& message : ui.Messages()) count += message.text.rfind(start, 0) == 0 ? 1 : 0;
        return count;
    }
    static constexpr SVaultKdfParams kCheapKdf{10, 8, 1};
    CScopedScriptedUi ui;
};
