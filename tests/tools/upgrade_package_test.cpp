// The package check at the edges of its limits: each font slot's size, the FPGA image's data area
// and the entry count, on packages from the generator.
#include "tools/upgrade_package.h"
#include "platform/paths.h"
#include "test_root.h"
#include "upgrade_package_gen.h"

#include <gtest/gtest.h>

namespace {

bool check(const PackageGen::Package& p, upgrade::Package* out, std::string* error)
{
    EXPECT_TRUE(TestRoot::writeFile("/mnt/usb1/edge.VYR", PackageGen::build(p)));
    return upgrade::readPackage(platform::Paths::resolve("/mnt/usb1/edge.VYR"), out, error);
}

PackageGen::Entry entryOf(uint8_t type, std::vector<uint8_t> file)
{
    PackageGen::Entry e;
    e.type = type;
    e.file = std::move(file);
    return e;
}

}

// Slots of the scaler's flash: 32EN 0x000000 (64 KiB), 32CN 0x010000 (4 MiB), 64EN 0x410000
// (256 KiB), 64CN 0x450000 (to the 8 MiB end); a font of its slot's size fits, one byte more does not.
TEST(UpgradePackage, FontsFitTheirSlotToTheByte)
{
    const struct {
        uint8_t coding, height;
        uint32_t address, size;
    } fontSlots[] = {{1, 32, 0x000000, 0x010000}, {0, 32, 0x010000, 0x400000}, {1, 64, 0x410000, 0x040000}, {0, 64, 0x450000, 0x3B0000}};
    for (const auto& s : fontSlots) {
        SCOPED_TRACE(testing::Message() << int(s.coding) << "/" << int(s.height));
        for (const uint32_t size : {s.size, s.size + 1}) {
            PackageGen::Package p;
            p.entries = {entryOf(13, PackageGen::font(s.coding, s.height, size))};
            upgrade::Package out;
            std::string error;
            const bool ok = check(p, &out, &error);
            EXPECT_EQ(ok, size == s.size) << size << ": " << error;
            if (ok) {
                ASSERT_EQ(out.entries.size(), 1u);
                EXPECT_EQ(out.entries[0].target, s.address);
                EXPECT_EQ(out.entries[0].dataLen, size);
            } else {
                EXPECT_EQ(error, "entry 0: font larger than its slot");
            }
        }
    }
}

// FPGA 0's data records start at 0x6C0001 (the bank-50 table) in the sector at 0x6C0000: an image
// of 0x6C0000 bytes ends at 0x6BFFFF and fits, one byte more would erase that sector. With the
// whole image in the file, only the length decides.
TEST(UpgradePackage, FpgaImageEndsBeforeTheDataRecords)
{
    const struct {
        uint32_t length;
        const char* error; // empty: accepted
    } rows[] = {{0x6BFFFF, ""}, {0x6C0000, ""}, {0x6C0001, "entry 0: FPGA image longer than its flash area"}};
    for (const auto& row : rows) {
        PackageGen::Package p;
        p.entries = {entryOf(7, PackageGen::fpgaImage(std::vector<uint8_t>(row.length, 0x3C)))};
        upgrade::Package out;
        std::string error;
        EXPECT_EQ(check(p, &out, &error), !*row.error) << row.length;
        EXPECT_EQ(error, row.error);
    }
}

TEST(UpgradePackage, EntryCountUpToSixteen)
{
    for (const int n : {1, 16, 17}) {
        PackageGen::Package p;
        p.entries.assign(size_t(n), entryOf(99, {}));
        upgrade::Package out;
        std::string error;
        EXPECT_EQ(check(p, &out, &error), n <= 16) << n;
        EXPECT_EQ(error, n <= 16 ? "" : "too many entries") << n;
    }
}
