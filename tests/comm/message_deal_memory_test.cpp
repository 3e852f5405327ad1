// Writes and reads of the controller's parameter memory: block, user-mode records, 4G RAM.
#include "message_deal_fixture.h"
#include "store_face.h"
#include "test_root.h"

#include <algorithm>
#include <cstring>

TEST_F(MessageDealTest, BlockWritesEndAtTheBlock)
{
    EXPECT_EQ(writeRam(0xFFE, {1, 2, 3, 4}), 1);
    EXPECT_EQ(testBlock(store)[0xFFE], 0);
    EXPECT_EQ(writeRam(0xFFE, {1, 2}), 0);
    EXPECT_EQ(testBlock(store)[0xFFF], 2);
    EXPECT_EQ(writeRam(0x5A, {0xA5}), 0);
    EXPECT_EQ(readRam(0x5A, 1), std::vector<uint8_t>{0xA5});
    EXPECT_EQ(scaler->change_flag, 0) << "a write is not handed over; register 11 does that";
}

TEST_F(MessageDealTest, WriteLengthMustLieInsideTheFrame)
{
    // Announces 200 bytes but carries 2: nothing is copied from beyond the frame.
    std::vector<uint8_t> p = ramRequest(0x400, 200, {7, 7});
    ASSERT_EQ(send(kController, 0x60, p), 1u);
    EXPECT_EQ(buf[10], 1);
    EXPECT_EQ(testBlock(store)[0x400], 0);
    ASSERT_EQ(send(kController, 0x60, {0x00, 0x04, 0, 0}), 1u) << "cut inside the address";
    EXPECT_EQ(buf[10], 1);
}

TEST_F(MessageDealTest, UserModeRecordsAreWrittenFromTheirMarkers)
{
    // As the tool reads them back: they act at register 11 bit 2.
    EXPECT_EQ(writeRam(0x1000, {0xAA, 0xAA}), 0);
    EXPECT_EQ(store->recordByte(0, 0), 0xAA);
    EXPECT_EQ(store->recordByte(0, 1), 0xAA);
    EXPECT_EQ(writeRam(0x1002, {0x34}), 0);
    EXPECT_EQ(store->recordByte(0, 2), 0x34) << "the body starts at 0x1002";
    EXPECT_EQ(writeRam(0x10000, {9}), 0);
    EXPECT_EQ(store->recordByte(15, 0), 9);
    const uint8_t next = store->recordByte(1, 0);
    EXPECT_EQ(writeRam(0x1FFF, {1, 2}), 1) << "a write may not run into the next record";
    EXPECT_EQ(store->recordByte(1, 0), next);
    EXPECT_NE(store->recordByte(0, 0xFFF), 1);
    EXPECT_EQ(writeRam(0x11000, {1}), 1);
    EXPECT_EQ(writeRam(0x20000, {1}), 1);
}

TEST_F(MessageDealTest, UserModeReadsTakeTheRecordOfTheStartAddress)
{
    for (uint32_t m = 0; m < kModeCount; ++m)
        memset(store->mode[m], int(0x10 + m), kModeRecordSize);
    EXPECT_EQ(readRam(0x3000, 2), (std::vector<uint8_t>{0x12, 0x12}));
    // Across a 4 KiB boundary the record of the start goes on, so the next is shifted by 2.
    EXPECT_EQ(readRam(0x1FFE, 6), (std::vector<uint8_t>{0x10, 0x10, 0x10, 0x10, 0x11, 0x11}));
    // The end of the last record: nothing past it.
    EXPECT_EQ(readRam(0x10FFE, 2), (std::vector<uint8_t>{0x1F, 0x1F}));
    // Started in the block: the record part reads 0, never a record before the first.
    testBlock(store)[0xFFF] = 0x77;
    EXPECT_EQ(readRam(0xFFF, 3), (std::vector<uint8_t>{0x77, 0, 0}));
}

