#include "tools/upgrade_engine.h"

#include "base/atomic_file.h"
#include "base/delay.h"
#include "base/fd_io.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "base/utils.h"
#include "fpga/fpga_drv.h"
#include "fpga/fpga_manage.h"
#include "params/block_layout.h"
#include "params/protocol_layout.h"
#include "params/vyrrampara.h"
#include "platform/paths.h"
#include "scaler/c331_manage.h"
#include "tools/program_check.h"
#include "tools/program_image.h"
#include "ui/mainwindow.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSettings>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <string>
#include <unistd.h>

namespace upgrade {

namespace {
// The launcher's next application, also where a PC tool's application upload lands: the run's
// checked program is kept under names of its own and put there only at the swap, under the file
// lock, so an upload ending meanwhile is never what the swap installs.
const char* const kAppNext = proto::kStagedProgram;
const std::string kAppStaged = proto::kUsbStagedProgram;
const std::string kAppTemp = temporaryFor(kAppStaged);
const char* const kApp = proto::kProgram;
const char* const kLauncherIni = "/data/configs/led_load_config.ini";
// Written before an FPGA image's area is erased, removed once the whole image read back: a start
// that finds it knows FPGA 0 holds half an image (a power cut between the two).
const char* const kImageWriteRecord = "/data/configs/fpga_image_write";
constexpr uint32_t kFpgaChunk = 32768;
constexpr int kFpgaChunkTries = 3;
constexpr uint32_t kFontChunk = 16384;
constexpr uint32_t kFontHeadPage = 256; // the flash page that holds a font's header
constexpr uint32_t kCompareBlock = 1024;

uint8_t fromBcd(uint8_t v) { return uint8_t((v >> 4) * 10 + (v & 0x0F)); }

struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

std::string host(const std::string& path) { return platform::Paths::resolve(path); }

// Erase units over [0, length) of a flash area at `base`: 32 KiB blocks where the sector number is
// a multiple of 8 and the block lies within the length, 4 KiB sectors elsewhere.
template <typename EraseFn> bool eraseArea(uint32_t base, uint32_t length, EraseFn erase)
{
    uint32_t a = 0;
    while (a < length) {
        const uint32_t s = ((base + a) >> 12) & 0xFFFF;
        const bool block = s % 8 == 0 && uint64_t(a) + 32768 <= length;
        if (!erase(s, block ? 1 : 0))
            return false;
        Delay::ms(1);
        a += block ? 32768 : 4096;
    }
    return true;
}

// The main window belongs to the GUI thread: the worker only asks, and the window is looked
// up there when the request arrives.
void updateDialog(bool show)
{
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, [show] {
            if (MainWindow* window = g_mainwindow.data())
                show ? window->update_start() : window->update_over();
        }, Qt::QueuedConnection);
}

const char* typeName(uint8_t type)
{
    switch (type) {
    case App: return "application";
    case Fpga0: return "FPGA 0 image";
    case Fpga1: return "FPGA 1 image";
    case Font: return "font";
    default: return "entry";
    }
}
}

bool RunResult::anyFailed() const { return count(Outcome::Failed) > 0; }

int RunResult::count(Outcome outcome) const
{
    int n = 0;
    for (const Item& i : items)
        n += i.outcome == outcome;
    return n;
}

bool fpgaVersionInstalled(const uint8_t version[6], const uint8_t* registers)
{
    return version[0] == fromBcd(registers[31]) && version[1] == fromBcd(registers[30]) &&
           version[2] == fromBcd(registers[29]) && version[5] == registers[28];
}

QString clockText()
{
    TimeRealType t = {};
    if (fpga_manage* f = fpga_manage::p_fpga_manage)
        f->IT8563WE_Get(&t);
    else {
        const QTime now = fpga_manage::clock ? fpga_manage::clock().time() : QTime::currentTime();
        t.hour = uint8_t(now.hour());
        t.minute = uint8_t(now.minute());
        t.second = uint8_t(now.second());
    }
    return QStringLiteral("%1:%2:%3").arg(t.hour).arg(t.minute).arg(t.second);
}

