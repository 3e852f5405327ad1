#include "tools/upgrade_package.h"

#include "base/fd_io.h"
#include "base/global.h"
#include "fpga/fpga_flash_layout.h"
#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace upgrade {

const uint8_t kInstalledAppVersion[6] = {24, 10, 20, 11, 2, 1};
static_assert(kFpgaImageMax == (FpgaFlash::kBank50Table & ~0xFFFu), "an image ends before the records' sector");

namespace {
uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }


bool inside(uint64_t offset, uint64_t length, uint64_t size) { return offset <= size && length <= size - offset; }

std::string at(const Entry& e, const char* what) { return "entry " + std::to_string(e.index) + ": " + what; }
}

bool fontSlot(uint8_t coding, uint8_t height, FontSlot* slot)
{
    // 32EN 0x000000-0x00FFFF, 32CN 0x010000-0x40FFFF, 64EN 0x410000-0x44FFFF, 64CN 0x450000 to the end.
    if (coding == 1 && height == 32)
        *slot = {0x000000, 0x010000};
    else if (coding == 0 && height == 32)
        *slot = {0x010000, 0x400000};
    else if (coding == 1 && height == 64)
        *slot = {0x410000, 0x040000};
    else if (coding == 0 && height == 64)
        *slot = {0x450000, 0x800000 - 0x450000};
    else
        return false;
    return true;
}

bool readPackage(const std::string& hostPath, Package* package, std::string* error)
{
    *package = Package();
    int fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        *error = "cannot open";
        return false;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = "not a regular file";
        return false;
    }
    Package p;
    p.size = uint64_t(st.st_size);
    uint8_t h[kHeaderSize];
    if (p.size < kHeaderSize || !readFullyAt(fd, 0, h, sizeof h)) {
        *error = "header cut short";
        return false;
    }
    p.fileType = h[0];
    p.fileVersion = h[1];
    p.publishType = h[2];
    p.controllerType = le16(h + 18);
    p.fileNum = le16(h + 47);
    if (p.fileNum == 0) {
        *error = "no entries";
        return false;
    }
    if (p.fileNum > kMaxEntries) {
        *error = "too many entries";
        return false;
    }
    if (!inside(kHeaderSize, uint64_t(p.fileNum) * kEntrySize, p.size)) {
        *error = "entry table past the end of the file";
        return false;
    }
    for (int k = 0; k < p.fileNum; ++k) {
        uint8_t b[kEntrySize];
        if (!readFullyAt(fd, kHeaderSize + uint64_t(k) * kEntrySize, b, sizeof b)) {
            *error = "entry table cut short";
            return false;
        }
        Entry e;
        e.index = k;
        e.type = b[0];
        e.fileLen = le32(b + 1);
        e.fileOffset = le32(b + 5);
        std::copy(b + 9, b + 15, e.version);
        e.flashAddr = le32(b + 15);
        e.secNum = le16(b + 19);
        // A count that runs the table into the files would read their bytes as entries: no file
        // the box writes may start inside the table.
        const bool written = e.type == App || e.type == Fpga0 || e.type == Fpga1 || e.type == Font;
        if (written && e.fileOffset < kHeaderSize + uint64_t(p.fileNum) * kEntrySize) {
            *error = at(e, "file inside the entry table");
            return false;
        }
        switch (e.type) {
        case App:
            if (e.fileLen == 0 || !inside(e.fileOffset, e.fileLen, p.size)) {
                *error = at(e, "application outside the file");
                return false;
            }
            if (e.fileLen > kAppMax) {
                *error = at(e, "application larger than the staging buffer");
                return false;
            }
            e.dataOffset = e.fileOffset;
            e.dataLen = e.fileLen;
            break;
        case Fpga0:
        case Fpga1: {
            uint8_t ih[kImageHeaderSize];
            if (!inside(e.fileOffset, kImageHeaderSize, p.size) || !readFullyAt(fd, e.fileOffset, ih, sizeof ih)) {
                *error = at(e, "FPGA image header outside the file");
                return false;
            }
            uint32_t len = le32(ih + 31);
            if (!inside(uint64_t(e.fileOffset) + kImageHeaderSize, len, p.size)) {
                *error = at(e, "FPGA image data past the end of the file");
                return false;
            }
            if (len > kFpgaImageMax) {
                *error = at(e, "FPGA image longer than its flash area");
                return false;
            }
            e.dataOffset = e.fileOffset + kImageHeaderSize;
            e.dataLen = len;
            break;
        }
        case Font: {
            uint8_t fh[kFontHeaderSize];
            if (e.fileLen < kFontHeaderSize || !inside(e.fileOffset, e.fileLen, p.size) ||
                !readFullyAt(fd, e.fileOffset, fh, sizeof fh)) {
                *error = at(e, "font outside the file");
                return false;
            }
            FontSlot slot;
            if (!fontSlot(fh[5], fh[18], &slot)) {
                *error = at(e, "unknown font coding or height");
                return false;
            }
            if (e.fileLen > slot.size) {
                *error = at(e, "font larger than its slot");
                return false;
            }
            e.dataOffset = e.fileOffset;
            e.dataLen = e.fileLen;
            e.target = slot.address;
            break;
        }
        default:
            break; // not for this box: ignored
        }
        p.entries.push_back(e);
    }
    *package = std::move(p);
    return true;
}

bool isPackageName(const QString& name)
{
    int dot = name.lastIndexOf('.');
    if (dot < 0)
        return false;
    const QString suffix = name.mid(dot + 1);
    return suffix == QLatin1String("VYR") || suffix == QLatin1String("VYRZK");
}

QString stickFolder()
{
    const QString sub = g_usb_grade_path.get();
    return sub == QLatin1String(" ") ? QStringLiteral("/mnt/usb1/") : QStringLiteral("/mnt/usb1/") + sub;
}

QStringList listPackages()
{
    QStringList out;
    QString folder = stickFolder();
    if (folder.contains(QLatin1String("..")))
        return out; // the setting may not lead off the stick
    if (!folder.endsWith('/'))
        folder += '/';
    const std::string host = platform::Paths::resolve(folder.toStdString());
    DIR* dir = ::opendir(host.c_str());
    if (!dir)
        return out;
    while (struct dirent* d = ::readdir(dir)) {
        const QString name = QFile::decodeName(d->d_name);
        if (name.startsWith('.') || !isPackageName(name))
            continue;
        struct stat st;
        if (::lstat((host + d->d_name).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue; // links, folders, devices
        out.append(folder + name);
        if (out.size() >= kMaxListed)
            break;
    }
    ::closedir(dir);
    return out;
}

}
