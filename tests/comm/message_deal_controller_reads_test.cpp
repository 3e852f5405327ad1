// Fixed read windows of the controller: description, capability tables, register image, device
// information and the front-screen screenshot.
#include "base/global.h"
#include "message_deal_fixture.h"
#include "second_writer.h"
#include "test_root.h"
#include "time_limit.h"

#include "base/utils.h"
#include "video_chips/keltosource_status.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QMutexLocker>
#include <QSemaphore>
#include <QTest>
#include <QThread>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

TEST_F(MessageDealTest, DescriptionCapabilityAndRegisterWindowsByteForByte)
{
    // Rows as listed for the windows at 0x600000: first and last address (offsets from 0x600000), value.
    struct Row {
        uint32_t first, last;
        uint8_t value;
    };
    g_vyr_max_pixel = 0x44332211; // four different bytes, so their order shows
    const std::vector<Row> rows = {
        // device description
        {0x00, 0x00, 6}, {0x01, 0x01, 3}, {0x02, 0x03, 9}, {0x04, 0x05, 8},
        // capability table
        {0x40, 0x40, 0x0F}, {0x41, 0x42, 0x10}, {0x43, 0x44, 0xFC}, {0x46, 0x46, 0xFC}, {0x45, 0x45, 0x1F},
        {0x47, 0x47, 0x1F}, {0x48, 0x4A, 0x40}, {0x4B, 0x4C, 0x11}, {0x4D, 0x4D, 0x22}, {0x4E, 0x4E, 0x33},
        {0x4F, 0x4F, 0x44}, {0x50, 0x5C, 6}, {0x5D, 0x5E, 0x28}, {0x5F, 0x62, 8}, {0x63, 0x64, 0x1C},
        {0x65, 0x68, 8}, {0x69, 0x6C, 1}, {0x6D, 0x6E, 0x80}, {0x6F, 0x6F, 1}, {0x70, 0x72, 0x40},
        {0x73, 0x73, 1}, {0x74, 0x74, 0xF0},
        // second capability table
        {0x440, 0x440, 0x52}, {0x441, 0x441, 0x8B}, {0x442, 0x442, 0x19}, {0x444, 0x444, 0x0C},
        {0x446, 0x446, 1}, {0x452, 0x452, 1}, {0x454, 0x454, 1}, {0x468, 0x468, 1}, {0x46A, 0x46A, 1},
        {0x450, 0x450, 2}, {0x466, 0x466, 2}, {0x480, 0x481, 0x0F}, {0x482, 0x483, 3},
    };
    // The register window from 0x600880 shows controller registers 37-169, then zeros.
    for (uint32_t g = 0; g < kImageSize; ++g)
        store->image[g] = uint8_t(0x80 | g);
    for (uint8_t modem : {uint8_t(0), uint8_t(0xAA)}) {
        g_4G_RAM[0] = modem;
        std::vector<uint8_t> expected(0x1000, 0);
        for (const Row& r : rows)
            std::fill(expected.begin() + r.first, expected.begin() + r.last + 1, r.value);
        expected[0x75] = expected[0x76] = modem == 0xAA ? 1 : 0; // the 4G module answers
        for (uint32_t g = 37; g < 170; ++g)
            expected[0x880 + g - 37] = uint8_t(0x80 | g);
        EXPECT_EQ(differences(readRam(0x600000, 0x1000), expected, 0x600000), "") << "4G byte " << int(modem);
    }
    // A read starting inside a window sees the same bytes.
    EXPECT_EQ(readRam(0x60004B, 5), (std::vector<uint8_t>{0x11, 0x11, 0x22, 0x33, 0x44}));
}