Engine& Engine::instance()
{
    static Engine engine;
    return engine;
}

Engine::Engine()
{
    // Every run begins with start(), on this object: the worker has its step before the first pass.
    fpga_manage::set_upgrade_step([](fpga_manage* fpga) { instance().step(fpga); });
}

bool Engine::start(QString* why, uint32_t* run)
{
    if (g_usb_grade.load() != 0) {
        *why = QStringLiteral("an upgrade is already running");
        return false;
    }
    if (g_send_para[0].load() != 0) {
        *why = QStringLiteral("a card job is running");
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        result_ = RunResult();
        result_.run = ++runs_;
        if (run)
            *run = result_.run;
    }
    g_send_para[1] = 0;
    g_usb_grade = 1;
    fpga_manage::wake();
    return true;
}

RunResult Engine::result() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return result_;
}

void Engine::add(const Item& item)
{
    const char* what = item.outcome == Outcome::Written ? "written" : item.outcome == Outcome::Skipped ? "skipped" : "failed";
    writeLogMsg(item.outcome == Outcome::Failed ? LOG_ERROR : LOG_INFO,
                QStringLiteral("USB upgrade %1 entry %2 (%3): %4 %5")
                    .arg(item.package).arg(item.entry).arg(QLatin1String(typeName(item.type)))
                    .arg(QLatin1String(what), item.reason).toStdString());
    std::lock_guard<std::mutex> lock(mutex_);
    result_.items.push_back(item);
}

void Engine::step(fpga_manage* fpga)
{
    switch (g_send_para[1].load()) {
    case 0:
        begin(fpga);
        g_send_para[1] = 1;
        break;
    case 1:
        files_ = listPackages();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            result_.packages = files_.size();
        }
        if (traceOn())
            printf("\n usb_updata_list = %d \n", int(files_.size()));
        g_send_para[1] = 2;
        break;
    case 2:
        processAll(fpga);
        g_send_para[1] = 3;
        break;
    case 3:
        finish(fpga);
        break;
    default:
        break;
    }
}

void Engine::begin(fpga_manage*)
{
    if (g_update_flag.load() == 0)
        updateDialog(true);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (result_.run == 0 || result_.finished) { // started without start(): a run of its own
            result_ = RunResult();
            result_.run = ++runs_;
        }
        result_.time = clockText();
    }
    g_update_flag = 1;
    files_.clear();
    appStaged_ = fpgaWritten_ = fpgaFailed_ = fpgaIncomplete_ = fontWritten_ = false;
}

void Engine::processAll(fpga_manage* fpga)
{
    for (const QString& path : files_)
        processPackage(fpga, path);

    // Finishing: a staged application is swapped in and the box restarts with it (images and
    // fonts written in the same run take effect then); otherwise new images are loaded now.
    if (appStaged_ && result().anyFailed()) {
        // A run reported as failed restarts nothing: the operator mends the stick and runs it
        // again (after a failed FPGA image the restart would load the broken image besides).
        ::unlink(host(kAppStaged).c_str());
        add({QString(), -1, App, Outcome::Failed,
             fpgaFailed_ ? QStringLiteral("application not swapped: an FPGA image failed")
                         : QStringLiteral("application not swapped: an entry failed")});
    } else if (appStaged_) {
        if (g_app_reset_flag.load() != 0) {
            // A restart is already pending: the program waits as the next application.
            QMutexLocker locker(&Utils::_file_deal_mutex);
            ::rename(host(kAppStaged).c_str(), host(kAppNext).c_str());
            return;
        }
        QString why;
        if (!swapApp(&why))
            add({QString(), -1, App, Outcome::Failed, why});
        else
            return;
    }
    // An image of the run that failed after its erase leaves the area incomplete: FPGA 0 keeps
    // running what it loaded, and the page asks for the upgrade again.
    if (fpgaWritten_ && !fpgaIncomplete_ && fpga) {
        fpga->hold_in_reset(0); // FPGA 0 loads its new configuration when released
        fpga->vbo_step[0] = VboStep::Start;
        fpga->status_step[0] = 0;
    }
    if (fontWritten_) {
        if (fontReload) {
            fontReload();
        } else if (c331_manage* scaler = c331_manage::p_c331_manage) {
            scaler->read_c331_font(scaler->c331_fd); // presence bits
            scaler->update_font(scaler->c331_fd);    // fonts into the chip's OSD memory
        }
    }
}

