// Group 0xC0: uploads into the staging buffer and their targets (application, kernel and logo
// partitions, configuration and card files), reads of configuration files, and register 14, which
// puts a verified application in place.
#include "comm/card_file_events.h"
#include "comm/file_transfer.h"
#include "comm/message_deal.h"

#include "base/atomic_file.h"
#include "base/delay.h"
#include "base/fd_io.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "base/md5.h"
#include "base/tick_alarm.h"
#include "base/utils.h"
#include "params/alias_names.h"
#include "params/config_engine.h"
#include "params/json_document.h"
#include "params/protocol_layout.h"
#include "params/vyrrampara.h"
#include "platform/mtd.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "scaler/c331_manage.h"
#include "fpga/fpga_drv.h"
#include "fpga/fpga_manage.h"

#include "tools/program_check.h"
#include "tools/program_image.h"
#include "tools/upgrade_notice.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QSettings>
#include <boost/property_tree/ptree.hpp>

#include <atomic>
#include <string>
#include <utility>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>


namespace {
constexpr uint32_t kLogoHeader = 372;
constexpr uint32_t kLogoPartition = 0x60000;
constexpr uint32_t kKernelPartition = 0x500000;
constexpr const char* kNextApp = proto::kStagedProgram;
// An upload under its check start: set aside, so the check runs without the file lock and an
// upload started meanwhile writes kNextApp, never the program that passed.
const std::string kCheckedApp = std::string(kNextApp) + ".check";
constexpr const char* kRecoveryDir = "/data/rcvrecovery";
constexpr const char* kMappingDir = "/data/smartmapping";

enum Type : uint8_t { None = 0, App = 1, Boot = 2, Kernel = 3, Logo = 4, Alias = 5, Mode = 7, Menu = 8, Recovery = 9, Mapping = 13,
                      Refused = 0xFF }; // Refused: the last start was refused, so its end fails

using file_transfer::kIdleTicks;

// The transfer record; only touched under Utils::_file_deal_mutex.
struct Transfer {
    uint8_t type = None;
    std::string name;      // target of types 7, 9 and 13
    uint32_t length = 0;   // announced by the start
    FILE* reading = nullptr;
    bool appVerified = false; // the last "FMCU" end stored and read back the application
    bool appReplaced = false; // register 14 put it in place; the reboot is on its way
    // There is one staging buffer, one digest and one record: the peer whose start took them owns
    // them. While its transfer is open other peers cannot start one, and their blocks and ends never
    // act on the owner's record.
    bool owned = false;    // a start has named an owner since power-up
    uint64_t owner = 0;    // request_peer of that start
    bool open = false;     // between an accepted start and its end
    uint32_t heard = 0;    // G_timeTicks of the owner's last request
    bool screen = false;   // an "FMCU" or "FKRN" upload raised the upgrade screen and stored nothing yet
    uint32_t screens = 0;  // uploads that raised it since power-up
};
Transfer transfer;

bool startsTransfer(uint8_t sub)
{
    return sub == 1 || sub == 4 || sub == 7 || sub == 8;
}

bool belongsToTransfer(uint8_t sub)
{
    return sub >= 1 && sub <= 8;
}

// Largest file a type can take.
uint32_t capacityOf(uint8_t type)
{
    switch (type) {
    case Kernel:
        return kKernelPartition;
    case Logo:
        return kLogoPartition - kLogoHeader;
    default:
        return kStagingSize;
    }
}

bool storesBlocks(uint8_t type)
{
    return type == App || type == Kernel || type == Logo || type == Alias || type == Mode || type == Menu ||
           type == Recovery || type == Mapping;
}

// "MO" mode number from two ASCII hex characters; 0 when not 1-16.
int modeNumber(uint8_t hi, uint8_t lo)
{
    const int h = Utils::hexDigit(char(hi)), l = Utils::hexDigit(char(lo));
    if (h < 0 || l < 0)
        return 0;
    const int n = h * 16 + l;
    return n >= 1 && n <= 16 ? n : 0;
}

std::string modePath(int mode)
{
    char text[40];
    snprintf(text, sizeof text, "/data/modes/MO%02x.json", mode);
    return text;
}

bool tagIs(const MessageFrame& f, uint32_t at, const char* tag)
{
    const size_t n = strlen(tag);
    if (at + n > f.length)
        return false;
    return memcmp(f.body + at, tag, n) == 0;
}

// Text of n bytes from position at, cut at the first NUL; the caller checked the frame holds them.
std::string nameAt(const MessageFrame& f, uint32_t at, uint32_t n)
{
    const char* p = reinterpret_cast<const char*>(f.body + at);
    return std::string(p, strnlen(p, n));
}

void closeReading()
{
    if (transfer.reading) {
        fclose(transfer.reading);
        transfer.reading = nullptr;
    }
}

// The upgrade screen goes with the upload that raised it once that upload is over without a stored
// file: else the panel tells the operator not to power off a box that is doing nothing. A USB
// upgrade begun meanwhile owns the screen and closes it itself.
void leaveUpgradeScreen()
{
    if (g_usb_grade.load() == 0)
        message_deal::upgradeFlagFromRegister(false);
}

// An open transfer its owner has left silent too long: an upload's end can no longer store
// anything, a read is closed, and any peer may start again.
void dropIdleTransfer()
{
    if (Utils::getTimeSpace(transfer.heard) < kIdleTicks)
        return;
    if (std::exchange(transfer.screen, false))
        leaveUpgradeScreen();
    if (!transfer.open)
        return;
    writeLogMsg(LOG_WARNING, "file transfer: dropped after 30 s without a request");
    transfer.open = false;
    if (transfer.reading)
        closeReading();
    else if (transfer.type != None)
        transfer.type = Refused;
}

// Nobody need send a request for a silent upload to give the upgrade screen up: the panel's tick
// rings when its owner has been silent long enough. The GUI thread then drops it unless a request
// holds the file lock (an end writing its file); it looks again a little later.
void dropSilentUpload();

TickAlarm& silenceAlarm()
{
    static TickAlarm alarm([] {
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(app, dropSilentUpload, Qt::QueuedConnection);
    });
    return alarm;
}

void dropSilentUpload()
{
    if (!Utils::_file_deal_mutex.tryLock()) {
        silenceAlarm().arm(G_timeTicks.load() + 10);
        return;
    }
    dropIdleTransfer();
    Utils::_file_deal_mutex.unlock();
}

// A start by anyone while no transfer is open, or by the owner; anything else only by the owner.
bool mayAct(uint64_t peer, uint8_t sub)
{
    if (startsTransfer(sub))
        return !transfer.open || transfer.owner == peer;
    return !transfer.owned || transfer.owner == peer;
}

// Opens a file for a read transfer; its size, or -1 when it cannot be opened.
int64_t openReading(const std::string& path)
{
    closeReading();
    FILE* file = fopen(platform::Paths::resolve(path).c_str(), "rb");
    if (!file)
        return -1;
    struct stat st {};
    if (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) {
        fclose(file);
        return -1;
    }
    transfer.reading = file;
    return int64_t(st.st_size);
}

void putLogoHeader(uint8_t* h, uint32_t dataLength)
{
    memset(h, 0, kLogoHeader);
    auto u16 = [h](uint32_t at, uint16_t v) { h[at] = uint8_t(v); h[at + 1] = uint8_t(v >> 8); };
    auto u32 = [&u16](uint32_t at, uint32_t v) { u16(at, uint16_t(v)); u16(at + 2, uint16_t(v >> 16)); };
    memcpy(h + 0x000, "SSTAR", 5);
    h[0x008] = 0x02;
    memcpy(h + 0x00C, "DISP", 4);
    u16(0x02C, 0x0104);
    h[0x030] = 0x38;
    h[0x034] = 0x01;
    h[0x038] = 0x44;
    h[0x03E] = 0x30;
    u16(0x042, 0x0330);
    h[0x044] = 0x01;
    memcpy(h + 0x048, "LMT050_NAD", 10);
    u32(0x068, 0x08049630);
    h[0x074] = 0x01;
    static const uint8_t run[] = {1, 1, 1, 1, 2, 2, 1, 1, 1, 1, 0};
    memcpy(h + 0x07D, run, sizeof run);
    h[0x088] = h[0x08A] = h[0x08C] = h[0x08E] = 0x01;
    h[0x090] = 0x0A;
    h[0x092] = 0x0C;
    h[0x094] = 0x04;
    h[0x096] = 0x0C;
    u16(0x09C, 320);
    u16(0x09E, 240);
    static const uint16_t timing[] = {360, 360, 360, 280, 280, 280};
    for (int i = 0; i < 6; ++i)
        u16(0x0A0 + 2 * i, timing[i]);
    h[0x0AC] = 0x07;
    h[0x0AE] = 0x07;
    h[0x0B0] = 0x06;
    h[0x0B2] = 0x19;
    h[0x0B4] = 0xC0;
    u16(0x0B6, 0xFFA0);
    h[0x0B8] = 0x50;
    h[0x0BC] = 0x01;
    h[0x0C4] = h[0x0C8] = h[0x0DC] = 0x02;
    h[0x0E8] = 1;
    h[0x0EC] = 2;
    h[0x0F0] = 3;
    h[0x0F4] = 4;
    memcpy(h + 0x148, "LOGO", 4);
    u32(0x168, dataLength);
    h[0x16C] = 0x2C;
    h[0x170] = 0x01;
}

// The digest must also hold for the bytes the end writes, not only for the blocks as they came:
// the staging buffer is shared with the cloud transfer and the USB upgrade, which may have changed
// it since. A partition is written whole; past the file it gets the zeros its start had cleared.
bool stagedDataMatch(uint8_t type, uint32_t length, const uint8_t* digest)
{
    const uint32_t at = type == Logo ? kLogoHeader : 0;
    MD5 staged(fileBuf_kelto + at, length);
    if (memcmp(staged.digest(), digest, 16) != 0)
        return false;
    file_transfer::stagingChanged();
    const uint32_t whole = type == Kernel ? kKernelPartition : type == Logo ? kLogoPartition : at + length;
    memset(fileBuf_kelto + at + length, 0, whole - at - length);
    return true;
}

// Erases and writes a whole raw partition from the staging buffer, then reads it back.
bool writePartition(const char* device, uint32_t size)
{
    platform::Mtd& mtd = platform::mtd();
    const int fd = mtd.open(device);
    if (fd < 0) {
        writeLogMsg(LOG_ERROR, std::string("file transfer: cannot open ") + device);
        return false;
    }
    bool ok = Utils::non_region_erase(fd, 0, size, 1) == 0;
    if (ok)
        ok = Utils::non_region_write(fd, fileBuf_kelto, size, 0) == 0;
    if (ok) {
        std::vector<uint8_t> back(0x10000);
        for (uint32_t at = 0; ok && at < size; at += uint32_t(back.size())) {
            const size_t n = std::min<size_t>(back.size(), size - at);
            ok = pread(fd, back.data(), n, off_t(at)) == ssize_t(n) && memcmp(back.data(), fileBuf_kelto + at, n) == 0;
        }
    }
    mtd.close(fd);
    if (!ok)
        writeLogMsg(LOG_ERROR, std::string("file transfer: writing failed on ") + device);
    return ok;
}

std::string targetOf(uint8_t type)
{
    switch (type) {
    case App:
        return kNextApp;
    case Alias:
        return "/data/configs/alias.json";
    case Menu:
        return "/data/configs/omenu.json";
    case Mode:
    case Recovery:
    case Mapping:
        return transfer.name;
    default:
        return std::string();
    }
}

// Removes every entry of a folder (not recursing); true when at least one went. *kept is set when
// one is left (a folder that is missing holds none).
bool emptyFolder(const char* folder, bool* kept)
{
    const std::string dir = platform::Paths::resolve(folder);
    DIR* d = opendir(dir.c_str());
    if (!d) {
        *kept = *kept || errno != ENOENT;
        return false;
    }
    bool removed = false;
    while (const dirent* e = readdir(d)) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0)
            continue;
        if (unlink((dir + "/" + e->d_name).c_str()) == 0)
            removed = true;
        else if (errno != ENOENT)
            *kept = true;
    }
    closedir(d);
    return removed;
}
void recoveryFilesChanged(bool fromDelete)
{
    Q_EMIT CardFileEvents::instance()->recoveryFilesChanged(fromDelete);
}