TEST_F(MessageDealTest, FourGRamWindowIsAddressedFromItsFirstByte)
{
    EXPECT_EQ(writeRam(0xA1000010, {1, 2, 3}), 0);
    EXPECT_EQ(g_4G_RAM[0], 1);
    EXPECT_EQ(g_4G_RAM[2], 3);
    EXPECT_EQ(readRam(0xA1000010, 3), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(writeRam(0xA10000FF, {1, 2}), 1) << "past the window's end";
    // Near the top of the address space a + n must not wrap below the window's end.
    g_4G_RAM[0] = 0;
    std::vector<uint8_t> big(300, 0x5A);
    EXPECT_EQ(writeRam(0xFFFFFF00, big), 1);
    EXPECT_EQ(g_4G_RAM[0], 0);
}

TEST_F(MessageDealTest, OtherAddressesReadZero)
{
    testBlock(store)[0x10] = 9;
    testBlock(store)[0] = testBlock(store)[1] = 5;
    EXPECT_EQ(readRam(0x00E, 4), (std::vector<uint8_t>{0, 0, 9, 0}));
    EXPECT_EQ(readRam(0xFD000000, 2), (std::vector<uint8_t>{0, 0}));
    EXPECT_EQ(readRam(0x500000, 2), (std::vector<uint8_t>{0, 0}));
    EXPECT_EQ(readRam(0xFFFFFFFE, 4), (std::vector<uint8_t>{0, 0, 0, 0})) << "no wrap to the block";
}

TEST_F(MessageDealTest, EverySingleParameterAsTheTableSays)
{
    // Identifier, block word, largest accepted value. 60 writes 1 - value; 54 and 93 have tests
    // of their own; every other identifier changes nothing.
    struct Row {
        uint8_t id;
        uint32_t word;
        uint16_t max;
    };
    const std::vector<Row> rows = {
        {6, 0x880, 100}, {10, 0x888, 3}, {11, 0x88A, 100}, {12, 0x88C, 100}, {13, 0x88E, 100},
        {21, 0x8E8, 5}, {29, 0x8E8 + 26, 5}, {37, 0x8E8 + 52, 5}, {45, 0x8E8 + 78, 5},
        {50, 0x8E8 + 104, 5}, {51, 0x8E8 + 130, 5}, {60, 0x844, 1},
    };
    for (int id = 0; id < 256; ++id) {
        if (id == 54 || id == 93)
            continue;
        const auto row = std::find_if(rows.begin(), rows.end(), [id](const Row& r) { return r.id == id; });
        const uint16_t max = row == rows.end() ? 0 : row->max;
        for (uint16_t value : {uint16_t(0), max, uint16_t(max + 1), uint16_t(0xFFFF)}) {
            SCOPED_TRACE(testing::Message() << "identifier " << id << ", value " << value);
            memset(testBlock(store) + 0x300, 0xEE, kPersistSize);
            std::vector<uint8_t> want(testBlock(store), testBlock(store) + kBlockSize);
            const bool taken = row != rows.end() && value <= max;
            if (taken) {
                putU16(want.data() + row->word, id == 60 ? uint16_t(1 - value) : value);
                putU16(want.data() + 0x362, 0); // the block holds no user mode any more
            }
            scaler->change_flag = 0;
            ASSERT_EQ(send(kController, 0xB0, {'1', 0, uint8_t(id), uint8_t(value), uint8_t(value >> 8)}), 2u);
            EXPECT_EQ(buf[10], taken ? 0 : 1) << "an item that lands nowhere is answered failure";
            EXPECT_EQ(buf[11], '1');
            EXPECT_EQ(differences(std::vector<uint8_t>(testBlock(store), testBlock(store) + kBlockSize), want, 0), "");
            EXPECT_EQ(scaler->change_flag, taken ? 1 : 0) << "handed over only when applied";
        }
    }
}

TEST_F(MessageDealTest, SingleParameterFraming)
{
    ASSERT_EQ(send(kController, 0xB0, {'2', 0, 6, 1, 0}), 1u);
    EXPECT_EQ(buf[10], 1);
    ASSERT_EQ(send(kController, 0xB0, {'1', 0, 6}), 1u) << "shorter than one item";
    EXPECT_EQ(buf[10], 1);
    // Items apply in order; a trailing partial item is not read, and the tool is told.
    ASSERT_EQ(send(kController, 0xB0, {'1', 0, 6, 10, 0, 11, 7, 0, 6, 20}), 2u);
    EXPECT_EQ(buf[10], 1);
    EXPECT_EQ(blockU16(0x880), 10);
    EXPECT_EQ(blockU16(0x88A), 7);
    ASSERT_EQ(send(kController, 0xB0, {'1', 0, 6, 30, 0, 6, 31, 0}), 2u);
    EXPECT_EQ(blockU16(0x880), 31) << "the later item wins";
    ASSERT_EQ(send(kController, 0xB0, {'1', 0, 6, 50}), 2u) << "only a cut item";
    EXPECT_EQ(buf[10], 1);
    EXPECT_EQ(blockU16(0x880), 31);
}

TEST_F(MessageDealTest, SingleParameterAudioUsesWindow0ForAnyLargeWindowByte)
{
    testBlock(store)[0x840] = 200;
    const std::vector<uint8_t> tail(testBlock(store) + 0x900, testBlock(store) + kBlockSize);
    ASSERT_EQ(send(kController, 0xB0, {'1', 0, 93, 1, 0}), 2u);
    EXPECT_EQ(testBlock(store)[kWindowBase + 20], 100);
    EXPECT_EQ(testBlock(store)[kWindowBase + 21], 0x80);
    EXPECT_EQ(std::vector<uint8_t>(testBlock(store) + 0x900, testBlock(store) + kBlockSize), tail);
    testBlock(store)[0x840] = 2;
    send(kController, 0xB0, {'1', 0, 93, 0, 0});
    EXPECT_EQ(testBlock(store)[kWindowBase + 2 * kWindowSize + 20], 0);
    EXPECT_EQ(testBlock(store)[kWindowBase + 20], 100) << "window 0 untouched";
}

// A tool's unapplied write beside a command computing from the block: the saved file holds the
// command's change of what the box applied (audio in its audio window, stitching not "already on").
TEST_F(MessageDealTest, CommandsComputeFromWhatTheBoxAppliedPastAToolsWrite)
{
    const uint32_t audio0 = blk::window(0, blk::win::kAudio), mode0 = blk::window(0, blk::win::kDotByDot);
    store->setU16(blk::window(0, blk::win::kOutput), blk::win::kOutDotByDot);
    const std::tuple<uint32_t, uint8_t, std::vector<uint8_t>, uint32_t, uint16_t> rows[] = {
        {blk::kAudioWindow, 3, {0xB0, '1', 0, 93, 1, 0}, audio0, 0x8064}, {mode0, 8, {0xA0, 161, 0xFF, 0, 0x10}, mode0, 8}};
    for (const auto& [toolAt, tool, request, savedAt, saved] : rows) {
        ASSERT_EQ(writeRam(toolAt, {tool}), 0);
        send(kController, request[0], std::vector<uint8_t>(request.begin() + 1, request.end()));
        ASSERT_TRUE(store->saveApplied());
        const QByteArray file = TestRoot::readFile(VyrRamPara::kParaFilePath).mid(2 + savedAt - kPersistStart);
        EXPECT_EQ(uint8_t(file.at(0)) | uint8_t(file.at(1)) << 8, saved) << savedAt;
    }
}

TEST_F(MessageDealTest, SingleParameterUserModeLoadsASavedRecord)
{
    store->mode[9][0] = store->mode[9][1] = 0xAA;
    memset(store->mode[9] + 2, 0x3C, kModeDataSize);
    testBlock(store)[0x364] = 5;
    send(kController, 0xB0, {'1', 0, 54, 17, 0}); // 17 names record 9
    EXPECT_EQ(testBlock(store)[0x380], 0x3C);
    EXPECT_EQ(blockU16(0x362), 10);
    EXPECT_EQ(testBlock(store)[0x364], 0);
    scaler->change_flag = 0;
    send(kController, 0xB0, {'1', 0, 54, 3, 0}); // record 3 is empty
    EXPECT_EQ(buf[10], 1);
    EXPECT_EQ(blockU16(0x362), 10);
    EXPECT_EQ(scaler->change_flag, 0);

    // The record covers what items before it wrote; items after it write over the record.
    send(kController, 0xB0, {'1', 0, 6, 40, 0, 11, 41, 0, 54, 17, 0, 54, 3, 0, 12, 42, 0});
    EXPECT_EQ(blockU16(0x880), 0x3C3C);
    EXPECT_EQ(blockU16(0x88A), 0x3C3C);
    EXPECT_EQ(blockU16(0x88C), 42);
    EXPECT_EQ(blockU16(0x362), 0) << "the block no longer holds mode 10";
    EXPECT_EQ(scaler->change_flag, 1);
    ASSERT_EQ(writeRam(0x362, {10, 0}), 0);
    EXPECT_EQ(writeReg(11, 0x02, 0), 0);
    EXPECT_EQ(blockU16(0x88C), 0x3C3C) << "a tool's recall of mode 10 loads it again";

    // A tool's recall and store request, written and not applied: this recall, the later, clears
    // them, and the tool's apply is answered that they were not served.
    ASSERT_EQ(writeRam(0x362, {4, 0, 6, 0}), 0);
    send(kController, 0xB0, {'1', 0, 54, 17, 0});
    EXPECT_EQ(blockU16(0x362), 10);
    EXPECT_EQ(blockU16(0x364), 0);
    EXPECT_EQ(writeReg(11, 0x02, 0), 1);
    EXPECT_EQ(testBlock(store)[0x380], 0x3C);
    EXPECT_FALSE(store->VyrUserModeSaved(5)) << "nothing stored as mode 6";
}