void Engine::finish(fpga_manage*)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        result_.time += QStringLiteral("    ") + clockText();
        result_.finished = true;
        if (result_.packages > 0 && result_.count(Outcome::Written) == 0 && !result_.anyFailed())
            writeLogMsg(LOG_WARNING, "USB upgrade: nothing installed, packages found: " + std::to_string(result_.packages));
    }
    if (g_update_flag.load())
        updateDialog(false);
    g_send_para[1] = 0;
    g_update_flag = 0;
    g_usb_grade = 0;
    if (VyrRamPara* store = VyrRamPara::p_vyrrampara_config)
        store->test_signal(104);
}

void Engine::processPackage(fpga_manage* fpga, const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    const std::string hostPath = platform::Paths::resolve(path.toStdString());
    Package p;
    std::string error;
    bool ok;
    {
        QMutexLocker locker(&Utils::_file_deal_mutex);
        ok = readPackage(hostPath, &p, &error);
    }
    Utils::system_plain(QStringLiteral("sync"));
    if (!ok) {
        add({name, -1, 0, Outcome::Failed, QString::fromStdString(error)});
        return;
    }
    const bool ours = p.controllerType == kControllerType;
    const bool skipInstalled = p.publishType == kPublishSkipInstalled;
    const uint8_t* regs0 = fpga ? fpga->MCU_REG_func[0] : nullptr;
    for (const Entry& e : p.entries) {
        Item item{name, e.index, e.type, Outcome::Skipped, QString()};
        QString why;
        switch (e.type) {
        case App:
            if (!ours) {
                item.reason = QStringLiteral("other controller");
            } else if (skipInstalled && std::memcmp(e.version, kInstalledAppVersion, 6) == 0) {
                item.reason = QStringLiteral("installed");
            } else if (writeApp(hostPath, e, &why)) {
                item.outcome = Outcome::Written;
                appStaged_ = true;
            } else {
                item.outcome = Outcome::Failed;
                item.reason = why;
            }
            break;
        case Fpga0:
            if (!ours) {
                item.reason = QStringLiteral("other controller");
            } else if (skipInstalled && regs0 && fpgaVersionInstalled(e.version, regs0)) {
                item.reason = QStringLiteral("installed");
            } else if (e.dataLen == 0) {
                item.reason = QStringLiteral("empty image");
            } else if (writeFpga(fpga, hostPath, e, &why)) {
                item.outcome = Outcome::Written;
                fpgaWritten_ = true;
            } else {
                item.outcome = Outcome::Failed;
                item.reason = why;
                fpgaFailed_ = true;
            }
            break;
        case Font: {
            const uint8_t present = VyrRamPara::p_vyrrampara_config
                                        ? VyrRamPara::p_vyrrampara_config->image[regimage::kFontPresence]
                                        : 0;
            if ((present & 0x3F) == 0x3F) {
                item.reason = QStringLiteral("all fonts present");
            } else if (writeFont(hostPath, e, &why)) {
                item.outcome = Outcome::Written;
                fontWritten_ = true;
            } else {
                item.outcome = Outcome::Failed;
                item.reason = why;
            }
            break;
        }
        case Fpga1:
            // Packages of the product line may carry it; this box has FPGA 0 only.
            item.reason = ours ? QString::fromLatin1(kNoSecondFpga) : QStringLiteral("other controller");
            break;
        default:
            item.reason = QStringLiteral("unknown type %1").arg(e.type);
            break;
        }
        add(item);
        // Only a write needs its data settled; entries passed over cost nothing.
        if (item.outcome != Outcome::Skipped) {
            Utils::system_plain(QStringLiteral("sync"));
            Delay::ms(100);
        }
    }
}