void mappingFilesChanged(bool fromDelete)
{
    Q_EMIT CardFileEvents::instance()->mappingFilesChanged(fromDelete);
}
} // namespace

namespace file_transfer {

void stagingChanged()
{
    fileBuf_kelto_changes.fetch_add(1);
}

uint32_t stagingChanges()
{
    return fileBuf_kelto_changes.load();
}

bool stagingFreeFor(uint64_t peer)
{
    dropIdleTransfer();
    return !transfer.open || transfer.owner == peer;
}

bool isPlainName(const std::string& name)
{
    if (name.empty() || name.size() > 255 || name == "." || name == "..")
        return false;
    for (unsigned char c : name)
        if (c == '/' || c < 0x20 || c == 0x7F)
            return false;
    return true;
}

void removeLeftovers()
{
    int removed = 0;
    for (const std::string& file : {kCheckedApp, std::string(proto::kUsbStagedProgram)})
        removed += ::unlink(platform::Paths::resolve(file).c_str()) == 0 ? 1 : 0;
    // The store sweeps its own folders (/data, modes, configs) as it loads; uploads refuse card
    // names that end like a temporary.
    for (const char* folder : {"/data/app", "/etc", kRecoveryDir, kMappingDir})
        removed += removeAtomicLeftovers(QString::fromLatin1(folder));
    if (removed)
        writeLogMsg(LOG_WARNING, "file transfer: " + std::to_string(removed) + " file(s) of a cut upload removed");
}

bool writeVerified(const std::string& path, const uint8_t* data, uint32_t length, unsigned mode)
{
    const std::string target = platform::Paths::resolve(path);
    const std::string temp = temporaryFor(target);
    makeParentDirectory(target);
    const int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return false;
    bool ok = writeFully(fd, data, length) && ::fsync(fd) == 0;
    // Read back what the disk holds before the old file is given up.
    std::vector<uint8_t> back(1024);
    for (uint32_t at = 0; ok && at < length; at += 1024) {
        const size_t n = std::min<size_t>(1024, length - at);
        ok = pread(fd, back.data(), n, off_t(at)) == ssize_t(n) && memcmp(back.data(), data + at, n) == 0;
    }
    ok = ok && ::fchmod(fd, mode) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    syncParentDirectory(target); // else a power cut can undo the rename after "stored"
    return true;
}
} // namespace file_transfer

