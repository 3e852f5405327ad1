// The USB upgrade run on the simulated board: packages from the generator on a stick folder,
// observed through the FPGA flash model, the files under the root and the shell log.
#include "base/global.h"
#include "base/utils.h"
#include "comm/file_transfer.h"
#include "fpga/fpga_manage.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/devices/fpga_flash.h"
#include "tools/upgrade_engine.h"
#include "tools/upgrade_notice.h"
#include "tools/firmwareupdate.h"
#include "ui/mainwindow.h"
#include "scaler/c331_manage.h"
#include "platform/sim/devices/c331_chip.h"
#include "managers.h"
#include "program.h"
#include "test_root.h"
#include "sample_program.h"
#include "upgrade_package_gen.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <map>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

using platform::Sim::FpgaFlash;
using platform::Sim::fpgaChip;
using platform::Sim::fpgaFlash;
using upgrade::Outcome;

namespace {
std::vector<uint8_t> bytesOf(const QByteArray& a) { return std::vector<uint8_t>(a.begin(), a.end()); }

PackageGen::Entry entry(uint8_t type, std::vector<uint8_t> file)
{
    PackageGen::Entry e;
    e.type = type;
    e.file = std::move(file);
    return e;
}
}

class UpgradeEngine : public ::testing::Test {
protected:
    void SetUp() override
    {
        store = VyrRamPara::pInstance();
        fpga = fpga_manage::instanceWithoutWorker();
        fpga_manage::gpio_write(fpga->rst_fpga0, 16);
        fpgaChip().watchLines();
        fpga_manage::clock = [] { return QDateTime(QDate(2026, 3, 4), QTime(9, 5, 30)); };
        g_fpga_c331_start = 1;
        g_app_reset_flag = 0;
        g_update_status = 1;
        QDir().mkpath(QString::fromStdString(TestRoot::path("/mnt/usb1")));
        QDir().mkpath(QString::fromStdString(TestRoot::path("/data/app")));
        TestRoot::writeFile("/data/app/vyrR58N", QByteArray("old program"));
        fpgaFlash().store(0, std::vector<uint8_t>(0x12000, 0x5A)); // the installed image
        fpgaFlash().clearLog();
    }
    void TearDown() override { EXPECT_TRUE(fpgaFlash().violations().empty()); }

    void put(const std::string& name, const PackageGen::Package& p)
    {
        ASSERT_TRUE(TestRoot::writeFile("/mnt/usb1/" + name, PackageGen::build(p)));
    }
    // A whole run through the worker's passes, as the page starts it.
    upgrade::RunResult run()
    {
        QString why;
        EXPECT_TRUE(upgrade::Engine::instance().start(&why)) << why.toStdString();
        for (int i = 0; i < 4 && g_usb_grade.load(); ++i)
            fpga->runOnce();
        EXPECT_EQ(g_usb_grade.load(), 0) << "the run ends after four passes";
        return upgrade::Engine::instance().result();
    }
    // A whole run in a child process, for a test to kill it mid-way as a power cut would.
    pid_t runInChild()
    {
        const pid_t child = ::fork();
        if (child == 0) {
            QString why;
            upgrade::Engine::instance().start(&why);
            for (int i = 0; i < 4; ++i)
                fpga->usb_upgrade_manage_deal(nullptr);
            ::_exit(0);
        }
        return child;
    }
    int flashWrites() const { return int(fpgaFlash().logOf(0x02).size()) + int(fpgaFlash().logOf(0x20).size()) + int(fpgaFlash().logOf(0x52).size()) + int(fpgaFlash().logOf(0xD8).size()); }

    VyrRamPara* store = nullptr;
    fpga_manage* fpga = nullptr;
};

TEST_F(UpgradeEngine, FpgaImageIsErasedInBlocksAndSectorsWrittenReadBackAndFpgaReset)
{
    const std::vector<uint8_t> data = PackageGen::pattern(40960, 7);
    PackageGen::Package p;
    p.entries.push_back(entry(7, PackageGen::fpgaImage(data)));
    put("a.VYR", p);

    const upgrade::RunResult r = run();
    ASSERT_EQ(r.items.size(), 1u);
    EXPECT_EQ(r.items[0].outcome, Outcome::Written) << r.items[0].reason.toStdString();
    EXPECT_EQ(fpgaFlash().read(0, data.size()), data);
    EXPECT_EQ(fpgaFlash().read(40960, 16), std::vector<uint8_t>(16, 0x5A)) << "nothing past the last sector";
    // One 32 KiB block at sector 0, then 4 KiB sectors 8 and 9.
    std::vector<std::pair<uint8_t, uint32_t>> erases;
    for (const FpgaFlash::Op& op : fpgaFlash().log())
        if (op.accepted && (op.opcode == 0x20 || op.opcode == 0x52 || op.opcode == 0xD8))
            erases.push_back({op.opcode, op.address});
    const std::vector<std::pair<uint8_t, uint32_t>> want = {{0x52, 0}, {0x20, 0x8000}, {0x20, 0x9000}};
    EXPECT_EQ(erases, want);
    EXPECT_EQ(fpga->rst_pending[0].load(), 1) << "FPGA 0 reloads its configuration";
    EXPECT_EQ(fpga_manage::gpio_read(fpga->rst_fpga0), 0);
    EXPECT_TRUE(r.finished);
    EXPECT_EQ(r.time, QStringLiteral("9:5:30    9:5:30"));
}