// The package is opened again for every write: the stick may have been changed since the check,
// so its size must still be the checked one.
static bool openChecked(const std::string& hostPath, uint64_t endNeeded, Fd* fd, QString* why)
{
    fd->fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    struct stat st;
    if (fd->fd < 0 || ::fstat(fd->fd, &st) != 0) {
        *why = QStringLiteral("package cannot be opened again");
        return false;
    }
    if (uint64_t(st.st_size) < endNeeded) {
        *why = QStringLiteral("package changed on the stick");
        return false;
    }
    return true;
}

bool Engine::writeApp(const std::string& hostPath, const Entry& e, QString* why)
{
    if (e.dataLen == 0 || e.dataLen > kAppMax) {
        *why = QStringLiteral("bad length");
        return false;
    }
    QMutexLocker locker(&Utils::_file_deal_mutex);
    const std::string temp = host(kAppTemp), staged = host(kAppStaged);
    // Never swap in what an earlier run left; a program staged by this run stays until a later
    // entry's is whole in its place, so a refused or failed entry does not take it away.
    if (!appStaged_)
        ::unlink(staged.c_str());
    {
        Fd in;
        if (!openChecked(hostPath, uint64_t(e.dataOffset) + e.dataLen, &in, why))
            return false;
        // The staging buffer is shared with the uploads: a cloud certificate staged there must see
        // that its bytes are gone.
        fileBuf_kelto_changes.fetch_add(1);
        std::memset(fileBuf_kelto, 0, e.dataLen);
        if (!readFullyAt(in.fd, e.dataOffset, fileBuf_kelto, e.dataLen)) {
            *why = QStringLiteral("package read cut short");
            return false;
        }
    }
    // The launcher starts whatever is swapped in: bytes this box cannot run would leave it without
    // a panel, a protocol or a way to upgrade again.
    const std::string refused = program_image::refusal(fileBuf_kelto, e.dataLen);
    if (!refused.empty()) {
        *why = QString::fromStdString(refused);
        return false;
    }
    bool ok = false;
    {
        Fd out;
        makeParentDirectory(temp);
        // A new file, not the old one truncated: a check start that a cut run left running still
        // executes it, and a busy program cannot be opened for writing.
        ::unlink(temp.c_str());
        out.fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0755);
        if (out.fd < 0)
            *why = QStringLiteral("cannot create the application file");
        else if (!writeFully(out.fd, fileBuf_kelto, e.dataLen) || ::fsync(out.fd) != 0)
            *why = QStringLiteral("application write failed");
        else
            ok = true;
    }
    if (ok) {
        // Read back in 1024-byte blocks and the remainder.
        Fd back;
        back.fd = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st;
        uint8_t block[kCompareBlock];
        ok = back.fd >= 0 && ::fstat(back.fd, &st) == 0 && uint64_t(st.st_size) == e.dataLen;
        for (uint32_t pos = 0; ok && pos < e.dataLen; pos += kCompareBlock) {
            const uint32_t n = std::min<uint32_t>(kCompareBlock, e.dataLen - pos);
            ok = readFullyAt(back.fd, pos, block, n) && std::memcmp(block, fileBuf_kelto + pos, n) == 0;
        }
        if (!ok)
            *why = QStringLiteral("application read-back differs");
    }
    if (ok) {
        // Started once in its check mode before it may replace the running program. It may take
        // seconds: the uploads need not wait for it.
        locker.unlock();
        const std::string failed = program_check::startRefusal(temp);
        locker.relock();
        if (!failed.empty()) {
            *why = QString::fromStdString(failed);
            ok = false;
        }
    }
    if (ok && ::rename(temp.c_str(), staged.c_str()) != 0) {
        *why = QStringLiteral("cannot rename the application file");
        ok = false;
    }
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