uint32_t message_deal::write_file_group(MessageFrame& f)
{
    bool aliasChanged = false;
    const uint32_t r = fileRequest(f, &aliasChanged);
    // The pages re-read names outside the file lock, which their loaders take.
    if (aliasChanged && VyrRamPara::p_vyrrampara_config)
        VyrRamPara::p_vyrrampara_config->test_signal(103);
    return r;
}

uint32_t message_deal::fileRequest(MessageFrame& f, bool* aliasChanged)
{
    QMutexLocker lock(&Utils::_file_deal_mutex);
    const uint8_t sub = f.at(10);
    bool replaced = false; // a start takes the place of the upload that raised the upgrade screen
    if (belongsToTransfer(sub)) {
        dropIdleTransfer();
        if (!mayAct(f.peer, sub))
            return refuseForeign(f);
        if (startsTransfer(sub)) {
            transfer.owned = true;
            transfer.owner = f.peer;
            replaced = std::exchange(transfer.screen, false);
        }
        transfer.heard = G_timeTicks.load();
    }
    const uint32_t r = fileOperation(f, sub, aliasChanged);
    if (replaced && !transfer.screen)
        leaveUpgradeScreen();
    if (transfer.screen)
        silenceAlarm().arm(transfer.heard + kIdleTicks);
    return r;
}

