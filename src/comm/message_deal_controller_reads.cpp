// The controller's read windows: parameter block, user-mode records, device description and
// capability tables, register image, device information, 4G RAM and the front-screen screenshot.
#include "comm/cloud_commands.h"
#include "comm/message_deal.h"

#include "fpga/fpga_manage.h"
#include "base/global.h"
#include "base/posix_lock.h"
#include "platform/paths.h"
#include "base/utils.h"
#include "params/vyrrampara.h"
#include "ui/topwindow.h"

#include <QApplication>
#include <QMutexLocker>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QWidget>
#include <QScreen>
#include <QThread>
#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

std::atomic<uint8_t> flag_kelto{0};
std::atomic<uint32_t> len_kelto{0};

namespace {

constexpr uint32_t kShotWindow = 0x800000, kShotData = 0x800080, kShotDataEnd = 0xA00080;
constexpr uint32_t kInfoBlock = 0xA0000000, kInfoSize = 0x1000;
constexpr int kGrabTimeoutMs = 3000;

// The screenshot has a buffer of its own, served where the staging buffer used to show, so a
// read of the window never disturbs a transfer under way. It and the picture file have their own
// lock: a save holds the file lock for 100 ms and more, and a tool reading the picture must not
// wait for it.
std::mutex& shotMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::vector<uint8_t>& shotBuffer()
{
    static std::vector<uint8_t> buffer(kShotDataEnd - kShotData, 0);
    return buffer;
}

const char* shotPath = "/123.png";

constexpr int kPanelWidth = 320, kPanelHeight = 240;

// false when there is no screen to grab at all.
bool screenAvailable()
{
    return qobject_cast<QApplication*>(QCoreApplication::instance()) && QGuiApplication::primaryScreen();
}

// The panel's screen as it shows: every visible window drawn over the ones below it.
bool composeScreen(const QString& path)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    const std::vector<QWidget*> windows = TopWindow::bottomToTop();
    if (!screen || windows.empty())
        return false;
    QImage picture(kPanelWidth, kPanelHeight, QImage::Format_RGB32);
    picture.fill(Qt::black);
    QPainter painter(&picture);
    const QPoint origin = screen->geometry().topLeft();
    for (QWidget* w : windows)
        painter.drawPixmap(w->geometry().topLeft() - origin, w->grab());
    painter.end();
    return picture.save(path, "PNG");
}

bool grabToFile(const QString& path)
{
    if (QThread::currentThread() == QCoreApplication::instance()->thread())
        return composeScreen(path);
    // Widgets belong to the GUI thread; wait for it, but not for ever. The job outlives a wait
    // that has given up.
    struct Job {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        bool ok = false;
    };
    auto job = std::make_shared<Job>();
    QMetaObject::invokeMethod(QCoreApplication::instance(), [job, path] {
        const bool ok = composeScreen(path);
        std::lock_guard<std::mutex> lock(job->mutex);
        job->ok = ok;
        job->finished = true;
        job->done.notify_one();
    }, Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(job->mutex);
    return job->done.wait_for(lock, std::chrono::milliseconds(kGrabTimeoutMs), [&] { return job->finished; }) && job->ok;
}

// Reads the saved picture into the buffer from byte 2; the caller holds the screenshot lock.
void readShotFile(const std::string& path)
{
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) {
        if (traceOn())
            printf("%s : File. fopen error\n", "123.png");
        flag_kelto = 0;
        return;
    }
    std::vector<uint8_t>& buf = shotBuffer();
    fseek(file, 0, SEEK_END);
    const long size = ftell(file);
    fseek(file, 0, SEEK_SET);
    len_kelto = size > 0 ? uint32_t(size) : 0;
    std::fill(buf.begin(), buf.end(), 0);
    const size_t room = buf.size() - 2;
    const size_t got = fread(buf.data() + 2, 1, std::min<size_t>(len_kelto, room), file);
    if (traceOn())
        printf("123.PNG file len = %02x ,[2]=%02x \n", len_kelto.load(), got ? buf[2] : 0);
    flag_kelto = 0;
    fclose(file);
}

bool takeScreenshot()
{
    if (!screenAvailable())
        return false;
    flag_kelto = 1;
    const std::string path = platform::Paths::resolve(shotPath);
    {
        // An old picture must not pass for a new one when the grab fails.
        std::lock_guard<std::mutex> lock(shotMutex());
        remove(path.c_str());
    }
    if (!grabToFile(QString::fromStdString(path)) && traceOn())
        printf("\n screen grab failed\n");
    std::lock_guard<std::mutex> lock(shotMutex());
    readShotFile(path);
    return true;
}

}