bool Engine::swapApp(QString* why)
{
    const std::string staged = host(kAppStaged), next = host(kAppNext);
    {
        // Under the lock the uploads take: no tool's upload comes between the checked program's
        // arrival as the next application and the swap.
        QMutexLocker locker(&Utils::_file_deal_mutex);
        struct stat st;
        if (::stat(staged.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            *why = QStringLiteral("staged application missing");
            return false;
        }
        // Owner writes, everyone runs: never a world-writable program.
        if (::chmod(staged.c_str(), 0755) != 0) {
            *why = QStringLiteral("cannot set the application's mode");
            return false;
        }
        if (::rename(staged.c_str(), next.c_str()) != 0) {
            *why = QStringLiteral("cannot rename the application file");
            return false;
        }
        int status = 0;
        Utils::system_mutex(QStringLiteral("mv %1  %2").arg(QLatin1String(kAppNext), QLatin1String(kApp)), &status);
        struct stat now;
        if (status != 0 || ::stat(host(kApp).c_str(), &now) != 0 || now.st_size != st.st_size ||
            ::access(next.c_str(), F_OK) == 0) {
            *why = QStringLiteral("application swap failed");
            return false;
        }
    }
    if (g_update_status.load() == 0) {
        // The launcher's INI: other groups kept, the file replaced whole.
        const std::string ini = host(kLauncherIni), temp = temporaryFor(ini);
        QFile::remove(QString::fromStdString(temp));
        if (QFile::exists(QString::fromStdString(ini)))
            QFile::copy(QString::fromStdString(ini), QString::fromStdString(temp));
        QSettings::Status written;
        {
            QSettings s(QString::fromStdString(temp), QSettings::IniFormat);
            s.beginGroup(QStringLiteral("app-1"));
            s.setValue(QStringLiteral("app_path"), QStringLiteral("/data/app/vyrR58N -platform linuxfb"));
            s.setValue(QStringLiteral("app_name"), QStringLiteral("vyrR58N"));
            s.endGroup();
            s.sync();
            written = s.status();
        }
        Fd f;
        f.fd = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
        if (written != QSettings::NoError || f.fd < 0 || ::fsync(f.fd) != 0 ||
            ::rename(temp.c_str(), ini.c_str()) != 0) {
            ::unlink(temp.c_str());
            // The new program is in place; the launcher still names it through the old entry.
            writeLogMsg(LOG_ERROR, "USB upgrade: launcher INI not written");
        }
    }
    Utils::system_plain(QStringLiteral("sync"));
    Delay::ms(20);
    Utils::system_plain(QStringLiteral("sync"));
    Delay::ms(1000);
    G_reboot_tickTicks = G_timeTicks.load();
    g_app_reset_flag = 1;
    return true;
}

// FPGA 0 loads whatever the area holds at its next reset, so the area is erased only once the
// whole image is in memory: a stick pulled or failing mid-read then leaves the old image. A chunk
// that does not read back is erased and written again; an area still wrong after that is reported
// as an incomplete image.
bool Engine::writeFpga(fpga_manage* fpga, const std::string& hostPath, const Entry& e, QString* why)
{
    if (!fpga || !fpga->fpgadrv) {
        *why = QStringLiteral("FPGA flash not available");
        return false;
    }
    if (e.dataLen > kFpgaImageMax) {
        *why = QStringLiteral("image longer than its flash area");
        return false;
    }
    fpga_drv* drv = fpga->fpgadrv;
    const int selector = 2;
    std::vector<uint8_t> image(4 + size_t(e.dataLen)), back(kFpgaChunk); // 4 command bytes lead the data
    {
        QMutexLocker locker(&Utils::_file_deal_mutex);
        Fd in;
        if (!openChecked(hostPath, uint64_t(e.dataOffset) + e.dataLen, &in, why))
            return false;
        for (uint32_t pos = 0; pos < e.dataLen; pos += kFpgaChunk) {
            if (!readFullyAt(in.fd, uint64_t(e.dataOffset) + pos, image.data() + 4 + pos, std::min(kFpgaChunk, e.dataLen - pos))) {
                *why = QStringLiteral("package read cut short");
                return false;
            }
        }
    }
    // The record goes first: without it a power cut mid-write would leave half an image unreported.
    const QString record = QStringLiteral("FPGA 0 image of %1 entry %2, begun %3\n")
                               .arg(QFileInfo(QString::fromStdString(hostPath)).fileName()).arg(e.index).arg(clockText());
    makeParentDirectory(host(kImageWriteRecord));
    if (!writeFileAtomically(QString::fromLatin1(kImageWriteRecord), record.toUtf8())) {
        *why = QStringLiteral("cannot record the image write");
        return false;
    }
    auto erase = [&](uint32_t from, uint32_t length) {
        return eraseArea(from, length, [&](uint32_t s, int mode) { return drv->FPGA_SPI_FLASH_VBYONE_ERASE(selector, s, mode, 1) == 1; });
    };
    auto incomplete = [&] {
        fpgaIncomplete_ = true;
        *why = QStringLiteral("FPGA image incomplete, upgrade again");
        return false;
    };
    if (!erase(0, e.dataLen))
        return incomplete();
    for (uint32_t pos = 0; pos < e.dataLen; pos += kFpgaChunk) {
        const uint32_t n = std::min(kFpgaChunk, e.dataLen - pos);
        bool ok = false;
        for (int attempt = 0; attempt < kFpgaChunkTries && !ok; ++attempt) {
            if (attempt && !erase(pos, n))
                continue;
            ok = drv->FPGA_SPI_FLASH_VBYONE_WRITE(selector, pos, image.data() + pos, n) == 1 &&
                 drv->FPGA_SPI_FLASH_VBYONE_READ(selector, pos, n, back.data()) == 1 &&
                 std::memcmp(back.data(), image.data() + 4 + pos, n) == 0;
        }
        if (!ok)
            return incomplete(); // the record stays: the next start says so too
        Delay::ms(1);
    }
    const std::string recordFile = host(kImageWriteRecord);
    if (::unlink(recordFile.c_str()) == 0)
        syncParentDirectory(recordFile);
    return true;
}

QString cutImageWrite()
{
    QFile f(QString::fromStdString(host(kImageWriteRecord)));
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    const QString text = QString::fromUtf8(f.read(256)).trimmed();
    return text.isEmpty() ? QStringLiteral("FPGA 0 image") : text;
}

// A font counts as present by its header's first byte, read at every start. So, as for the FPGA
// image, the slot is erased only once the whole font is in memory (a stick pulled mid-read leaves
// the slot as it was), and the flash page that holds the header is written last: a write cut
// anywhere before it leaves the font absent, and the next run writes it again.
bool Engine::writeFont(const std::string& hostPath, const Entry& e, QString* why)
{
    c331_manage* scaler = c331_manage::p_c331_manage;
    if (!fontWriter && !scaler) {
        *why = QStringLiteral("scaler flash not available");
        return false;
    }
    std::vector<uint8_t> font(e.dataLen), back(kFontChunk);
    {
        QMutexLocker locker(&Utils::_file_deal_mutex);
        Fd in;
        if (!openChecked(hostPath, uint64_t(e.dataOffset) + e.dataLen, &in, why))
            return false;
        if (!readFullyAt(in.fd, e.dataOffset, font.data(), e.dataLen)) {
            *why = QStringLiteral("package read cut short");
            return false;
        }
    }
    if (!fontWriter) {
        const int fd = scaler->c331_fd;
        if (!eraseArea(e.target, e.dataLen, [&](uint32_t s, int mode) { return scaler->erase_flash(fd, s, 1, mode) == 0; })) {
            *why = QStringLiteral("font flash erase failed");
            return false;
        }
    }
    auto put = [&](uint32_t pos, uint32_t n) {
        const uint32_t address = e.target + pos;
        const uint8_t* data = font.data() + pos;
        const bool ok = fontWriter ? fontWriter(address, data, n)
                                   : scaler->write_flash(scaler->c331_fd, address, n, data) == 0 &&
                                         scaler->read_flash(scaler->c331_fd, address, n, back.data()) == 0 &&
                                         std::memcmp(back.data(), data, n) == 0;
        if (!ok)
            *why = QStringLiteral("font flash write or read-back failed");
        Delay::ms(1);
        return ok;
    };
    const uint32_t head = std::min(kFontHeadPage, e.dataLen);
    for (uint32_t pos = head; pos < e.dataLen; pos += kFontChunk)
        if (!put(pos, std::min(kFontChunk, e.dataLen - pos)))
            return false;
    return put(0, head);
}

}