uint32_t message_deal::fileOperation(MessageFrame& f, uint8_t sub, bool* aliasChanged)
{
    switch (sub) {
    case 1:
        return writeFileStart(f);
    case 2:
        return writeFileBlock(f);
    case 3:
        return writeFileEnd(f, aliasChanged);
    case 4:
        return readFileStart(f, 13, 4);
    case 5:
        return readFileBlock(f);
    case 6: {
        f.status(0, 18);
        f.body[11] = 6;
        if (transfer.reading) {
            memcpy(f.body + 12, md5.digest(), 16);
            closeReading();
        }
        transfer.open = false;
        return 18;
    }
    case 7:
        return writeNamedStart(f);
    case 8:
        return readNamedStart(f);
    case 9:
        f.status(0, 2);
        f.body[11] = 6;
        return 2;
    case 10: {
        bool kept = false; // a file the tool is told is gone would still be listed after a restart
        if (emptyFolder(kMappingDir, &kept))
            mappingFilesChanged(true);
        if (emptyFolder(kRecoveryDir, &kept))
            recoveryFilesChanged(true);
        f.status(kept ? 1 : 0, 2);
        f.body[11] = 10;
        return 2;
    }
    default:
        return 0;
    }
}

// Another peer's request while a transfer belongs to someone else, answered in each request's own
// failure form; nothing of the owner's transfer changes.
uint32_t message_deal::refuseForeign(MessageFrame& f)
{
    const uint8_t sub = f.at(10);
    if (traceOn())
        printf("\n file transfer: request %u of another peer refused\n", sub);
    switch (sub) {
    case 1:
    case 7:
        f.status(1, 3);
        f.body[11] = sub;
        f.body[12] = 2;
        return 3;
    case 2:
    case 5:
        f.status(1, 2);
        f.body[11] = sub;
        return 2;
    case 3:
        f.status(0, 3);
        f.body[11] = 3;
        f.body[12] = 1;
        return 3;
    case 4:
    case 8: {
        // Not opened; a named read of a card file answers in its own form.
        const uint32_t n = f.u16At(4);
        const uint8_t type = sub == 8 && uint64_t(16) + n <= f.length ? f.at(15 + n) : 0;
        f.status(0, 7);
        f.body[11] = type == Recovery || type == Mapping ? 8 : 4;
        return 7;
    }
    default: // 6: as when no read is open
        f.status(0, 18);
        f.body[11] = 6;
        return 18;
    }
}

