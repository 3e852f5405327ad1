// Files from outside that the program reads whole: the first byte picks which (by its value % 3).
//   0  the parameter file "/data/ram_device_info" as the start-up loads it (byte 1 % 3: 0 present
//      with the rest as its bytes, 1 missing, 2 a folder in its place), and the crop table the
//      start-up builds from it;
//   1  the USB stick's folder as the upgrade lists it: pieces cut at "#NAME#", the first the
//      folder setting (UsbUpgradeDir), each other an entry of the folder (its first byte % 4: a
//      file, a link to a file, a folder, a link to a folder; the rest its name);
//   2  an upgrade package on the stick, run through the worker's passes of the USB upgrade.
// Each reader's rules are checked on what it accepted: the block holds the file's bytes only when
// both markers are right, the defaults elsewhere, and nothing beyond the saved part changes; a
// crop is marked in use only for an entry in use with a source and number in range; the listing
// names only regular, visible package files directly in a folder on the stick, at most 100; a
// written entry holds the package's bytes, inside its flash area, and nothing else is touched.
#include "fuzz_board.h"

#include "base/global.h"
#include "fpga/fpga_manage.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "platform/paths.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/devices/fpga_flash.h"
#include "tools/program_image.h"
#include "tools/upgrade_engine.h"
#include "tools/upgrade_package.h"
#include "store_face.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
using Bytes = std::vector<uint8_t>;
using platform::Sim::fpgaFlash;

std::string host(const QString& path) { return platform::Paths::resolve(path.toStdString()); }
QString hostQ(const QString& path) { return QString::fromStdString(host(path)); }

VyrRamPara* store;
fpga_manage* fpga;

// ---- the parameter file ----

void paramFile(const uint8_t* data, size_t size)
{
    const QString path = QString::fromLatin1(VyrRamPara::kParaFilePath);
    QDir(hostQ(path)).removeRecursively();
    QFile::remove(hostQ(path));
    const uint8_t kind = size ? data[0] % 3 : 1;
    const QByteArray file = size ? QByteArray(reinterpret_cast<const char*>(data + 1), int(size - 1)) : QByteArray();
    if (kind == 0)
        FuzzBoard::writeFile(path.toStdString(), file);
    else if (kind == 2)
        QDir().mkpath(hostQ(path));

    // Bytes outside the saved part are the program's: a load that changes them ran past its part.
    static uint8_t before[kBlockSize + sizeof store->shadow];
    memset(testBlock(store), 0x3C, kPersistStart);
    memcpy(before, testBlock(store), kBlockSize);
    memcpy(before + kBlockSize, store->shadow, sizeof store->shadow);
    store->para_file_load();
    if (memcmp(testBlock(store), before, kPersistStart) != 0 || memcmp(store->shadow, before + kBlockSize, sizeof store->shadow) != 0)
        FuzzBoard::fail("the parameter file's load wrote outside the saved part of the block");

    // What was read: at most one block's worth; loaded when both markers say saved.
    const QByteArray read = file.left(int(kBlockSize));
    const bool loaded = kind == 0 && read.size() >= 2 && uint8_t(read[0]) == blk::kMarkerSaved && uint8_t(read[1]) == blk::kMarkerSaved;
    Bytes want(default_para_ramlist + 2, default_para_ramlist + 2 + kPersistSize);
    if (loaded)
        std::copy(read.begin() + 2, read.begin() + 2 + std::min<int>(read.size() - 2, int(kPersistSize)), want.begin());
    if (memcmp(testBlock(store) + kPersistStart, want.data(), kPersistSize) != 0)
        FuzzBoard::fail(loaded ? "a saved parameter file is not what the block holds" : "a damaged or missing parameter file did not give the defaults");
    if (kind == 0 && !loaded) {
        QFile f(hostQ(path));
        if (!f.open(QIODevice::ReadOnly) ||
            f.readAll() != QByteArray(reinterpret_cast<const char*>(default_para_ramlist), int(kBlockSize)))
            FuzzBoard::fail("a parameter file with wrong markers was not replaced by the defaults");
    }

    // The crop table of the loaded block: a crop is marked exactly when an entry names it.
    store->VyrCropSourceInit();
    uint8_t marks[sizeof g_cut_source_state] = {};
    for (uint32_t k = 0; k < kCropCount; ++k) {
        const uint16_t id = store->u16(blk::cropField(k, blk::crop::kId));
        const uint32_t source = blk::crop::source(id), number = blk::crop::number(id);
        if (blk::crop::used(id) && source < 6 && number >= 1 && number <= 40) {
            const uint32_t bit = source * 40 + number - 1;
            marks[bit / 8] |= uint8_t(1u << (bit % 8));
        }
    }
    if (memcmp(marks, g_cut_source_state, sizeof marks) != 0)
        FuzzBoard::fail("the crops marked in use are not the entries in use");
}

// ---- the stick's folder ----

