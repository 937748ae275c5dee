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