uint32_t message_deal::writeFileStart(MessageFrame& f)
{
    transfer.name.clear();
    transfer.appVerified = false;
    uint8_t type = None;
    uint32_t clear = 0;
    if (f.length < 22) {
        type = None; // too short to carry a tag and a length
    } else if (tagIs(f, 13, "FMCU")) {
        type = App;
        clear = kStagingSize;
    } else if (tagIs(f, 13, "FBOT")) {
        transfer.type = Boot;
        transfer.open = true;
        return 0;
    } else if (tagIs(f, 13, "FKRN")) {
        type = Kernel;
        clear = kStagingSize;
    } else if (tagIs(f, 13, "LOGO")) {
        type = Logo;
        clear = kLogoPartition;
    } else if (tagIs(f, 13, "ALIS")) {
        type = Alias;
        clear = kLogoPartition;
    } else if (tagIs(f, 13, "OSDS")) {
        type = Menu;
        clear = 0x400000;
    } else if (tagIs(f, 13, "MO")) {
        if (const int mode = modeNumber(f.at(15), f.at(16))) {
            type = Mode;
            clear = 0x400000;
            transfer.name = modePath(mode);
        }
    } else if (tagIs(f, 13, "QZFX")) {
        if (f.at(17) == Recovery) {
            type = Recovery;
            transfer.name = std::string(kRecoveryDir) + "/QZFX";
        }
    } else if (tagIs(f, 13, "QZFR")) {
        if (f.at(17) == Mapping) {
            type = Mapping;
            transfer.name = std::string(kMappingDir) + "/QZFR";
        }
    }
    const uint32_t length = f.u32At(18);
    if (type != None && length > capacityOf(type))
        type = None;
    if (type == App || type == Kernel) {
        upgradeFlagFromRegister(true);
        transfer.screen = true;
        ++transfer.screens;
    }
    transfer.length = length;
    md5.reset();
    f.status(type == None ? 1 : 0, 3);
    f.body[11] = 1;
    if (type == None) {
        // A refused start leaves nothing behind that a later end could write or report as stored.
        transfer.type = Refused;
        transfer.open = false;
        f.body[12] = 2;
        return 3;
    }
    transfer.type = type;
    transfer.open = true;
    if (clear != 0)
        file_transfer::stagingChanged();
    memset(fileBuf_kelto, 0, clear);
    return 3;
}

