#include <gtest/gtest.h>

#include "platform/dataobject.h"
#include "platform/stream.h"

TEST(Stream, ReadsWritesAndSeeksWithinBounds)
{
    com_ptr<IStream> stream = CreateMemoryStream();
    ULONG done = 0;
    ASSERT_EQ(stream->Write("abcdef", 6, &done), S_OK);
    EXPECT_EQ(done, 6u);
    std::uint64_t position = 0;
    ASSERT_EQ(stream->Seek(2, STREAM_SEEK_SET, &position), S_OK);
    char buffer[8] = {};
    EXPECT_EQ(stream->Read(buffer, 8, &done), S_FALSE);  // short read at the end
    EXPECT_EQ(done, 4u);
    EXPECT_EQ(std::string(buffer, 4), "cdef");
    EXPECT_EQ(stream->Read(buffer, 1, &done), S_FALSE);
    EXPECT_EQ(done, 0u);
    EXPECT_NE(stream->Seek(-7, STREAM_SEEK_END, &position), S_OK);
    EXPECT_EQ(MemoryStreamBytes(stream.get()).size(), 6u);
}

// Room made by a larger size reads as zeros wherever nobody wrote, whether
// it is read, written in its middle, sized down or handed out whole.
TEST(Stream, GrownSizeReadsAsZerosUntilWritten)
{
    com_ptr<IStream> stream = CreateMemoryStream();
    ULONG done = 0;
    ASSERT_EQ(stream->Write("ab", 2, &done), S_OK);
    ASSERT_EQ(stream->SetSize(8), S_OK);
    std::uint64_t size = 0;
    ASSERT_EQ(stream->Stat(&size), S_OK);
    EXPECT_EQ(size, 8u);
    ASSERT_EQ(stream->Write("cd", 2, &done), S_OK);  // appended where the writes ended
    std::uint64_t position = 0;
    ASSERT_EQ(stream->Seek(0, STREAM_SEEK_END, &position), S_OK);
    EXPECT_EQ(position, 8u);
    EXPECT_EQ(MemoryStreamBytes(stream.get()), (std::vector<std::uint8_t>{'a', 'b', 'c', 'd', 0, 0, 0, 0}));

    com_ptr<IStream> other = CreateMemoryStream();
    ASSERT_EQ(other->SetSize(6), S_OK);
    ASSERT_EQ(other->Seek(3, STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(other->Write("x", 1, &done), S_OK);  // in the middle of the room
    ASSERT_EQ(other->Seek(0, STREAM_SEEK_SET, nullptr), S_OK);
    char buffer[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    EXPECT_EQ(other->Read(buffer, 8, &done), S_FALSE);
    EXPECT_EQ(std::string(buffer, done), std::string("\0\0\0x\0\0", 6));
    ASSERT_EQ(other->SetSize(2), S_OK);
    ASSERT_EQ(other->Stat(&size), S_OK);
    EXPECT_EQ(size, 2u);

    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 0);
    com_ptr<IStream> onBlock;
    ASSERT_EQ(CreateStreamOnHGlobal(block, FALSE, onBlock.put()), S_OK);
    ASSERT_EQ(onBlock->SetSize(5), S_OK);
    EXPECT_EQ(GlobalSize(block), 5u);
    const auto* bytes = static_cast<const std::uint8_t*>(GlobalLock(block));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes, bytes + 5), std::vector<std::uint8_t>(5, 0));
    onBlock = nullptr;
    GlobalFree(block);
}

TEST(Stream, LimitedStreamReportsAFullMedium)
{
    com_ptr<IStream> stream = CreateLimitedStream(5);
    ULONG done = 0;
    EXPECT_EQ(stream->Write("abc", 3, &done), S_OK);
    EXPECT_EQ(stream->Write("defg", 4, &done), STG_E_MEDIUMFULL);
    EXPECT_EQ(done, 2u);
    EXPECT_EQ(stream->Write("h", 1, &done), STG_E_MEDIUMFULL);
    EXPECT_EQ(done, 0u);
}

TEST(Stream, GlobalBlockStreamsShareTheCallersBlock)
{
    HGLOBAL block = GlobalAlloc(GMEM_SHARE | GMEM_MOVEABLE, 4);
    ASSERT_NE(block, nullptr);
    {
        com_ptr<IStream> stream;
        ASSERT_EQ(CreateStreamOnHGlobal(block, FALSE, stream.put()), S_OK);
        ASSERT_EQ(stream->Write("\x01\x02\x03\x04\x05", 5, nullptr), S_OK);
    }
    ASSERT_EQ(GlobalSize(block), 5u);  // the block outlives its stream
    com_ptr<IStream> again;
    ASSERT_EQ(CreateStreamOnHGlobal(block, FALSE, again.put()), S_OK);
    HGLOBAL under = nullptr;
    ASSERT_EQ(GetHGlobalFromStream(again.get(), &under), S_OK);
    EXPECT_EQ(under, block);
    com_ptr<IStream> memory = CreateMemoryStream({1, 2});
    ASSERT_EQ(GetHGlobalFromStream(memory.get(), &under), S_OK);
    EXPECT_EQ(GlobalSize(under), 2u);
    EXPECT_EQ(GetHGlobalFromStream(nullptr, &under), E_INVALIDARG);
    EXPECT_EQ(under, nullptr);
    again = nullptr;
    EXPECT_EQ(static_cast<unsigned char*>(GlobalLock(block))[4], 5);
    EXPECT_EQ(GlobalFree(block), nullptr);
    EXPECT_EQ(GlobalFree(block), block);  // a second free is refused
    EXPECT_EQ(GlobalLock(block), nullptr);
}

TEST(ClipboardFormats, SameNameSameNumber)
{
    const UINT a = RegisterClipboardFormat(u"CCF_NODETYPE");
    EXPECT_NE(a, 0u);
    EXPECT_EQ(RegisterClipboardFormat(u"CCF_NODETYPE"), a);
    EXPECT_NE(RegisterClipboardFormat(u"CCF_DISPLAY_NAME"), a);
    EXPECT_EQ(RegisterClipboardFormat(u""), 0u);
}
