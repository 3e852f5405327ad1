// Frame-level rules of the dispatcher: what is ignored, what a reply may touch.
#include "message_deal_fixture.h"

TEST_F(MessageDealTest, FramesShorterThanTheHeadAreIgnored)
{
    std::vector<uint8_t> b(64, 0xEE);
    const uint8_t head[10] = {0x00, 0xF1, 0x10, 0xF0, 0, 0, 0, 0, 0, 0xA1};
    std::copy(head, head + 10, b.begin());
    for (uint32_t n = 0; n < 10; ++n)
        EXPECT_EQ(handler.message_group_deal(b.data(), n, uint32_t(b.size())), 0u) << n;
    EXPECT_EQ(b[10], 0xEE) << "nothing written for an ignored frame";
}

TEST_F(MessageDealTest, UnknownGroupGivesNoReplyData)
{
    EXPECT_EQ(send(kController, 0x55, {}), 0u);
    EXPECT_EQ(send(kController, 0x55, {1, 2, 3}), 0u);
}

TEST_F(MessageDealTest, ReadOfControllerRegister4EchoesTheRequest)
{
    // 00 F1 10 F0 00 00 00 00 00 A1 04 37 -> status 0, 0x37
    ASSERT_EQ(send(kController, 0xA1, {0x04, 0x37}), 2u);
    EXPECT_EQ(buf[10], 0x00);
    EXPECT_EQ(buf[11], 0x37);
    ASSERT_EQ(send(kController, 0xA1, {0x05, 0x37}), 2u);
    EXPECT_EQ(buf[11], 0x00);
}

TEST_F(MessageDealTest, BytesPastTheFrameReadAsZero)
{
    // Register 4 without its byte 11: the echo must not take what the buffer held before.
    ASSERT_EQ(send(kController, 0xA1, {0x04}), 2u);
    EXPECT_EQ(buf[11], 0x00);
    // A register write cut after the mask is refused, the register untouched.
    store->image[20] = 0x5A;
    ASSERT_EQ(send(kController, 0xA0, {20, 0xFF, 0}), 1u);
    EXPECT_EQ(buf[10], 1);
    EXPECT_EQ(store->image[20], 0x5A);
}

TEST_F(MessageDealTest, RepliesStayInsideTheGivenCapacity)
{
    // 20 bytes of capacity carry at most r = 9: an 8-byte read fits, a 9-byte one does not.
    ASSERT_EQ(send(kController, 0x61, ramRequest(0x600000, 8), 20), 9u);
    EXPECT_EQ(buf[11], 6);
    ASSERT_EQ(send(kController, 0x61, ramRequest(0x600000, 9), 20), 2u);
    EXPECT_EQ(buf[10], 1);
    EXPECT_EQ(buf[11], 0);
    // A request longer than the buffer it claims to be in is not served.
    std::vector<uint8_t> longer = {0x00, 0xF1, 0x10, 0xF0, 0, 0, 0, 0, 0, 0x61};
    const std::vector<uint8_t> read = ramRequest(0x600000, 1);
    longer.insert(longer.end(), read.begin(), read.end());
    EXPECT_EQ(handler.message_group_deal(longer.data(), uint32_t(longer.size()), 16), 0u);
    // A read of 65,535 bytes does not fit a transport buffer whose stuffed form is bounded.
    ASSERT_EQ(send(kController, 0x61, ramRequest(0, 0xFFFF), (kMessageBufferSize - 4) / 2), 2u);
    EXPECT_EQ(buf[10], 1);
    // A buffer too small for any reply gets none.
    EXPECT_EQ(send(kController, 0xA1, {0x04, 0x37}, 12), 0u);
}