uint32_t message_deal::writeNamedStart(MessageFrame& f)
{
    transfer.name.clear();
    transfer.appVerified = false;
    const uint32_t n = f.u16At(13);
    uint8_t type = None;
    if (uint64_t(20) + n <= f.length) {
        const std::string name = nameAt(f, 15, n);
        const uint8_t asked = f.at(15 + n);
        transfer.length = f.u32At(16 + n);
        // A name ending like a temporary would be taken for a cut write's at the next start.
        if ((asked == Recovery || asked == Mapping) && file_transfer::isPlainName(name) && !isTemporaryName(name) &&
            name.size() <= file_transfer::kMaxStoredName && transfer.length <= kStagingSize) {
            type = asked;
            transfer.name = std::string(asked == Recovery ? kRecoveryDir : kMappingDir) + "/" + name;
        }
    }
    transfer.type = type == None ? uint8_t(Refused) : type;
    transfer.open = type != None;
    md5.reset();
    f.status(type == None ? 1 : 0, 3);
    f.body[11] = 7;
    f.body[12] = type == None ? 2 : 0;
    return 3;
}

uint32_t message_deal::writeFileBlock(MessageFrame& f)
{
    const uint32_t o = f.u32At(15), L = f.u32At(19);
    const bool inFrame = f.length >= 23 && uint64_t(23) + L <= f.length;
    const bool inArea = uint64_t(o) + L <= capacityOf(transfer.type);
    // A block for a start that was refused, a transfer dropped for silence, no start at all or the
    // boot start stores nothing: say so.
    if (!inFrame || !inArea || !storesBlocks(transfer.type)) {
        f.status(1, 2);
        f.body[11] = 2;
        return 2;
    }
    file_transfer::stagingChanged();
    memcpy(fileBuf_kelto + (transfer.type == Logo ? kLogoHeader : 0) + o, f.body + 23, L);
    md5.update(f.body + 23, L);
    f.status(0, 2);
    f.body[11] = 2;
    return 2;
}

uint32_t message_deal::writeFileEnd(MessageFrame& f, bool* aliasChanged)
{
    bool ok = f.length >= 31 && memcmp(md5.digest(), f.body + 15, 16) == 0;
    const uint8_t type = transfer.type;
    if (traceOn())
        printf(ok ? "\n md5 OK!!! " : "\n md5 differs ");
    if (ok && type != None && type != Boot && transfer.length > capacityOf(type))
        ok = false;
    if (ok && storesBlocks(type))
        ok = stagedDataMatch(type, transfer.length, f.body + 15);
    if (ok) {
        switch (type) {
        case None: // no upload since power-up: a read left open is closed, nothing is stored
            closeReading();
            ok = false;
            break;
        case Refused:
        case Boot: // recognised, never written anywhere
            ok = false;
            break;
        case Kernel:
            ok = writePartition("/dev/mtd10", kKernelPartition);
            break;
        case Logo: {
            // The record keeps the file's own length, which a second end checks its digest over.
            const uint32_t padded = (transfer.length + 3) & ~3u;
            if (padded > capacityOf(Logo)) {
                ok = false;
                break;
            }
            putLogoHeader(fileBuf_kelto, padded);
            ok = writePartition("/dev/mtd8", kLogoPartition);
            break;
        }
        case App:
        case Alias:
        case Mode:
        case Menu:
        case Recovery:
        case Mapping: {
            const std::string target = targetOf(type);
            std::string refused = type == App ? program_image::refusal(fileBuf_kelto, transfer.length) : std::string();
            // A document its reader would fail on (and delete) must not replace the good one.
            boost::property_tree::ptree doc;
            if ((type == Alias || type == Menu || type == Mode) &&
                readJsonDocument(std::string(reinterpret_cast<const char*>(fileBuf_kelto), transfer.length), &doc) !=
                    JsonRead::Taken)
                refused = "not a JSON document its reader takes";
            if (!refused.empty())
                writeLogMsg(LOG_ERROR, "upload of type " + std::to_string(type) + " refused: " + refused);
            ok = !target.empty() && refused.empty() &&
                 file_transfer::writeVerified(target, fileBuf_kelto, transfer.length, type == App ? 0755 : 0644);
            if (type == App)
                transfer.appVerified = ok;
            *aliasChanged = type == Alias && ok;
            if (*aliasChanged)
                AliasNames::uploaded(doc);
            if (type == Recovery)
                recoveryFilesChanged(false);
            else if (type == Mapping)
                mappingFilesChanged(false);
            break;
        }
        default:
            break;
        }
    }
    if (!ok)
        writeLogMsg(LOG_ERROR, "file transfer: end of type " + std::to_string(type) + " failed");
    if (std::exchange(transfer.screen, false) && !ok)
        leaveUpgradeScreen();
    transfer.open = false;
    f.status(0, 3);
    f.body[11] = 3;
    f.body[12] = ok ? 0 : 1;
    return 3;
}