namespace {

uint8_t shotHeader(uint32_t i) // i = A - 0x800000, 2..0x7F
{
    switch (i) {
    case 2: return 0x40; // width 320
    case 3: return 0x01;
    case 4: return 0xF0; // height 240
    case 6: return 0x18; // 24 bits a pixel
    case 12: case 13: case 14: case 15: return uint8_t(len_kelto >> (8 * (i - 12)));
    default: return 0;
    }
}

// modem: byte 0 of the 4G RAM window, read once for the whole request.
uint8_t capabilityTable(uint32_t i, uint8_t modem) // i = A - 0x600000, 0x40..0x43F
{
    const uint32_t pixels = g_vyr_max_pixel;
    if (i == 0x40) return 0x0F;
    if (i <= 0x42) return 0x10;
    if (i == 0x43 || i == 0x44 || i == 0x46) return 0xFC;
    if (i == 0x45 || i == 0x47) return 0x1F;
    if (i <= 0x4A) return 0x40;
    if (i <= 0x4C) return uint8_t(pixels);
    if (i <= 0x4F) return uint8_t(pixels >> (8 * (i - 0x4C)));
    if (i <= 0x5C) return 6;
    if (i <= 0x5E) return 0x28;
    if (i <= 0x62) return 8;
    if (i <= 0x64) return 0x1C;
    if (i <= 0x68) return 8;
    if (i <= 0x6C) return 1;
    if (i <= 0x6E) return 0x80;
    if (i == 0x6F) return 1;
    if (i <= 0x72) return 0x40;
    if (i == 0x73) return 1;
    if (i == 0x74) return 0xF0;
    if (i <= 0x76) return modem == 0xAA ? 1 : 0;
    return 0;
}

uint8_t secondCapabilityTable(uint32_t i) // i = A - 0x600000, 0x440..0x83F
{
    switch (i) {
    case 0x440: return 0x52;
    case 0x441: return 0x8B;
    case 0x442: return 0x19;
    case 0x444: return 0x0C;
    case 0x446: case 0x452: case 0x454: case 0x468: case 0x46A: return 1;
    case 0x450: case 0x466: return 2;
    case 0x480: case 0x481: return 0x0F;
    case 0x482: case 0x483: return 3;
    default: return 0;
    }
}

// Texts of the cloud settings, each behind its length byte; cut so the block keeps its size.
uint32_t putText(uint8_t* info, uint32_t at, const QString& text)
{
    const QByteArray bytes = text.toLatin1().left(255);
    if (at + 1 + uint32_t(bytes.size()) > kInfoSize)
        return at;
    info[at] = uint8_t(bytes.size());
    memcpy(info + at + 1, bytes.constData(), size_t(bytes.size()));
    return at + 1 + uint32_t(bytes.size());
}

void buildDeviceInfo(uint8_t* info)
{
    memset(info, 0, kInfoSize);
    static const uint8_t kHead[] = {1, 0, 1, 0x52, 0x8B, 0x0F, 0x0B, 0x10};
    static const uint8_t kIdent[] = {8, 0x52, 0x8B, 2, 0x24, 0x10, 0x20, 1, 0x0B};
    memcpy(info + 0x01, kHead, sizeof kHead);
    info[0x09] = g_skyhub_cloud;
    info[0x10] = g_update_status;
    memcpy(info + 0x11, kIdent, sizeof kIdent);
    const uint32_t ticks = G_timeTicks.load() / 20;
    for (int i = 0; i < 4; ++i)
        info[0x1C + i] = uint8_t(ticks >> (8 * i));
    info[0x29] = 0x0F;
    info[0x2A] = 0x0B;
    info[0x2B] = 0x0B;
    info[0x42] = 0x0C;
    // The cloud property record, reloaded as a cloud command would: the binary device id, the
    // server address and the port (high byte first).
    uint8_t property[k4GPropertySize];
    bool cloudRecord;
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        cloudRecord = message_deal_4g().get_4G_property() == 0;
        memcpy(property, g_4G_property, sizeof property);
    }
    memcpy(info + 0x43, property + 0x19, 12);
    memcpy(info + 0x65, property + 0x44, 4);
    info[0x69] = property[0x7F];
    info[0x6A] = property[0x7E];
    if (fpga_manage* fpga = fpga_manage::p_fpga_manage) {
        // Byte 0 tells a tool that the record is there and the picture path of FPGA 0 is up.
        if (cloudRecord && fpga->fpgaUp(0) && fpga->vbo_step[0].load() == VboStep::Up)
            info[0x00] = 0xAA;
        {
            PosixLock cache(fpga->reg_mutex);
            for (int i = 0; i < 4; ++i)
                info[0x2C + i] = fpga->MCU_REG_func[0][31 - i];
            memcpy(info + 0x6B, fpga->control_uid, 16);
        }
        info[0x3F] = info[0x40] = (fpga->fpga_status & 0x02) ? 1 : 0;
        info[0x41] = uint8_t(fpga->get_fpga_status());
        const uint16_t links = fpga->wlan_state_word;
        info[0x7C] = info[0x7E] = uint8_t(links);
        info[0x7D] = info[0x7F] = uint8_t(links >> 8);
    }
    if (VyrRamPara* store = VyrRamPara::p_vyrrampara_config) {
        uint8_t size[4];
        store->copyBlock(size, blk::kLedWidth, sizeof size);
        const uint16_t w = blk::get16(size, 0), h = blk::get16(size, blk::kLedHeight - blk::kLedWidth);
        info[0x80] = uint8_t(w >> 8);
        info[0x81] = uint8_t(w);
        info[0x82] = uint8_t(h >> 8);
        info[0x83] = uint8_t(h);
    }
    uint32_t at = putText(info, 0x84, g_skyhub_cloudserverip);
    const int32_t port = g_skyhub_cloudserverport;
    if (at + 2 <= kInfoSize) {
        info[at] = uint8_t(port);
        info[at + 1] = uint8_t(port >> 8);
        at += 2;
    }
    at = putText(info, at, g_skyhub_clouduserid);
    putText(info, at, g_skyhub_controllername);
}

