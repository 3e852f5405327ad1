#pragma once
#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>
#include <vector>

// Upgrade packages on a USB stick: a 49-byte header, a table of 21-byte entries, the embedded
// files. Everything in a package comes from outside the box, so a package is read and checked
// whole (every offset, length, type and font slot) before any of it is written.
namespace upgrade {

constexpr uint32_t kHeaderSize = 49;
constexpr uint32_t kEntrySize = 21;
constexpr uint32_t kImageHeaderSize = 64;       // FPGA image header before its data
constexpr uint32_t kFontHeaderSize = 35;
constexpr uint16_t kControllerType = 0x8B52;    // this controller; needed by types 10, 7, 8
constexpr uint8_t kPublishSkipInstalled = 0x80;
constexpr uint32_t kAppMax = 0x500000;          // the staging buffer
// Longest FPGA image: the data records start at 0x6C0001 (the bank-50 table) and erases go by
// 4 KiB sectors, so an image may fill the flash up to the records' sector, 0x6C0000 bytes.
constexpr uint32_t kFpgaImageMax = 0x6C0000;
constexpr int kMaxListed = 100;                 // packages one run takes
constexpr uint16_t kMaxEntries = 16;            // a real package holds at most seven (application, two FPGA images, four fonts)

enum EntryType : uint8_t { App = 10, Fpga0 = 7, Fpga1 = 8, Font = 13 };

// The program's own version: year, month, date, hard, soft, fuc.
extern const uint8_t kInstalledAppVersion[6];

struct FontSlot {
    uint32_t address, size;
};
// Flash slot of a font by its coding (0 Chinese, 1 English) and height; false for anything else.
bool fontSlot(uint8_t coding, uint8_t height, FontSlot* slot);

struct Entry {
    int index = 0;
    uint8_t type = 0;
    uint32_t fileLen = 0, fileOffset = 0;
    uint8_t version[6] = {};
    uint32_t flashAddr = 0;
    uint16_t secNum = 0;
    // Filled by the check for the types this box writes:
    uint32_t dataOffset = 0, dataLen = 0; // bytes to write (FPGA: after the image header)
    uint32_t target = 0;                  // flash address (font slot, 0 for FPGA images)
};

struct Package {
    uint64_t size = 0;
    uint8_t fileType = 0, fileVersion = 0, publishType = 0;
    uint16_t controllerType = 0;
    uint16_t fileNum = 0;
    std::vector<Entry> entries;
};

// Reads the package at a path on this machine and checks it. On a refusal *error holds the reason
// and nothing of the package may be used.
bool readPackage(const std::string& hostPath, Package* package, std::string* error);

// "x.VYR" or "x.VYRZK": the text after the last dot, case-sensitive.
bool isPackageName(const QString& name);
// The stick folder ("/mnt/usb1/" or "/mnt/usb1/<g_usb_grade_path>"), a program path.
QString stickFolder();
// Program paths of the packages directly in the stick folder: regular files only, no links, no
// hidden names, in the order the directory yields them, at most kMaxListed.
QStringList listPackages();

}