uint32_t message_deal::readFileStart(MessageFrame& f, uint32_t tagAt, uint8_t answer)
{
    std::string path;
    if (tagIs(f, tagAt, "ALIS"))
        path = "/data/configs/alias.json";
    else if (tagIs(f, tagAt, "OSDS"))
        path = "/data/configs/omenu.json";
    else if (tagIs(f, tagAt, "MO")) {
        if (const int mode = modeNumber(f.at(tagAt + 2), f.at(tagAt + 3)))
            path = modePath(mode);
    }
    return readReply(f, path, answer);
}

uint32_t message_deal::readReply(MessageFrame& f, const std::string& path, uint8_t answer)
{
    f.status(0, 7);
    f.body[11] = answer;
    if (path.empty())
        return 7; // unknown tag: the digest is left alone
    md5.reset();
    const int64_t size = openReading(path);
    transfer.open = size >= 0;
    if (size >= 0) {
        f.body[12] = 1;
        const uint32_t s = uint32_t(std::min<int64_t>(size, UINT32_MAX));
        memcpy(f.body + 13, &s, 4);
    }
    return 7;
}

uint32_t message_deal::readNamedStart(MessageFrame& f)
{
    const uint32_t n = f.u16At(4);
    if (uint64_t(16) + n > f.length) {
        f.status(0, 7);
        f.body[11] = 4;
        return 7;
    }
    const uint8_t type = f.at(15 + n);
    if (type == Recovery || type == Mapping) {
        const std::string name = nameAt(f, 15, n);
        if (!file_transfer::isPlainName(name)) {
            f.status(0, 7);
            f.body[11] = 8;
            return 7;
        }
        return readReply(f, std::string(type == Recovery ? kRecoveryDir : kMappingDir) + "/" + name, 8);
    }
    std::string path;
    if (n == 4 && type == Alias && tagIs(f, 15, "ALIS"))
        path = "/data/configs/alias.json";
    else if (n == 4 && type == Menu && tagIs(f, 15, "OSDS"))
        path = "/data/configs/omenu.json";
    else if (n == 4 && type == Mode && tagIs(f, 15, "MO")) {
        if (const int mode = modeNumber(f.at(17), f.at(18)))
            path = modePath(mode);
    }
    return readReply(f, path, 4);
}

uint32_t message_deal::readFileBlock(MessageFrame& f)
{
    const uint32_t o = f.u32At(15), L = f.u32At(19);
    if (f.length < 23 || uint64_t(11) + L + 2 > f.capacity) { // the reply must fit the buffer
        f.status(1, 2);
        f.body[11] = 5;
        return 2;
    }
    f.status(0, L + 2);
    f.body[11] = 5;
    if (transfer.reading) {
        if (fseeko(transfer.reading, off_t(o), SEEK_SET) == 0)
            (void)fread(f.body + 12, 1, L, transfer.reading);
        clearerr(transfer.reading);
        md5.update(f.body + 12, L);
    }
    return L + 2;
}

