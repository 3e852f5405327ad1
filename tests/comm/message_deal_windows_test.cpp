// Fixed read windows of the controller: description, capability tables, register image, device
// information and the front-screen screenshot.
#include "base/global.h"
#include "message_deal_fixture.h"
#include "test_root.h"

#include <QCoreApplication>
#include <QImage>
#include <QTest>
#include <QWidget>
#include <algorithm>
#include <cstring>

TEST_F(MessageDealTest, DeviceDescription)
{
    // 00 F1 10 F0 00 00 00 00 00 61 00 00 60 00 06 00 00 00 -> 00 06 03 09 09 08 08
    EXPECT_EQ(readRam(0x600000, 6), (std::vector<uint8_t>{6, 3, 9, 9, 8, 8}));
    EXPECT_EQ(readRam(0x600026, 4), (std::vector<uint8_t>{0, 0, 0, 0}));
}

TEST_F(MessageDealTest, CapabilityTables)
{
    g_vyr_max_pixel = 0xA00000;
    g_4G_RAM[0] = 0;
    const std::vector<uint8_t> expected = {
        0x0F, 0x10, 0x10, 0xFC, 0xFC, 0x1F, 0xFC, 0x1F, 0x40, 0x40, 0x40, 0x00, 0x00, 0x00, 0xA0, 0x00,
        6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 0x28, 0x28, 8, 8, 8, 8, 0x1C, 0x1C, 8, 8, 8, 8,
        1, 1, 1, 1, 0x80, 0x80, 1, 0x40, 0x40, 0x40, 1, 0xF0, 0, 0, 0};
    EXPECT_EQ(readRam(0x600040, uint16_t(expected.size())), expected);
    g_4G_RAM[0] = 0xAA;
    EXPECT_EQ(readRam(0x600075, 2), (std::vector<uint8_t>{1, 1}));

    const std::vector<uint8_t> second = readRam(0x600440, 0x44);
    EXPECT_EQ(second[0], 0x52);
    EXPECT_EQ(second[1], 0x8B);
    EXPECT_EQ(second[2], 0x19);
    EXPECT_EQ(second[4], 0x0C);
    EXPECT_EQ(second[0x10], 2);
    EXPECT_EQ(second[0x12], 1);
    EXPECT_EQ(second[0x40], 0x0F);
    EXPECT_EQ(second[0x43], 3);
    EXPECT_EQ(second[3] + second[5] + second[0x11], 0);
}

TEST_F(MessageDealTest, RegisterImageWindowStartsAtRegister37)
{
    store->image[37] = 0x25;
    store->image[169] = 0x69;
    store->image[170] = 0x70; // status bytes after the registers are not shown
    const std::vector<uint8_t> regs = readRam(0x600880, 134);
    EXPECT_EQ(regs[0], 0x25);
    EXPECT_EQ(regs[132], 0x69);
    EXPECT_EQ(regs[133], 0);
}

TEST_F(MessageDealTest, DeviceInformationBlock)
{
    G_timeTicks = 2000;
    g_skyhub_cloudserverip = QStringLiteral("10.0.0.9");
    g_skyhub_cloudserverport = 0x1234;
    g_skyhub_clouduserid = QStringLiteral("u1");
    g_skyhub_controllername = QString();
    fpga->MCU_REG_func[0][28] = 0x11;
    fpga->MCU_REG_func[0][31] = 0x44;
    const std::vector<uint8_t> info = readRam(0xA0000000, 0x100);
    EXPECT_EQ(std::vector<uint8_t>(info.begin() + 1, info.begin() + 9),
              (std::vector<uint8_t>{1, 0, 1, 0x52, 0x8B, 0x0F, 0x0B, 0x10}));
    EXPECT_EQ(std::vector<uint8_t>(info.begin() + 0x11, info.begin() + 0x1A),
              (std::vector<uint8_t>{8, 0x52, 0x8B, 2, 0x24, 0x10, 0x20, 1, 0x0B}));
    EXPECT_EQ(getU32(&info[0x1C]), 100u);
    EXPECT_EQ(info[0x2C], 0x44);
    EXPECT_EQ(info[0x2F], 0x11);
    EXPECT_EQ(info[0x42], 0x0C);
    EXPECT_EQ(std::vector<uint8_t>(info.begin() + 0x80, info.begin() + 0x84),
              (std::vector<uint8_t>{0x07, 0x80, 0x04, 0x38})) << "LED size, high byte first";
    const std::vector<uint8_t> texts = {8, '1', '0', '.', '0', '.', '0', '.', '9', 0x34, 0x12, 2, 'u', '1', 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(info.begin() + 0x84, info.begin() + 0x84 + texts.size()), texts);
    // A long text is cut to what its length byte can say.
    g_skyhub_cloudserverip = QString(400, QLatin1Char('x'));
    const std::vector<uint8_t> cut = readRam(0xA0000184, 3);
    EXPECT_EQ(readRam(0xA0000084, 1)[0], 255);
    EXPECT_EQ(cut[0], 0x34) << "the port follows the 255 text bytes";
}

TEST_F(MessageDealTest, ScreenshotWindowServesTheSavedPicture)
{
    QWidget panel(nullptr, Qt::FramelessWindowHint); // the front panel
    panel.setGeometry(0, 0, 320, 240);
    panel.setStyleSheet(QStringLiteral("background: #20C040"));
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    const std::vector<uint8_t> head = readRam(0x800000, 16);
    ASSERT_TRUE(TestRoot::exists("/123.png"));
    const QByteArray png = TestRoot::readFile("/123.png");
    ASSERT_GT(png.size(), 8);
    EXPECT_EQ(std::vector<uint8_t>(head.begin(), head.begin() + 12),
              (std::vector<uint8_t>{0xAA, 0xAA, 0x40, 0x01, 0xF0, 0x00, 0x18, 0, 0, 0, 0, 0}));
    EXPECT_EQ(getU32(&head[12]), uint32_t(png.size()));
    EXPECT_EQ(flag_kelto, 0);
    const std::vector<uint8_t> data = readRam(0x800080, uint16_t(png.size() + 4));
    EXPECT_EQ(data[0], 0xAA);
    EXPECT_EQ(data[1], 0xAA);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(data.data() + 2), png.size()), png);
    EXPECT_EQ(data[png.size() + 2], 0) << "no stale bytes after the picture";
    const QImage image = QImage::fromData(png, "PNG");
    EXPECT_EQ(image.size(), QSize(320, 240));
    EXPECT_EQ(image.pixelColor(160, 120), QColor(0x20, 0xC0, 0x40)) << "the panel's own picture";
}

TEST_F(MessageDealTest, FailedGrabKeepsTheLastSize)
{
    // No window on the offscreen screen: nothing to grab, and no old file passes for a new one.
    len_kelto = 1234;
    TestRoot::writeFile("/123.png", QByteArray("old"));
    const std::vector<uint8_t> head = readRam(0x800000, 16);
    EXPECT_EQ(head[0], 0xAA);
    EXPECT_EQ(getU32(&head[12]), 1234u);
    EXPECT_FALSE(TestRoot::exists("/123.png"));
    EXPECT_EQ(flag_kelto, 0) << "the next request grabs again";
}

TEST_F(MessageDealTest, ScreenshotWindowDoesNotShowTheTransferBuffer)
{
    memset(fileBuf_kelto, 0x5C, 64);
    const std::vector<uint8_t> data = readRam(0x800080, 64);
    EXPECT_EQ(fileBuf_kelto[0], 0x5C) << "reading the window leaves an upload alone";
    EXPECT_EQ(std::count(data.begin() + 2, data.end(), 0x5C), 0);
}
