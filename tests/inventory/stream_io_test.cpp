#include <gtest/gtest.h>

#include "inventory/stream_io.h"
#include "tests/support/forwarding_stream.h"

namespace {

std::u16string Sample(std::size_t length)
{
    std::u16string text(length, u'\0');
    for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char16_t>(0xD7FF - i % 5000);
    return text;
}

}  // namespace

// Texts around the reader's buffer size come back whole, from a memory
// block and from any other stream, at even and odd places; a count that
// claims more than the stream holds fails without taking what is there.
TEST(StreamIo, WideTextsOfEveryShapeRoundTripAndShortStreamsFail)
{
    for (std::size_t lead : {0u, 1u}) {
        for (bool forwarded : {false, true}) {
            for (std::size_t length : {0u, 1u, 4095u, 4096u, 4097u, 8192u, 20000u}) {
                const std::u16string text = Sample(length);
                com_ptr<IStream> memory = CreateMemoryStream();
                CForwardingStream forwarding(memory.get());
                IStream* stream = forwarded ? static_cast<IStream*>(&forwarding) : memory.get();
                CStreamWriter writer(stream);
                writer.WriteBytes("x", lead);
                writer.WriteWide(text);
                writer.WriteU32(7);
                ASSERT_EQ(writer.Result(), S_OK);
                const std::string where = "lead " + std::to_string(lead) + (forwarded ? " forwarded " : " block ") +
                                          std::to_string(length);

                ASSERT_EQ(stream->Seek(std::int64_t(lead), STREAM_SEEK_SET, nullptr), S_OK);
                CStreamReader reader(stream);
                std::u16string back = u"old";
                std::uint32_t after = 0;
                ASSERT_TRUE(reader.ReadWide(static_cast<std::uint32_t>(length), back)) << where;
                EXPECT_EQ(back, text) << where;
                ASSERT_TRUE(reader.ReadU32(after)) << where;
                EXPECT_EQ(after, 7u) << where;

                ASSERT_EQ(stream->Seek(std::int64_t(lead), STREAM_SEEK_SET, nullptr), S_OK);
                CStreamReader greedy(stream);
                EXPECT_FALSE(greedy.ReadWide(static_cast<std::uint32_t>(length + 3), back)) << where;
                EXPECT_TRUE(back.empty()) << where;
                EXPECT_FALSE(greedy.ReadU32(after)) << where;  // a failed reader stays failed
            }
        }
    }
    com_ptr<IStream> empty = CreateMemoryStream();
    CStreamReader reader(empty.get());
    std::u16string back;
    EXPECT_FALSE(reader.ReadWide(0x7FFFFFFFu, back));
    EXPECT_LT(back.capacity(), 4096u);
}