int message_deal::RegUpdate0E(uint8_t bits)
{
    // A refused or failed replacement is answered as a failure, so the tool does not wait for a reboot.
    const int result = (bits & 0x01) && !replaceApplication() ? 1 : 0;
    if (bits & 0x02) {
        Delay::ms(100);
        platform::shell().system("reboot");
    }
    if (bits & 0x08) {
        if (c331_manage* scaler = c331_manage::p_c331_manage) {
            scaler->read_c331_font(scaler->c331_fd);
            scaler->update_font(scaler->c331_fd);
        }
    }
    return result;
}

bool message_deal::replaceApplication()
{
    // A program refused here takes the update screen its upload raised down, and the operator
    // reads why instead of "do not power off" on a box that does nothing.
    // An upload another tool began while this program was checked keeps the screen it raised.
    uint32_t screens = 0;
    auto refuse = [&screens](const std::string& reason) {
        writeLogMsg(LOG_ERROR, "application replacement refused: " + reason);
        {
            QMutexLocker lock(&Utils::_file_deal_mutex);
            if (transfer.screens == screens)
                leaveUpgradeScreen();
        }
        UpgradeNotice::showRefusal(reason);
        return false;
    };
    bool setAside = false;
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        if (transfer.appReplaced)
            return true;
        // Only a complete upload that was written and read back is put in place.
        if (!transfer.appVerified) {
            writeLogMsg(LOG_ERROR, "application replacement refused: no verified upload");
            return false;
        }
        if (g_app_reset_flag.load() != 0)
            return false; // a reboot for another cause is on its way
        transfer.appVerified = false;
        screens = transfer.screens;
        setAside = std::rename(platform::Paths::resolve(kNextApp).c_str(), platform::Paths::resolve(kCheckedApp).c_str()) == 0;
    }
    if (!setAside)
        return refuse(std::string(kNextApp) + " cannot be set aside");
    // The check start takes up to its time limit, off the asking tool's transport thread
    // (write_register leaves it to the slow requests' thread): the panel's saves and the other
    // tools' requests, transfers among them, go on, on every transport.
    const std::string checked = platform::Paths::resolve(kCheckedApp);
    const std::string refused = program_check::refusal(checked);
    if (!refused.empty()) {
        ::unlink(checked.c_str());
        return refuse(refused);
    }
    platform::Shell& sh = platform::shell();
    if (sh.system("chmod 755 " + kCheckedApp) != 0 ||
        (Delay::ms(10), sh.system("mv " + kCheckedApp + "  " + proto::kProgram)) != 0)
        return refuse("it could not be put in place");
    if (g_update_status.load() == 0) {
        QSettings launcher(QString::fromStdString(platform::Paths::resolve(ConfigEngine::kLauncherIniPath)),
                           QSettings::IniFormat);
        launcher.beginGroup(QStringLiteral("app-1"));
        launcher.setValue(QStringLiteral("app_path"), QString::fromLatin1(ConfigEngine::kLauncherAppPath));
        launcher.setValue(QStringLiteral("app_name"), QStringLiteral("vyrR58N"));
        launcher.endGroup();
        launcher.sync();
    }
    Delay::ms(10);
    sh.system("sync");
    Delay::ms(10);
    G_reboot_tickTicks = G_timeTicks.load();
    g_app_reset_flag = 1;
    QMutexLocker lock(&Utils::_file_deal_mutex);
    transfer.appReplaced = true;
    return true;
}

uint32_t message_deal::start_update(MessageFrame& f)
{
    if (f.toController())
        return f.status(0);
    const uint32_t c = f.length;
    if (c == 11 && !(f.at(10) & 0x02))
        return 1; // byte 10 stays as sent
    if (c != 10 && c != 11)
        return f.status(1);
    // The FPGA restarts with the parameters its new image expects, taken from its own flash.
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    uint8_t params[256];
    if (!fpga || !fpga->fpgadrv || fpga->fpgadrv->FPGA_SPI_FLASH_VBYONE_READ(2, 0x6C0001, sizeof params, params) != 1) {
        writeLogMsg(LOG_ERROR, "FPGA restart: the parameters could not be read from its flash");
        return f.status(1);
    }
    fpga->write_fpga_ram(params, 0, sizeof params, 10, 0);
    fpga->write_to_register(23, 0x40, 0x40, 0);
    fpga->hold_in_reset(0);
    return f.status(0);
}