TEST_F(MessageDealTest, DeviceInformationBlockByteForByte)
{
    G_timeTicks = 0x01020304 * 20;
    g_skyhub_cloud = 0x5C;
    g_update_status = 0x6D;
    g_skyhub_cloudserverip = QStringLiteral("10.0.0.9");
    g_skyhub_cloudserverport = 0x1234;
    g_skyhub_clouduserid = QStringLiteral("u1");
    g_skyhub_controllername = QStringLiteral("box");
    for (int r = 28; r < 32; ++r)
        fpga->MCU_REG_func[0][r] = uint8_t(0x10 + r);
    fpga->fpga_status = 0x02;
    fpga->wlan_state_word = 0xB1A2;
    for (int i = 0; i < 16; ++i)
        fpga->control_uid[i] = uint8_t(0xC0 + i);
    store->setU16(0x562, 0x0780);
    store->setU16(0x564, 0x0438);

    std::vector<uint8_t> want(0x100, 0);
    auto put = [&](uint32_t at, const std::vector<uint8_t>& bytes) { std::copy(bytes.begin(), bytes.end(), want.begin() + at); };
    // The cloud property record: binary id, server address, port high byte first. Byte 0 stays 0
    // while FPGA 0 is not up.
    const std::string record = "deviceid:0123456789abcdef01234567 serveraddress:10.20.30.40 serverport:8883 \n";
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/cloud_barcode",
                                    QByteArray("\xAA\x00", 2) + char(record.size()) + QByteArray::fromStdString(record)));
    put(0x43, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67});
    put(0x65, {10, 20, 30, 40, 0x22, 0xB3});
    put(0x01, {1, 0, 1, 0x52, 0x8B, 0x0F, 0x0B, 0x10, 0x5C});
    put(0x10, {0x6D, 8, 0x52, 0x8B, 2, 0x24, 0x10, 0x20, 1, 0x0B});
    put(0x1C, {0x04, 0x03, 0x02, 0x01}); // ticks / 20
    put(0x29, {0x0F, 0x0B, 0x0B, 0x10 + 31, 0x10 + 30, 0x10 + 29, 0x10 + 28});
    put(0x3F, {1, 1, uint8_t(fpga->get_fpga_status()), 0x0C});
    for (int i = 0; i < 16; ++i)
        want[0x6B + i] = uint8_t(0xC0 + i);
    put(0x7C, {0xA2, 0xB1, 0xA2, 0xB1});
    put(0x80, {0x07, 0x80, 0x04, 0x38}); // LED size, high byte first
    put(0x84, {8, '1', '0', '.', '0', '.', '0', '.', '9', 0x34, 0x12, 2, 'u', '1', 3, 'b', 'o', 'x'});
    EXPECT_EQ(differences(readRam(0xA0000000, 0x100), want, 0xA0000000), "");

    // Byte 0: the record loads, FPGA 0 is up and its V-by-One state is 7; each alone is not enough.
    fpga->MCU_REG_func[0][80] = 3;
    fpga->vbo_step[0] = 7;
    EXPECT_EQ(readRam(0xA0000000, 1)[0], 0xAA);
    fpga->vbo_step[0] = 6;
    EXPECT_EQ(readRam(0xA0000000, 1)[0], 0);
    fpga->vbo_step[0] = 7;
    fpga->MCU_REG_func[0][80] = 2;
    EXPECT_EQ(readRam(0xA0000000, 1)[0], 0);
    fpga->MCU_REG_func[0][80] = 3;
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/cloud_barcode", QByteArray("\xAA\x00\x05colr:", 8)));
    EXPECT_EQ(readRam(0xA0000000, 1)[0], 0) << "a record that does not load";

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
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel, TimeLimit::ms(5000)));
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

namespace {

// A frameless top-level window of one colour, as the panel's pages and dialogs are.
std::unique_ptr<QWidget> window(const QRect& at, const char* colour)
{
    auto w = std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint);
    w->setGeometry(at);
    w->setStyleSheet(QStringLiteral("background: %1").arg(QLatin1String(colour)));
    return w;
}

}

class ScreenshotTest : public MessageDealTest {
protected:
    // The picture a tool reads: head for the size, then the PNG from 0x800082.
    QImage shot()
    {
        const std::vector<uint8_t> head = readRam(0x800000, 16);
        const uint32_t size = getU32(&head[12]);
        const std::vector<uint8_t> png = readRam(0x800082, uint16_t(size));
        return QImage::fromData(png.data(), int(png.size()), "PNG");
    }
    static QColor at(const QImage& image, int x, int y) { return image.pixelColor(x, y); }
};