constexpr int kListed = 100;

bool packageName(const QString& name)
{
    return !name.startsWith('.') && (name.endsWith(QLatin1String(".VYR")) || name.endsWith(QLatin1String(".VYRZK")));
}

void stickFolder(const uint8_t* data, size_t size)
{
    QDir(hostQ("/mnt/usb1")).removeRecursively();
    std::vector<QByteArray> pieces = FuzzBoard::split(data, size, "#NAME#");
    const QByteArray settingBytes = pieces[0];
    if (settingBytes.contains('\0'))
        return; // no setting carries one
    const QString setting = QString::fromUtf8(settingBytes);
    g_usb_grade_path = setting;
    QString folder = setting == QLatin1String(" ") ? QStringLiteral("/mnt/usb1/") : QStringLiteral("/mnt/usb1/") + setting;
    if (!folder.endsWith('/'))
        folder += '/';
    // The setting may not lead off the stick; entries are made on the stick then.
    const bool onStick = !folder.contains(QLatin1String(".."));
    const QString made = onStick ? folder : QStringLiteral("/mnt/usb1/");
    QDir().mkpath(hostQ(made));
    FuzzBoard::writeFile("/mnt/usb1.target", QByteArray("not on the stick"));
    QDir().mkpath(hostQ("/mnt/usb1.dir"));
    // Packages off the stick, where a setting with ".." would lead.
    for (const char* decoy : {"/decoy.VYR", "/mnt/decoy.VYR", "/data/decoy.VYR"})
        FuzzBoard::writeFile(decoy, QByteArray("not on the stick"));

    QSet<QString> packages; // what the listing must name (while there are at most 100)
    for (size_t i = 1; i < pieces.size(); ++i) {
        if (pieces[i].isEmpty())
            continue;
        const uint8_t kind = uint8_t(pieces[i][0]) % 4;
        const QByteArray raw = pieces[i].mid(1);
        const QString name = QFile::decodeName(raw);
        if (raw.isEmpty() || raw.size() > 255 || raw.contains('/') || raw.contains('\0') || raw == "." || raw == ".." ||
            QFile::encodeName(name) != raw)
            continue; // not a name a folder can hold
        const std::string at = host(made) + raw.toStdString();
        bool ok = false;
        if (kind == 0) {
            const int fd = open(at.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            ok = fd >= 0 && write(fd, "package", 7) == 7;
            if (fd >= 0)
                close(fd);
        } else if (kind == 2) {
            ok = mkdir(at.c_str(), 0755) == 0;
        } else {
            ok = symlink(host(kind == 1 ? QStringLiteral("/mnt/usb1.target") : QStringLiteral("/mnt/usb1.dir")).c_str(), at.c_str()) == 0;
        }
        if (ok && kind == 0 && onStick && packageName(name))
            packages.insert(folder + name);
    }

    const QStringList listed = upgrade::listPackages();
    if (listed.size() > kListed)
        FuzzBoard::fail("more than 100 packages listed");
    QSet<QString> seen;
    for (const QString& p : listed) {
        if (!onStick)
            FuzzBoard::fail("a package listed from a folder off the stick");
        if (!p.startsWith(folder) || p.mid(folder.size()).contains('/'))
            FuzzBoard::fail("a package listed outside the stick's folder");
        if (!packageName(p.mid(folder.size())))
            FuzzBoard::fail("a hidden file or one without a package's name listed");
        struct stat st;
        if (lstat(QFile::encodeName(hostQ(p)).constData(), &st) != 0 || !S_ISREG(st.st_mode))
            FuzzBoard::fail("a listed package is not a regular file");
        if (seen.contains(p))
            FuzzBoard::fail("a package listed twice");
        seen.insert(p);
    }
    if (packages.size() <= kListed ? seen != packages : listed.size() != kListed)
        FuzzBoard::fail("a package of the stick's folder is not listed");
}

// ---- an upgrade package ----

constexpr uint32_t kFlashWatched = 0x20000; // the image area an input's images can reach
constexpr uint8_t kInstalled = 0x5A;

struct FontWrite {
    uint32_t address;
    Bytes bytes;
};
std::vector<FontWrite> fontWrites;

void upgradeRun(const uint8_t* data, size_t size)
{
    QDir(hostQ("/mnt/usb1")).removeRecursively();
    g_usb_grade_path = " ";
    FuzzBoard::writeFile("/mnt/usb1/fuzz.VYR", data, size);
    FuzzBoard::writeFile("/data/app/vyrR58N", QByteArray("old program"));
    FuzzBoard::removeFile("/data/app/vyrR58N2");
    fpgaFlash().store(0, Bytes(kFlashWatched, kInstalled));
    fontWrites.clear();
    g_app_reset_flag = 0;

    QString why;
    if (!upgrade::Engine::instance().start(&why))
        FuzzBoard::fail("the upgrade did not start");
    for (int i = 0; i < 4 && g_usb_grade.load(); ++i)
        fpga->runOnce();
    const upgrade::RunResult r = upgrade::Engine::instance().result();
    if (g_usb_grade.load() != 0 || !r.finished || r.packages != 1)
        FuzzBoard::fail("the run did not end after its four passes");

    // The entries as the package's check reads them (that reader has a target of its own).
    upgrade::Package package;
    std::string error;
    const bool accepted = upgrade::readPackage(host(QStringLiteral("/mnt/usb1/fuzz.VYR")), &package, &error);
    bool fpgaTouched = false;
    for (const upgrade::Item& item : r.items) {
        if (item.entry < 0)
            continue;
        if (!accepted || size_t(item.entry) >= package.entries.size() || package.entries[size_t(item.entry)].type != item.type)
            FuzzBoard::fail("an item names no entry of the package");
        const upgrade::Entry& e = package.entries[size_t(item.entry)];
        if (item.outcome != upgrade::Outcome::Written) {
            fpgaTouched = fpgaTouched || (e.type == upgrade::Fpga0 && item.outcome == upgrade::Outcome::Failed);
            continue;
        }
        if (uint64_t(e.dataOffset) + e.dataLen > size)
            FuzzBoard::fail("a written entry lies outside the package");
        const Bytes bytes(data + e.dataOffset, data + e.dataOffset + e.dataLen);
        switch (e.type) {
        case upgrade::App:
            if (e.dataLen > upgrade::kAppMax || !program_image::refusal(bytes.data(), uint32_t(bytes.size())).empty())
                FuzzBoard::fail("an application written that this box cannot run");
            if (g_app_reset_flag.load()) {
                QFile f(hostQ("/data/app/vyrR58N"));
                if (!f.open(QIODevice::ReadOnly) || f.readAll() != QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size())))
                    FuzzBoard::fail("the program swapped in is not the package's");
            }
            break;
        case upgrade::Fpga0: {
            fpgaTouched = true;
            if (e.dataLen > upgrade::kFpgaImageMax)
                FuzzBoard::fail("an FPGA image written past its flash area");
            if (fpgaFlash().read(0, e.dataLen) != bytes)
                FuzzBoard::fail("the FPGA image in the flash is not the package's");
            // Erased by sectors: the sector after the image's last keeps the installed bytes.
            const uint32_t end = (e.dataLen + 4095) / 4096 * 4096;
            if (end < kFlashWatched && fpgaFlash().read(end, kFlashWatched - end) != Bytes(kFlashWatched - end, kInstalled))
                FuzzBoard::fail("the FPGA image's write touched the flash past its sectors");
            break;
        }
        case upgrade::Font: {
            uint32_t covered = 0;
            for (const FontWrite& w : fontWrites) {
                if (w.address < e.target || uint64_t(w.address) + w.bytes.size() > uint64_t(e.target) + e.dataLen)
                    FuzzBoard::fail("a font write outside the font's bytes");
                if (!std::equal(w.bytes.begin(), w.bytes.end(), bytes.begin() + (w.address - e.target)))
                    FuzzBoard::fail("a font written with other bytes than the package's");
                covered += uint32_t(w.bytes.size());
            }
            if (covered != e.dataLen || fontWrites.empty() || fontWrites.back().address != e.target)
                FuzzBoard::fail("a font not written whole, its header last");
            fontWrites.clear();
            break;
        }
        default:
            FuzzBoard::fail("an entry of a type this box does not write was written");
        }
    }
    if (!fpgaTouched && fpgaFlash().read(0, kFlashWatched) != Bytes(kFlashWatched, kInstalled))
        FuzzBoard::fail("the FPGA flash changed with no FPGA image written");
    g_app_reset_flag = 0;
}

bool setUp()
{
    FuzzBoard::start();
    store = VyrRamPara::pInstance();
    fpga = fpga_manage::instanceWithoutWorker();
    fpga_manage::gpio_write(fpga->rst_fpga0, 16);
    platform::Sim::fpgaChip().watchLines();
    g_fpga_c331_start = 1;
    g_update_status = 1; // the launcher's INI is left alone
    QDir().mkpath(hostQ("/data/app"));
    upgrade::Engine& engine = upgrade::Engine::instance();
    engine.fontWriter = [](uint32_t address, const uint8_t* bytes, uint32_t n) {
        fontWrites.push_back({address, Bytes(bytes, bytes + n)});
        return true;
    };
    engine.fontReload = [] {};
    return true;
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool ready = setUp();
    (void)ready;
    if (size == 0)
        return 0;
    switch (data[0] % 3) {
    case 0:
        paramFile(data + 1, size - 1);
        break;
    case 1:
        stickFolder(data + 1, size - 1);
        break;
    default:
        upgradeRun(data + 1, size - 1);
        break;
    }
    FuzzBoard::settle();
    return 0;
}