TEST_F(UpgradeEngine, FpgaImageSizesWriteExactlyTheirBytes)
{
    for (uint32_t size : {32768u, 1u, 65537u}) {
        SCOPED_TRACE(size);
        fpgaFlash().store(0, std::vector<uint8_t>(0x12000, 0x5A));
        const std::vector<uint8_t> data = PackageGen::pattern(size, size);
        PackageGen::Package p;
        p.entries.push_back(entry(7, PackageGen::fpgaImage(data)));
        put("a.VYR", p);
        const upgrade::RunResult r = run();
        ASSERT_EQ(r.items.size(), 1u);
        EXPECT_EQ(r.items[0].outcome, Outcome::Written);
        EXPECT_EQ(fpgaFlash().read(0, size), data);
        const uint32_t end = (size + 4095) / 4096 * 4096; // the last sector is erased whole
        EXPECT_EQ(fpgaFlash().read(size, end - size), std::vector<uint8_t>(end - size, 0xFF));
        EXPECT_EQ(fpgaFlash().read(end, 16), std::vector<uint8_t>(16, 0x5A));
    }
}

TEST_F(UpgradeEngine, EmptyFpgaImageWritesNothingAndLeavesTheFpgaRunning)
{
    PackageGen::Package p;
    p.entries.push_back(entry(7, PackageGen::fpgaImage({})));
    put("a.VYR", p);
    const upgrade::RunResult r = run();
    ASSERT_EQ(r.items.size(), 1u);
    EXPECT_EQ(r.items[0].outcome, Outcome::Skipped);
    EXPECT_EQ(flashWrites(), 0);
    EXPECT_EQ(fpga->rst_pending[0].load(), 0);
}

// Every damage is found before anything is written: flash, program and INI stay as they were.
TEST_F(UpgradeEngine, DamagedPackagesChangeNothing)
{
    struct Case {
        const char* name;
        std::function<PackageGen::Package()> make;
    };
    auto app = [](size_t n) { return entry(10, PackageGen::pattern(n, 3)); };
    const std::vector<Case> cases = {
        {"cut file", [&] { PackageGen::Package p; p.entries = {app(3000)}; p.cutTo = 2000; return p; }},
        {"header only ten bytes", [&] { PackageGen::Package p; p.entries = {app(10)}; p.cutTo = 10; return p; }},
        {"entry count past the end", [&] { PackageGen::Package p; p.entries = {app(100)}; p.fileNumOverride = 40; return p; }},
        {"entry count running the table into the first file",
         [&] { PackageGen::Package p; p.entries = {entry(7, PackageGen::fpgaImage(PackageGen::pattern(4096, 1)))}; p.fileNumOverride = 2; return p; }},
        {"offset past the end", [&] { PackageGen::Package p; p.entries = {app(100)}; p.entries[0].offsetOverride = 1 << 20; return p; }},
        {"length past the end", [&] { PackageGen::Package p; p.entries = {app(100)}; p.entries[0].lenOverride = 101 + 49 + 21; return p; }},
        {"offset + length wraps", [&] { PackageGen::Package p; p.entries = {app(100)}; p.entries[0].offsetOverride = 0xFFFFFFF0u; return p; }},
        {"application over 5 MiB", [&] { PackageGen::Package p; p.entries = {app(0x500001)}; return p; }},
        {"application of length 0", [&] { PackageGen::Package p; p.entries = {app(0)}; return p; }},
        {"FPGA length past the package", [&] { PackageGen::Package p; p.entries = {entry(7, PackageGen::fpgaImage(PackageGen::pattern(4096, 1), 8192))}; return p; }},
        {"FPGA image over the data area", [&] { PackageGen::Package p; p.entries = {entry(7, PackageGen::fpgaImage(PackageGen::pattern(16, 1), 0x6C0001))}; return p; }},
        {"font height 48", [&] { PackageGen::Package p; p.entries = {app(64), entry(13, PackageGen::font(0, 48, 4096))}; return p; }},
        {"font coding 2", [&] { PackageGen::Package p; p.entries = {app(64), entry(13, PackageGen::font(2, 32, 4096))}; return p; }},
        {"font larger than its slot", [&] { PackageGen::Package p; p.entries = {app(64), entry(13, PackageGen::font(1, 32, 0x10001))}; return p; }},
        {"FPGA 1 image past the end", [&] { PackageGen::Package p; p.entries = {app(64), entry(8, PackageGen::fpgaImage(PackageGen::pattern(64, 2), 4096))}; return p; }},
        {"seventeen entries", [&] { PackageGen::Package p; p.entries.assign(17, entry(99, {})); return p; }},
        {"good entry then a cut one", [&] { PackageGen::Package p; p.entries = {entry(7, PackageGen::fpgaImage(PackageGen::pattern(4096, 9))), app(5000)}; p.cutTo = 49 + 42 + 64 + 4096 + 100; return p; }},
    };
    const std::vector<uint8_t> flashBefore = fpgaFlash().read(0, 0x12000);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        put("bad.VYR", c.make());
        const upgrade::RunResult r = run();
        EXPECT_TRUE(r.anyFailed());
        EXPECT_EQ(r.count(Outcome::Written), 0);
        EXPECT_EQ(fpgaFlash().read(0, 0x12000), flashBefore);
        EXPECT_EQ(flashWrites(), 0);
        EXPECT_EQ(TestRoot::readFile("/data/app/vyrR58N"), QByteArray("old program"));
        EXPECT_FALSE(TestRoot::exists("/data/app/vyrR58N2"));
        EXPECT_EQ(g_app_reset_flag.load(), 0);
        EXPECT_EQ(fpga->rst_pending[0].load(), 0);
    }
}

