#include <gtest/gtest.h>

#include "inventory/stream_io.h"

// Texts around the reader's buffer size come back whole, and a count that
// claims more than the stream holds fails without taking what is there.
TEST(StreamIo, WideTextsOfEveryShapeRoundTripAndShortStreamsFail)
{
    for (std::size_t length : {0u, 1u, 4095u, 4096u, 4097u, 8192u, 20000u}) {
        std::u16string text(length, u'\0');
        for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char16_t>(0xD7FF - i % 5000);
        com_ptr<IStream> stream = CreateMemoryStream();
        CStreamWriter writer(stream.get());
        writer.WriteWide(text);
        writer.WriteU32(7);
        ASSERT_EQ(writer.Result(), S_OK);
        ASSERT_EQ(stream->Seek(0, STREAM_SEEK_SET, nullptr), S_OK);
        CStreamReader reader(stream.get());
        std::u16string back = u"old";
        std::uint32_t after = 0;
        ASSERT_TRUE(reader.ReadWide(static_cast<std::uint32_t>(length), back)) << length;
        EXPECT_EQ(back, text) << length;
        ASSERT_TRUE(reader.ReadU32(after));
        EXPECT_EQ(after, 7u);

        ASSERT_EQ(stream->Seek(0, STREAM_SEEK_SET, nullptr), S_OK);
        CStreamReader greedy(stream.get());
        EXPECT_FALSE(greedy.ReadWide(static_cast<std::uint32_t>(length + 3), back)) << length;
        EXPECT_TRUE(back.empty());
        EXPECT_FALSE(greedy.ReadU32(after));  // a failed reader stays failed
    }
    com_ptr<IStream> empty = CreateMemoryStream();
    CStreamReader reader(empty.get());
    std::u16string back;
    EXPECT_FALSE(reader.ReadWide(0x7FFFFFFFu, back));
    EXPECT_LT(back.capacity(), 4096u);
}