TEST_F(ScreenshotTest, ComposedFromTheVisibleWindowsInStackingOrder)
{
    const QColor green(0x20, 0xC0, 0x40), blue(0x20, 0x40, 0xC0), red(0xC0, 0x20, 0x20);
    auto root = window({0, 0, 320, 240}, "#20C040");
    auto home = window({0, 0, 320, 240}, "#2040C0");
    auto dialog = window({40, 70, 240, 100}, "#C02020");
    root->show();
    home->show(); // shown later: on top, though the root menu covers the panel just as well
    ASSERT_TRUE(QTest::qWaitForWindowExposed(home.get(), TimeLimit::ms(5000)));
    QImage image = shot();
    ASSERT_EQ(image.size(), QSize(320, 240));
    EXPECT_EQ(at(image, 5, 5), blue);

    dialog->show(); // a dialog over part of the screen, the rest still the window below
    image = shot();
    EXPECT_EQ(at(image, 40, 70), red);
    EXPECT_EQ(at(image, 279, 169), red);
    EXPECT_EQ(at(image, 39, 70), blue);
    EXPECT_EQ(at(image, 280, 169), blue);
    EXPECT_EQ(at(image, 40, 170), blue);

    root->raise(); // raised over both
    EXPECT_EQ(at(shot(), 160, 120), green);
    root->hide(); // hidden windows do not show; the dialog stays over the home screen
    image = shot();
    EXPECT_EQ(at(image, 160, 120), red);
    EXPECT_EQ(at(image, 5, 5), blue);
    home->hide();
    root->show(); // shown again: on top of what is left
    image = shot();
    EXPECT_EQ(at(image, 160, 120), green);
}

TEST_F(ScreenshotTest, PictureIsReadWhileASaveHoldsTheFileLock)
{
    auto panel = window({0, 0, 320, 240}, "#20C040");
    panel->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel.get(), TimeLimit::ms(5000)));
    // A save holds the file lock, with its pauses, until the picture has been read (or, should
    // the read wait for the lock, for as long as a read may take).
    QSemaphore held, read;
    std::atomic<bool> saving{false};
    std::thread save([&] {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        saving = true;
        held.release();
        read.tryAcquire(1, TimeLimit::ms(5000));
        saving = false;
    });
    held.acquire();
    const QImage image = shot();
    EXPECT_TRUE(saving.load()) << "the picture was read only after the save";
    read.release();
    save.join();
    EXPECT_EQ(image.pixelColor(160, 120), QColor(0x20, 0xC0, 0x40));
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

// A tool reads the windows while another transport's tool keeps rewriting the 4G RAM window and
// the input thread flips a status bit: every reply holds whole writes only (the two "4G module
// answers" bytes agree, the 4G window is one write's bytes), the status bits the input thread
// leaves alone never change, and under ThreadSanitizer no access races.
TEST_F(MessageDealTest, WindowsReadWhileOtherThreadsWriteThem)
{
    const uint8_t presence = store->image[regimage::kChipPresence];
    const uint8_t edid = store->image[regimage::kEdidStatus], clock = store->image[regimage::kClockStatus];
    std::atomic<bool> stop{false};
    std::atomic<long> writes{0};
    std::thread modem([&] {
        SecondWriter writer = SecondWriter::inProcess(); // the other transport's tool
        for (uint32_t round = 0; !stop.load(); ++round) {
            writer.request(Wire::writeRam(0xA1000000, Bytes(k4GRamSize, round & 1 ? 0xAA : 0x00)));
            writes.fetch_add(1);
        }
    });
    std::thread input([&] {
        for (bool on = true; !stop.load(); on = !on)
            keltosource_status::set(keltosource_status::ChipPresence, 0x01, on);
    });
    int torn = 0, disagree = 0, changed = 0, reads = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (std::chrono::steady_clock::now() < until || writes.load() < 100) {
        const std::vector<uint8_t> ram = readRam(0xA1000000, k4GRamSize);
        if (std::count(ram.begin(), ram.end(), ram[0]) != long(ram.size()) || (ram[0] != 0 && ram[0] != 0xAA))
            ++torn;
        const std::vector<uint8_t> table = readRam(0x600075, 2);
        if (table[0] != table[1])
            ++disagree;
        const std::vector<uint8_t> status = readRam(0x600880, 3);
        if ((status[0] | 0x01) != (presence | 0x01) || status[1] != edid || status[2] != clock)
            ++changed;
        ++reads;
    }
    stop = true;
    modem.join();
    input.join();
    EXPECT_GT(reads, 0);
    EXPECT_EQ(torn, 0) << "4G window replies mixing two writes, of " << reads;
    EXPECT_EQ(disagree, 0) << "capability replies whose two 4G bytes disagree, of " << reads;
    EXPECT_EQ(changed, 0) << "status replies with bits nobody wrote, of " << reads;
}