TEST_F(UpgradeEngine, ApplicationIsStagedComparedSwappedAndTheRestartRequested)
{
    g_update_status = 0;
    const std::vector<uint8_t> program = sampleProgram();
    ASSERT_FALSE(program.empty());
    PackageGen::Package p;
    p.entries.push_back(entry(10, program));
    put("new.VYRZK", p);
    TestRoot::writeFile("/data/app/vyrR58N2", QByteArray("stale file of an earlier run"));
    // A check start that a cut run left running still executes the run's file.
    const std::string temp = TestRoot::path("/data/app/vyrR58N2.usb.atomic-tmp");
    ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), QString::fromStdString(temp)));
    ASSERT_EQ(::chmod(temp.c_str(), 0755), 0);
    const pid_t leftRunning = ::fork();
    if (leftRunning == 0) {
        ::execl(temp.c_str(), "sleep", "60", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const QString exe = QStringLiteral("/proc/%1/exe").arg(leftRunning);
    ASSERT_TRUE(waitFor([&] { return QFileInfo(exe).symLinkTarget() == QString::fromStdString(temp); }, 5000));

    G_timeTicks = 1234;
    const uint32_t staged = file_transfer::stagingChanges();
    const upgrade::RunResult r = run();
    ::kill(leftRunning, SIGKILL);
    ::waitpid(leftRunning, nullptr, 0);
    ASSERT_EQ(r.items.size(), 1u);
    EXPECT_EQ(r.items[0].outcome, Outcome::Written) << r.items[0].reason.toStdString();
    EXPECT_NE(file_transfer::stagingChanges(), staged) << "a cloud certificate staged meanwhile must not be stored";
    EXPECT_EQ(bytesOf(TestRoot::readFile("/data/app/vyrR58N")), program);
    EXPECT_FALSE(TestRoot::exists("/data/app/vyrR58N2"));
    EXPECT_FALSE(TestRoot::exists("/data/app/vyrR58N2.usb.atomic-tmp"));
    struct stat st;
    ASSERT_EQ(::stat(TestRoot::path("/data/app/vyrR58N").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u) << "never world-writable";
    EXPECT_TRUE(TestRoot::shellLog().contains(QStringLiteral("mv /data/app/vyrR58N2  /data/app/vyrR58N")));
    const QByteArray ini = TestRoot::readFile("/data/configs/led_load_config.ini");
    EXPECT_TRUE(ini.contains("[app-1]"));
    EXPECT_TRUE(ini.contains("app_name=vyrR58N"));
    EXPECT_TRUE(ini.contains("/data/app/vyrR58N -platform linuxfb"));
    EXPECT_EQ(g_app_reset_flag.load(), 1);
    EXPECT_EQ(G_reboot_tickTicks.load(), 1234u);
}

// A PC tool's application upload that ends while the run writes a later entry lands where the
// launcher's next program goes: the swap still installs the program the run checked.
TEST_F(UpgradeEngine, AToolsUploadEndingMidRunIsNotWhatTheSwapInstalls)
{
    g_update_status = 0;
    const std::vector<uint8_t> program = sampleProgram();
    const std::vector<uint8_t> damaged = withEntryZeroed(program);
    ASSERT_FALSE(damaged.empty());
    store->image[regimage::kFontPresence] = 0x01;
    bool uploaded = false;
    upgrade::Engine::instance().fontWriter = [&](uint32_t, const uint8_t*, uint32_t) {
        if (!std::exchange(uploaded, true)) {
            QMutexLocker lock(&Utils::_file_deal_mutex); // as the upload's end holds it
            EXPECT_TRUE(file_transfer::writeVerified("/data/app/vyrR58N2", damaged.data(), uint32_t(damaged.size()), 0755));
        }
        return true;
    };
    upgrade::Engine::instance().fontReload = [] {};
    PackageGen::Package p;
    p.entries = {entry(10, program), entry(13, PackageGen::font(1, 32, 4096))};
    put("new.VYR", p);
    const upgrade::RunResult r = run();
    upgrade::Engine::instance().fontWriter = nullptr;
    upgrade::Engine::instance().fontReload = nullptr;
    ASSERT_TRUE(uploaded);
    EXPECT_EQ(r.count(Outcome::Written), 2);
    const std::vector<uint8_t> installed = bytesOf(TestRoot::readFile("/data/app/vyrR58N"));
    EXPECT_TRUE(installed == program) << (installed == damaged ? "the tool's damaged upload was installed" : "neither");
    EXPECT_EQ(g_app_reset_flag.load(), 1);
}

TEST_F(UpgradeEngine, ApplicationWithARestartPendingIsStagedButNotSwapped)
{
    g_app_reset_flag = 1;
    PackageGen::Package p;
    p.entries.push_back(entry(10, sampleProgram()));
    p.entries.push_back(entry(7, PackageGen::fpgaImage(PackageGen::pattern(100, 2))));
    put("a.VYR", p);
    const upgrade::RunResult r = run();
    EXPECT_EQ(r.count(Outcome::Written), 2);
    EXPECT_TRUE(TestRoot::exists("/data/app/vyrR58N2"));
    EXPECT_EQ(TestRoot::readFile("/data/app/vyrR58N"), QByteArray("old program"));
    EXPECT_FALSE(TestRoot::shellLog().join('\n').contains("mv "));
    EXPECT_EQ(fpga->rst_pending[0].load(), 0) << "images take effect at the pending restart";
}

TEST_F(UpgradeEngine, SkipRulesFollowPublishTypeControllerAndInstalledVersions)
{
    // Installed FPGA 0: registers 31, 30, 29 BCD 0x24 0x10 0x20, register 28 = 5.
    fpga->MCU_REG_func[0][31] = 0x24;
    fpga->MCU_REG_func[0][30] = 0x10;
    fpga->MCU_REG_func[0][29] = 0x20;
    fpga->MCU_REG_func[0][28] = 5;
    auto fpgaEntry = [](std::array<uint8_t, 6> v) {
        PackageGen::Entry e = entry(7, PackageGen::fpgaImage(PackageGen::pattern(64, 4)));
        std::copy(v.begin(), v.end(), e.version);
        return e;
    };
    auto appEntry = [](std::array<uint8_t, 6> v) {
        PackageGen::Entry e = entry(10, sampleProgram());
        std::copy(v.begin(), v.end(), e.version);
        return e;
    };
    struct Case {
        const char* name;
        uint8_t publish;
        uint16_t controller;
        PackageGen::Entry e;
        Outcome want;
    };
    g_app_reset_flag = 1; // no swap between the cases
    const std::vector<Case> cases = {
        {"FPGA installed, publish 0x80", 0x80, 0x8B52, fpgaEntry({0x18, 0x0A, 0x14, 9, 9, 5}), Outcome::Skipped},
        {"FPGA installed, other publish", 0x00, 0x8B52, fpgaEntry({0x18, 0x0A, 0x14, 9, 9, 5}), Outcome::Written},
        {"FPGA function byte differs", 0x80, 0x8B52, fpgaEntry({0x18, 0x0A, 0x14, 0, 0, 6}), Outcome::Written},
        {"FPGA raw BCD bytes are not the version", 0x80, 0x8B52, fpgaEntry({0x24, 0x10, 0x20, 0, 0, 5}), Outcome::Written},
        {"FPGA other controller", 0x00, 0x1234, fpgaEntry({1, 1, 1, 1, 1, 1}), Outcome::Skipped},
        {"application installed", 0x80, 0x8B52, appEntry({24, 10, 20, 11, 2, 1}), Outcome::Skipped},
        {"application installed, other publish", 0x00, 0x8B52, appEntry({24, 10, 20, 11, 2, 1}), Outcome::Written},
        {"application newer", 0x80, 0x8B52, appEntry({24, 10, 20, 11, 2, 2}), Outcome::Written},
        {"application other controller", 0x00, 0x8B53, appEntry({1, 1, 1, 1, 1, 1}), Outcome::Skipped},
        {"unknown entry type", 0x00, 0x8B52, entry(99, PackageGen::pattern(10, 1)), Outcome::Skipped},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PackageGen::Package p;
        p.publishType = c.publish;
        p.controllerType = c.controller;
        p.entries = {c.e};
        put("a.VYR", p);
        const upgrade::RunResult r = run();
        ASSERT_EQ(r.items.size(), 1u);
        EXPECT_EQ(r.items[0].outcome, c.want) << r.items[0].reason.toStdString();
    }
}

TEST_F(UpgradeEngine, AFirstPackageWrittenAndASecondSkippedStillResetsTheFpga)
{
    fpga->MCU_REG_func[0][31] = 0x24;
    fpga->MCU_REG_func[0][30] = 0x10;
    fpga->MCU_REG_func[0][29] = 0x20;
    fpga->MCU_REG_func[0][28] = 5;
    PackageGen::Package written, skipped;
    written.entries = {entry(7, PackageGen::fpgaImage(PackageGen::pattern(5000, 8)))};
    skipped.publishType = 0x80;
    skipped.entries = {entry(7, PackageGen::fpgaImage(PackageGen::pattern(5000, 9)))};
    const uint8_t installed[6] = {0x18, 0x0A, 0x14, 0, 0, 5};
    std::copy(installed, installed + 6, skipped.entries[0].version);
    put("a.VYR", written);
    put("b.VYR", skipped);
    const upgrade::RunResult r = run();
    EXPECT_EQ(r.count(Outcome::Written), 1);
    EXPECT_EQ(r.count(Outcome::Skipped), 1);
    EXPECT_EQ(fpga->rst_pending[0].load(), 1);
}

TEST_F(UpgradeEngine, FailedFlashWriteIsReportedAndTheFpgaIsNotResetIntoIt)
{
    fpgaFlash().setStuckBusy(true);
    PackageGen::Package p;
    p.entries = {entry(7, PackageGen::fpgaImage(PackageGen::pattern(8192, 5)))};
    put("a.VYR", p);
    const upgrade::RunResult r = run();
    fpgaFlash().setStuckBusy(false);
    ASSERT_EQ(r.items.size(), 1u);
    EXPECT_EQ(r.items[0].outcome, Outcome::Failed);
    EXPECT_EQ(fpga->rst_pending[0].load(), 0);
    EXPECT_EQ(fpga_manage::gpio_read(fpga->rst_fpga0), 16);
}

TEST_F(UpgradeEngine, FontsWithoutTheScalerManagerFailVisiblyAndAreSkippedWhenAllPresent)
{
    PackageGen::Package p;
    p.entries = {entry(13, PackageGen::font(1, 64, 20000))};
    put("f.VYR", p);
    store->image[regimage::kFontPresence] = 0x0F;
    upgrade::RunResult r = run();
    ASSERT_EQ(r.items.size(), 1u);
    EXPECT_EQ(r.items[0].outcome, Outcome::Failed);
    store->image[regimage::kFontPresence] = 0x3F;
    r = run();
    ASSERT_EQ(r.items.size(), 1u);
    EXPECT_EQ(r.items[0].outcome, Outcome::Skipped);
}

// Chunks of 16 KiB behind the header's 256-byte page, then that page: the header goes in last.
TEST_F(UpgradeEngine, FontsGoToTheirSlotInChunksThroughTheWriter)
{
    std::vector<std::pair<uint32_t, uint32_t>> writes;
    upgrade::Engine::instance().fontWriter = [&](uint32_t a, const uint8_t*, uint32_t n) {
        writes.push_back({a, n});
        return true;
    };
    int reloads = 0;
    upgrade::Engine::instance().fontReload = [&] { ++reloads; };
    store->image[regimage::kFontPresence] = 0x01; // fonts missing: they are taken
    struct Case {
        uint8_t coding, height;
        uint32_t address;
    };
    for (const Case& c : {Case{1, 32, 0x000000}, Case{0, 32, 0x010000}, Case{1, 64, 0x410000}, Case{0, 64, 0x450000}}) {
        SCOPED_TRACE(c.address);
        writes.clear();
        PackageGen::Package p;
        p.entries = {entry(13, PackageGen::font(c.coding, c.height, 256 + 16384 + 100))};
        put("f.VYR", p);
        const upgrade::RunResult r = run();
        EXPECT_EQ(r.count(Outcome::Written), 1);
        const std::vector<std::pair<uint32_t, uint32_t>> want = {
            {c.address + 256, 16384}, {c.address + 256 + 16384, 100}, {c.address, 256}};
        EXPECT_EQ(writes, want);
    }
    EXPECT_EQ(reloads, 4);
    upgrade::Engine::instance().fontWriter = nullptr;
    upgrade::Engine::instance().fontReload = nullptr;
}

TEST_F(UpgradeEngine, NoPackageStillEndsWithTimesAndCode104)
{
    std::vector<int> codes;
    QObject receiver; // the connection ends with the test
    QObject::connect(store, &VyrRamPara::sig_update_para, &receiver, [&](int c) { codes.push_back(c); });
    const upgrade::RunResult r = run();
    EXPECT_EQ(r.packages, 0);
    EXPECT_TRUE(r.items.empty());
    EXPECT_EQ(r.time, QStringLiteral("9:5:30    9:5:30"));
    EXPECT_NE(std::find(codes.begin(), codes.end(), 104), codes.end());
    EXPECT_EQ(g_update_flag.load(), 0);
}

TEST_F(UpgradeEngine, StartIsRefusedWhileARunOrACardJobHoldsTheStepByte)
{
    QString why;
    g_send_para[0] = 2;
    EXPECT_FALSE(upgrade::Engine::instance().start(&why));
    EXPECT_EQ(g_usb_grade.load(), 0);
    g_send_para[0] = 0;
    ASSERT_TRUE(upgrade::Engine::instance().start(&why));
    EXPECT_FALSE(upgrade::Engine::instance().start(&why)) << "a second start while the first runs";
    for (int i = 0; i < 4; ++i)
        fpga->runOnce();
    EXPECT_EQ(g_usb_grade.load(), 0);
}

TEST_F(UpgradeEngine, StickListingTakesOnlyPackagesDirectlyInTheFolder)
{
    PackageGen::Package p;
    p.entries = {entry(99, {1})};
    const QByteArray bytes = PackageGen::build(p);
    for (const char* name : {"x.vyr", "x.VYR.bak", "x.VYRZK", ".a.VYR", "y.VYR", "VYR"})
        TestRoot::writeFile(std::string("/mnt/usb1/") + name, bytes);
    TestRoot::writeFile("/mnt/usb1/sub/z.VYR", bytes);
    ASSERT_EQ(::symlink(TestRoot::path("/mnt/usb1/y.VYR").c_str(), TestRoot::path("/mnt/usb1/link.VYR").c_str()), 0);
    QStringList got = upgrade::listPackages();
    got.sort();
    EXPECT_EQ(got, QStringList({"/mnt/usb1/x.VYRZK", "/mnt/usb1/y.VYR"}));

    for (int i = 0; i < 103; ++i)
        TestRoot::writeFile("/mnt/usb1/m" + std::to_string(i) + ".VYR", bytes);
    EXPECT_EQ(upgrade::listPackages().size(), 100) << "one run takes at most 100 packages";
}

// A power cut or a kill at any moment of a run leaves the old program or the new one, whole.
TEST_F(UpgradeEngine, KilledAtAnyPointLeavesTheOldOrTheNewProgramWhole)
{
    g_update_status = 0;
    const std::vector<uint8_t> program = sampleProgram(4 << 20);
    ASSERT_EQ(program.size(), size_t(4 << 20));
    const QByteArray old = QByteArray(3 << 20, 'o');
    PackageGen::Package p;
    p.entries.push_back(entry(10, program));
    put("new.VYR", p);
    int sawOld = 0, sawNew = 0;
    // The last run is not killed: it ends by itself, however slow the machine.
    for (int delayUs : {0, 200, 1000, 3000, 6000, 10000, 20000, 40000, 80000, 200000, -1}) {
        SCOPED_TRACE(delayUs);
        TestRoot::writeFile("/data/app/vyrR58N", old);
        ::unlink(TestRoot::path("/data/app/vyrR58N2").c_str());
        const pid_t child = runInChild();
        ASSERT_GE(child, 0);
        if (delayUs >= 0) {
            ::usleep(useconds_t(delayUs));
            ::kill(child, SIGKILL);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        const QByteArray now = TestRoot::readFile("/data/app/vyrR58N");
        const bool isOld = now == old, isNew = bytesOf(now) == program;
        EXPECT_TRUE(isOld || isNew) << "program of " << now.size() << " bytes";
        sawOld += isOld;
        sawNew += isNew;
        // The launcher INI, when present, is whole.
        if (TestRoot::exists("/data/configs/led_load_config.ini")) {
            const QByteArray ini = TestRoot::readFile("/data/configs/led_load_config.ini");
            EXPECT_TRUE(ini.contains("app_name=vyrR58N")) << ini.toStdString();
        }
    }
    EXPECT_GT(sawOld, 0) << "some kills came before the swap";
    EXPECT_GT(sawNew, 0) << "the run left alone completed";
}

// Through the scaler manager: the slot erased, the font written and read back, the fonts reloaded.
TEST_F(UpgradeEngine, FontGoesIntoTheScalerFlashAndThePresenceBitsFollow)
{
    c331_manage* scaler = startManagersWithoutWorkers().scaler;
    ASSERT_TRUE(scaler);
    auto& chip = platform::Sim::c331Chip();
    chip.flashWrite(0x410000, std::vector<uint8_t>(0x9000, 0x00)); // an old 64EN font and more
    chip.flashWrite(0x410000, {0});                                  // header byte 0 not 'P': missing
    store->image[regimage::kFontPresence] = 0x2B;                    // all but 64EN
    const std::vector<uint8_t> font = PackageGen::font(1, 64, 20000);
    PackageGen::Package p;
    p.entries = {entry(13, font)};
    put("f.VYR", p);
    const upgrade::RunResult r = run();
    ASSERT_EQ(r.items.size(), 1u);
    EXPECT_EQ(r.items[0].outcome, Outcome::Written) << r.items[0].reason.toStdString();
    EXPECT_EQ(chip.flashRead(0x410000, font.size()), font);
    EXPECT_EQ(chip.flashRead(0x410000 + 20000, 0x5000 - 20000), std::vector<uint8_t>(0x5000 - 20000, 0xFF))
        << "the last sector erased whole";
    EXPECT_EQ(chip.flashRead(0x415000, 16), std::vector<uint8_t>(16, 0x00)) << "nothing past it";
    EXPECT_EQ(store->image[regimage::kFontPresence] & 0x14, 0x14) << "64EN present after the reload";
    const std::vector<std::string> calls = scaler->call_log.calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "update_font()"), 1);
}

// A chunk that does not go in is erased and written again; one that still fails after three tries
// is reported as an incomplete image, and the application of the same run is not swapped in.
TEST_F(UpgradeEngine, FailedFpgaChunkIsRetriedAndAnIncompleteImageStopsTheSwap)
{
    g_update_status = 0;
    const struct {
        int failures;
        Outcome fpga;
        int chunkErases;  // erases of the 32 KiB block at 0x8000
        bool swapped;
    } rows[] = {{1, Outcome::Written, 2, true}, {2, Outcome::Written, 3, true}, {3, Outcome::Failed, 3, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.failures);
        g_app_reset_flag = 0;
        TestRoot::writeFile("/data/app/vyrR58N", QByteArray("old program"));
        fpgaFlash().store(0, std::vector<uint8_t>(0x12000, 0x5A));
        fpgaFlash().clearLog();
        const std::vector<uint8_t> image = PackageGen::pattern(70000, 3);
        const std::vector<uint8_t> program = sampleProgram();
        PackageGen::Package p;
        p.entries = {entry(7, PackageGen::fpgaImage(image)), entry(10, program)};
        put("a.VYR", p);
        fpgaFlash().failProgramsAt(0x8000, row.failures);
        const upgrade::RunResult r = run();
        fpgaFlash().failProgramsAt(0, 0);
        ASSERT_GE(r.items.size(), 2u);
        EXPECT_EQ(r.items[0].outcome, row.fpga) << r.items[0].reason.toStdString();
        int erases = 0;
        for (const FpgaFlash::Op& op : fpgaFlash().logOf(0x52))
            erases += op.accepted && op.address == 0x8000;
        EXPECT_EQ(erases, row.chunkErases);
        if (row.fpga == Outcome::Written) {
            EXPECT_EQ(fpgaFlash().read(0, image.size()), image);
        } else {
            EXPECT_EQ(r.items[0].reason, QStringLiteral("FPGA image incomplete, upgrade again"));
            EXPECT_TRUE(r.anyFailed());
        }
        EXPECT_EQ(g_app_reset_flag.load(), row.swapped ? 1 : 0);
        EXPECT_EQ(TestRoot::readFile("/data/app/vyrR58N") == QByteArray("old program"), !row.swapped);
    }
}

// Entries passed over cost no sync and no pause: sixteen of an unknown type, one sync (the header's).
TEST_F(UpgradeEngine, IgnoredEntriesAreNotPaused)
{
    PackageGen::Package p;
    p.entries.assign(16, entry(99, {}));
    put("a.VYR", p);
    const int before = TestRoot::shellLog().count(QStringLiteral("sync"));
    const upgrade::RunResult r = run();
    EXPECT_EQ(r.count(Outcome::Skipped), 16);
    EXPECT_EQ(TestRoot::shellLog().count(QStringLiteral("sync")) - before, 1);
}

// The run is the FPGA worker's; the update dialog and the window that shows it are the GUI
// thread's: the window is looked up there, when the request arrives.
TEST_F(UpgradeEngine, UpdateDialogIsShownAndClosedFromTheGuiThread)
{
    MainWindow window;
    auto shown = [] { return !g_move_update.isNull() && g_move_update->isVisible(); };
    g_update_flag = 0;
    QString why;
    ASSERT_TRUE(upgrade::Engine::instance().start(&why)) << why.toStdString();
    g_mainwindow = nullptr;
    std::thread worker([this] { fpga->runOnce(); }); // step 0: the dialog is asked for
    worker.join();
    g_mainwindow = &window; // the window the GUI thread has when the request arrives
    EXPECT_FALSE(shown()) << "nothing is shown from the worker";
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    EXPECT_TRUE(shown());
    std::thread rest([this] {
        for (int i = 0; i < 3 && g_usb_grade.load(); ++i)
            fpga->runOnce();
    });
    rest.join();
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    EXPECT_FALSE(shown());
    g_mainwindow = nullptr;
}

// This box has FPGA 0 only: an FPGA 1 image is skipped and the rest of its package installed.
TEST_F(UpgradeEngine, FpgaOneImageIsSkippedAndTheRestInstalled)
{
    const std::vector<uint8_t> image = PackageGen::pattern(5000, 6);
    PackageGen::Package p;
    p.entries = {entry(8, PackageGen::fpgaImage(PackageGen::pattern(4096, 2))), entry(7, PackageGen::fpgaImage(image))};
    put("a.VYR", p);
    const upgrade::RunResult r = run();
    ASSERT_EQ(r.items.size(), 2u);
    EXPECT_EQ(r.items[0].outcome, Outcome::Skipped);
    EXPECT_EQ(r.items[0].reason, QLatin1String(upgrade::kNoSecondFpga));
    EXPECT_EQ(r.items[1].outcome, Outcome::Written) << r.items[1].reason.toStdString();
    EXPECT_EQ(fpgaFlash().read(0, image.size()), image);
    EXPECT_EQ(fpga->rst_pending[0].load(), 1);
}

// The launcher starts whatever is swapped in: an application entry that is not a whole program
// of this machine, or one damaged inside (its entry point zeroed, as a bad stick cluster leaves
// it) that its check start refuses, is refused with its reason, in the report and the log, and
// nothing is staged, swapped or restarted by it. The genuine next version is installed.
TEST_F(UpgradeEngine, ApplicationThatIsNoProgramOfThisBoxIsRefusedAndTheRealOneInstalled)
{
    g_update_status = 0;
    const std::vector<uint8_t> real = sampleProgram();
    ASSERT_GT(real.size(), 1000u);
    std::vector<NotAProgram> rows = notProgramsOfThisBox();
    rows.push_back({"the program with its entry point zeroed", withEntryZeroed(real), "program crashed at its start (signal "});
    rows.push_back({"the program as a version without the check start", withoutSeal(real), "program too old for this box"});
    for (const NotAProgram& row : rows) {
        SCOPED_TRACE(row.what);
        const int shellLines = TestRoot::shellLog().size();
        PackageGen::Package p;
        p.entries = {entry(10, row.bytes)};
        put("new.VYR", p);
        const upgrade::RunResult r = run();
        ASSERT_EQ(r.items.size(), 1u);
        EXPECT_EQ(r.items[0].outcome, Outcome::Failed);
        EXPECT_TRUE(r.items[0].reason.startsWith(QString::fromLatin1(row.reason))) << r.items[0].reason.toStdString();
        EXPECT_TRUE(TestRoot::readFile("/data/keltoqz/log/jtcEnglneLog").contains(row.reason));
        EXPECT_EQ(TestRoot::readFile("/data/app/vyrR58N"), QByteArray("old program"));
        EXPECT_FALSE(TestRoot::exists("/data/app/vyrR58N2"));
        EXPECT_FALSE(TestRoot::exists("/data/app/vyrR58N2.atomic-tmp"));
        EXPECT_FALSE(TestRoot::shellLog().mid(shellLines).join('\n').contains("mv ")) << "nothing swapped";
        EXPECT_FALSE(TestRoot::exists("/data/configs/led_load_config.ini"));
        EXPECT_EQ(g_app_reset_flag.load(), 0) << "no restart";
    }
    // The real program, then a refused one in the same run: the run is reported failed, so it
    // restarts nothing and leaves nothing staged.
    PackageGen::Package p;
    p.entries = {entry(10, real), entry(10, notProgramsOfThisBox().front().bytes)};
    put("new.VYR", p);
    upgrade::RunResult r = run();
    ASSERT_EQ(r.items.size(), 3u);
    EXPECT_EQ(r.items[0].outcome, Outcome::Written) << r.items[0].reason.toStdString();
    EXPECT_EQ(r.items[1].outcome, Outcome::Failed);
    EXPECT_EQ(r.items[2].reason, QStringLiteral("application not swapped: an entry failed"));
    EXPECT_EQ(TestRoot::readFile("/data/app/vyrR58N"), QByteArray("old program"));
    EXPECT_FALSE(TestRoot::exists("/data/app/vyrR58N2"));
    EXPECT_EQ(g_app_reset_flag.load(), 0);
    // The real one alone, on a fresh root without /data/app: the folder is made, the program installed.
    QDir(QString::fromStdString(TestRoot::path("/data/app"))).removeRecursively();
    p.entries = {entry(10, real)};
    put("new.VYR", p);
    r = run();
    ASSERT_EQ(r.items.size(), 1u);
    EXPECT_EQ(r.items[0].outcome, Outcome::Written) << r.items[0].reason.toStdString();
    EXPECT_EQ(bytesOf(TestRoot::readFile("/data/app/vyrR58N")), real);
    EXPECT_EQ(g_app_reset_flag.load(), 1);
}

// A power cut while the FPGA 0 image goes in (the run killed once its area is erased and the
// writes have begun) leaves half an image: the next start says so on the panel and in the log,
// until a run writes an image whole.
TEST_F(UpgradeEngine, ImageWriteKilledAfterItsEraseIsReportedAtTheNextStart)
{
    const std::vector<uint8_t> image = PackageGen::pattern(0x600000, 4);
    PackageGen::Package p;
    p.entries = {entry(7, PackageGen::fpgaImage(image))};
    put("a.VYR", p);
    auto firstByteIn = [&] { // the flash file, as the child's writes leave it
        QFile f(QString::fromStdString(TestRoot::path(FpgaFlash::File)));
        return f.open(QIODevice::ReadOnly) && f.read(1) == QByteArray(1, char(image[0]));
    };
    ASSERT_FALSE(firstByteIn());
    const pid_t child = runInChild();
    ASSERT_GE(child, 0);
    const bool writing = waitFor(firstByteIn, 60000);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ASSERT_TRUE(writing) << "the first chunk went in";
    fpgaFlash().reload(); // the power comes back
    EXPECT_NE(fpgaFlash().read(image.size() - 256, 256), std::vector<uint8_t>(image.end() - 256, image.end())) << "half an image";

    // The next start.
    g_language = 1;
    UpgradeNotice::showAtStart();
    ASSERT_TRUE(g_upgrade_notice);
    EXPECT_TRUE(g_upgrade_notice->isVisible());
    EXPECT_TRUE(g_upgrade_notice->text().contains("Run the USB upgrade again")) << g_upgrade_notice->text().toStdString();
    EXPECT_TRUE(TestRoot::readFile("/data/keltoqz/log/jtcEnglneLog")
                    .contains("FPGA 0 image incomplete, its write was cut (FPGA 0 image of a.VYR entry 0"));
    delete g_upgrade_notice.data();

    // A run that writes the image whole: the next start has nothing to say.
    p.entries = {entry(7, PackageGen::fpgaImage(PackageGen::pattern(5000, 5)))};
    put("a.VYR", p);
    ASSERT_EQ(run().count(Outcome::Written), 1);
    UpgradeNotice::showAtStart();
    EXPECT_FALSE(g_upgrade_notice);
    EXPECT_TRUE(upgrade::cutImageWrite().isEmpty());
}

// One package with two FPGA 0 images, the second failing its writes after its erase (an old and
// a new package on one stick do the same): the first is reported written, the second incomplete,
// and FPGA 0 is not reset into the half image; it keeps running what it loaded.
TEST_F(UpgradeEngine, FpgaIsNotResetWhenALaterImageOfTheRunIsIncomplete)
{
    const std::vector<uint8_t> first = PackageGen::pattern(5000, 1), second = PackageGen::pattern(70000, 2);
    PackageGen::Package p;
    p.entries = {entry(7, PackageGen::fpgaImage(first)), entry(7, PackageGen::fpgaImage(second))};
    put("a.VYR", p);
    fpgaFlash().failProgramsAt(0x8000, 3); // only the second image reaches 0x8000
    const upgrade::RunResult r = run();
    fpgaFlash().failProgramsAt(0, 0);
    ASSERT_EQ(r.items.size(), 2u);
    EXPECT_EQ(r.items[0].outcome, Outcome::Written) << r.items[0].reason.toStdString();
    EXPECT_EQ(r.items[1].outcome, Outcome::Failed);
    EXPECT_EQ(r.items[1].reason, QStringLiteral("FPGA image incomplete, upgrade again"));
    EXPECT_EQ(fpgaFlash().read(0x8000, 16), std::vector<uint8_t>(16, 0xFF)) << "the flash holds a half image";
    EXPECT_EQ(fpga_manage::gpio_read(fpga->rst_fpga0), 16) << "the reset line stays high";
    EXPECT_EQ(fpga->rst_pending[0].load(), 0);

    // The same images the other way round: the later image is whole, yet one of the run failed
    // after its erase, so the rule holds: no reset, upgrade again.
    fpgaFlash().store(0, std::vector<uint8_t>(0x12000, 0x5A));
    PackageGen::Package q;
    q.entries = {entry(7, PackageGen::fpgaImage(second)), entry(7, PackageGen::fpgaImage(first))};
    put("a.VYR", q);
    fpgaFlash().failProgramsAt(0x8000, 3);
    const upgrade::RunResult r2 = run();
    fpgaFlash().failProgramsAt(0, 0);
    ASSERT_EQ(r2.items.size(), 2u);
    EXPECT_EQ(r2.items[0].outcome, Outcome::Failed);
    EXPECT_EQ(r2.items[1].outcome, Outcome::Written);
    EXPECT_EQ(fpga_manage::gpio_read(fpga->rst_fpga0), 16);
    EXPECT_EQ(fpga->rst_pending[0].load(), 0);
}

// An image of exactly 0x6C0000 bytes fills the area up to the data records' sector: it is written
// whole, and the bank-50 table from 0x6C0001 stays.
TEST_F(UpgradeEngine, ImageOfTheWholeAreaIsWrittenAndTheRecordsKept)
{
    const std::vector<uint8_t> records = PackageGen::pattern(0x2000, 77);
    fpgaFlash().store(0x6C0000, records);
    const std::vector<uint8_t> image = PackageGen::pattern(0x6C0000, 5);
    PackageGen::Package p;
    p.entries = {entry(7, PackageGen::fpgaImage(image))};
    put("a.VYR", p);
    const upgrade::RunResult r = run();
    ASSERT_EQ(r.items.size(), 1u);
    EXPECT_EQ(r.items[0].outcome, Outcome::Written) << r.items[0].reason.toStdString();
    EXPECT_TRUE(fpgaFlash().read(0, image.size()) == image);
    EXPECT_EQ(fpgaFlash().read(0x6C0000, records.size()), records);
    EXPECT_EQ(fpga->rst_pending[0].load(), 1);
}

// The slot of a missing font is cut mid-font, by the flash write failing or by the stick pulled
// while the font goes in; at the next start the font must not count as present unless it is whole,
// and the next run writes it.
TEST_F(UpgradeEngine, FontCutMidWayNeverCountsAsPresentAndTheNextRunWritesIt)
{
    c331_manage* scaler = startManagersWithoutWorkers().scaler;
    ASSERT_TRUE(scaler);
    auto& chip = platform::Sim::c331Chip();
    const std::vector<uint8_t> font = PackageGen::font(1, 64, 60000);
    PackageGen::Package p;
    p.entries = {entry(13, font)};
    auto fresh = [&] { // the 64EN slot erased, the other three fonts present, as a start reads them
        chip.flashWrite(0x410000, std::vector<uint8_t>(0x10000, 0xFF));
        put("f.VYR", p);
        scaler->read_c331_font(scaler->c331_fd);
        ASSERT_EQ(store->image[regimage::kFontPresence] & 0x3F, 0x2B);
    };
    auto whole = [&] { return chip.flashRead(0x410000, font.size()) == font; };
    // The transfers of a whole font write, to cut the next ones halfway.
    fresh();
    int transfers = 0;
    chip.setTransferHook([&] { ++transfers; });
    ASSERT_EQ(run().count(Outcome::Written), 1);
    chip.setTransferHook(nullptr);
    ASSERT_TRUE(whole());
    ASSERT_GT(transfers, 100000);

    // The font is read whole before its slot is erased, so a stick pulled during the writes no
    // longer matters.
    const struct {
        const char* what;
        std::function<void()> cut;
        Outcome first;
    } rows[] = {
        {"flash writes fail", [&] { chip.failNextTransfers(1 << 30); }, Outcome::Failed},
        {"stick pulled", [&] { ASSERT_EQ(::truncate(TestRoot::path("/mnt/usb1/f.VYR").c_str(), 49 + 21 + 100), 0); }, Outcome::Written},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        fresh();
        int seen = 0;
        chip.setTransferHook([&] {
            if (++seen == transfers / 2)
                row.cut();
        });
        const upgrade::RunResult first = run();
        chip.setTransferHook(nullptr);
        chip.failNextTransfers(0);
        ASSERT_EQ(first.items.size(), 1u);
        EXPECT_EQ(first.items[0].outcome, row.first) << first.items[0].reason.toStdString();
        TestRoot::acceptViolations();
        scaler->read_c331_font(scaler->c331_fd); // the next start
        const bool present = store->image[regimage::kFontPresence] & 0x14;
        EXPECT_TRUE(!present || whole()) << "a font that counts as present is whole";

        put("f.VYR", p); // the stick again
        run();
        scaler->read_c331_font(scaler->c331_fd);
        EXPECT_TRUE(whole()) << "the next run writes it";
        EXPECT_EQ(store->image[regimage::kFontPresence] & 0x3F, 0x3F);
    }
}