uint8_t modeRecordByte(VyrRamPara* store, uint32_t k, uint64_t A)
{
    // k comes from the start address: below 0x1000 it is 0 and names no record.
    if (!store || k < 1 || k > kModeCount)
        return 0;
    const uint64_t index = uint64_t(k - 1) * kModeRecordSize + (A - 4096ull * k);
    if (index >= uint64_t(kModeCount) * kModeRecordSize)
        return 0;
    return store->recordByte(uint32_t(index / kModeRecordSize), uint32_t(index % kModeRecordSize));
}

}

bool message_deal::readRamController(uint8_t* out, uint32_t a, uint32_t n)
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    // The part in the block is one copy under the block's locks, taken before any window below
    // may wait (the screenshot waits for the GUI thread, which writes the block too). The tools'
    // most common read lies wholly in it.
    const uint32_t inBlock = a < kBlockSize ? std::min(n, kBlockSize - a) : 0;
    if (store)
        store->copyBlock(out, a, inBlock);
    else
        memset(out, 0, inBlock);
    if (inBlock == n)
        return true;
    const uint32_t k = (a >> 12) & 0xFF;
    std::unique_ptr<std::array<uint8_t, kInfoSize>> info;
    // The 4G RAM window is written by the other transports: one copy under its lock serves the
    // whole request, so a reply never mixes two writes.
    std::unique_ptr<std::array<uint8_t, k4GRamSize>> ram4G;
    auto modemRam = [&ram4G]() -> const uint8_t* {
        if (!ram4G) {
            ram4G = std::make_unique<std::array<uint8_t, k4GRamSize>>();
            copy4GRam(ram4G->data());
        }
        return ram4G->data();
    };
    for (uint32_t i = inBlock; i < n; ++i) {
        const uint64_t A = uint64_t(a) + i;
        uint8_t v = 0;
        if (A == kShotWindow || A == kShotWindow + 1) {
            v = 0xAA;
            if (!flag_kelto && !takeScreenshot())
                return false;
        } else if (A >= kShotWindow + 2 && A < kShotData) {
            v = shotHeader(uint32_t(A - kShotWindow));
        } else if (A >= kShotData && A < kShotDataEnd) {
            std::lock_guard<std::mutex> lock(shotMutex());
            if (flag_kelto)
                readShotFile(platform::Paths::resolve(shotPath));
            std::vector<uint8_t>& buf = shotBuffer();
            buf[0] = buf[1] = 0xAA;
            // Copy the run inside the window at once: a tool reads the picture in large pieces.
            const uint32_t from = uint32_t(A - kShotData);
            const uint32_t run = std::min<uint64_t>(n - i, buf.size() - from);
            memcpy(out + i, buf.data() + from, run);
            i += run - 1;
            continue;
        } else if (A >= 0x600000 && A <= 0x600005) {
            static const uint8_t kDescription[] = {6, 3, 9, 9, 8, 8};
            v = kDescription[A - 0x600000];
        } else if (A >= 0x600040 && A < 0x600440) {
            v = capabilityTable(uint32_t(A - 0x600000), modemRam()[0]);
        } else if (A >= 0x1000 && A < 0x11000) {
            v = modeRecordByte(store, k, A);
        } else if (A >= 0x600440 && A < 0x600840) {
            v = secondCapabilityTable(uint32_t(A - 0x600000));
        } else if (A >= 0x600880 && A < 0x600C80) {
            // The input thread changes the status bytes (registers 37-39) with atomic
            // read-modify-writes, and register writes are atomic too: read in the same form.
            const uint64_t reg = 37 + (A - 0x600880);
            v = store && reg < 170 ? __atomic_load_n(&store->image[reg], __ATOMIC_RELAXED) : 0;
        } else if (A >= 0xA1000000 && A <= 0xA1000100) {
            v = i < k4GRamSize ? modemRam()[i] : 0; // from the window's first byte
        } else if (A >= kInfoBlock && A < kInfoBlock + kInfoSize) {
            if (!info) {
                info = std::make_unique<std::array<uint8_t, kInfoSize>>();
                buildDeviceInfo(info->data());
            }
            v = (*info)[A - kInfoBlock];
        }
        out[i] = v;
    }
    return true;
}
