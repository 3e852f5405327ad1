// Device, network and flash commands through the dispatcher: what reaches the INI file, the
// recording shell and the simulated FPGA flash, and what each refusal leaves untouched.
#include "message_deal_fixture.h"

#include "base/global.h"
#include "params/config_engine.h"
#include "platform/sim/devices/fpga_flash.h"
#include "platform/sim/sim_board.h"
#include "platform/sim/devices/c331_chip.h"
#include "test_root.h"

#include <QSettings>
#include <QString>

namespace {

using platform::Sim::c331Chip;
using platform::Sim::fpgaFlash;
using platform::Sim::shellSim;

class DeviceCommands : public MessageDealTest {
protected:
    void SetUp() override
    {
        MessageDealTest::SetUp();
        ConfigEngine::pInstance();
        shellSim().clearScripts();
        shellSim().clearLog();
        g_debugSwitch = 0;
    }
    static std::vector<std::string> commands() { return shellSim().commands(); }
    static QString ini(const char* key)
    {
        QSettings s(QString::fromStdString(TestRoot::path(ConfigEngine::kIniPath)), QSettings::IniFormat);
        return s.value(QString("config/") + key).toString();
    }
    static std::vector<uint8_t> netPayload(std::vector<uint8_t> ip, std::vector<uint8_t> mask, std::vector<uint8_t> gw, uint16_t port)
    {
        std::vector<uint8_t> p = {1, 0, 0, 0};
        p.insert(p.end(), ip.begin(), ip.end());
        p.insert(p.end(), mask.begin(), mask.end());
        p.insert(p.end(), gw.begin(), gw.end());
        p.push_back(uint8_t(port));
        p.push_back(uint8_t(port >> 8));
        return p;
    }
    // Flash request: address, then the rest of the payload from byte 14.
    static std::vector<uint8_t> flashRequest(uint32_t address, const std::vector<uint8_t>& rest)
    {
        std::vector<uint8_t> p(4);
        putU32(p.data(), address);
        p.insert(p.end(), rest.begin(), rest.end());
        return p;
    }
    uint8_t erase(uint32_t address, uint8_t mode, uint8_t count, uint16_t dest = kController)
    {
        EXPECT_EQ(send(dest, 0x70, flashRequest(address, {mode, count})), 1u);
        return buf[10];
    }
    uint8_t writeFlash(uint32_t address, const std::vector<uint8_t>& data, uint16_t dest = kController)
    {
        std::vector<uint8_t> rest = {uint8_t(data.size()), uint8_t(data.size() >> 8), 0, 0};
        rest.insert(rest.end(), data.begin(), data.end());
        EXPECT_EQ(send(dest, 0x71, flashRequest(address, rest)), 1u);
        return buf[10];
    }
};

TEST_F(DeviceCommands, SearchAnswerCarriesTheNetworkSettings)
{
    EXPECT_EQ(send(kController, 0xA4, {3}), 25u);
    const std::vector<uint8_t> want = {0x00, 0x03, 0x16, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                       0xC0, 0xA8, 0x01, 0xC7, 0xFF, 0xFF, 0xFF, 0x00, 0xC0, 0xA8, 0x01,
                                       0x01, 0x8D, 0x13};
    EXPECT_EQ(differences(std::vector<uint8_t>(buf.begin() + 10, buf.begin() + 35), want, 10), "");

    g_str_mac = "00:1A:2B:3C:4D:5E";
    g_port = 6000;
    send(kController, 0xA4, {3});
    EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 15, buf.begin() + 21), std::vector<uint8_t>({0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
    EXPECT_EQ(getU16(buf.data() + 33), 6000);
}

TEST_F(DeviceCommands, DeviceInformationWithoutTheAccessPoint)
{
    g_str_barcode = "SN-0123456789ABCDEFG";
    memcpy(g_pid, "0123456789abcdef0123456789abcdef", 32);
    ASSERT_EQ(send(kController, 0xA4, {16}), 208u);
    EXPECT_EQ(buf[10], 0);
    EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 11, buf.begin() + 21),
              std::vector<uint8_t>({16, 0x74, 1, 1, 0x52, 0x8B, 0x0F, 0x0B, 1, 2}));
    EXPECT_EQ(std::string(buf.begin() + 21, buf.begin() + 37), "SN-0123456789ABC"); // first 16 bytes
    EXPECT_EQ(std::string(buf.begin() + 37, buf.begin() + 69), "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(std::count(buf.begin() + 69, buf.begin() + 197, 0), 128);
    EXPECT_EQ(getU16(buf.data() + 203), 5005);
    EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 205, buf.begin() + 218),
              std::vector<uint8_t>({192, 168, 1, 199, 255, 255, 255, 0, 192, 168, 1, 1, 0}));

    // Unlisted sub-commands answer nothing.
    EXPECT_EQ(send(kController, 0xA4, {2}), 0u);
    EXPECT_EQ(send(kController, 0xA2, {29}), 0u);
}

TEST_F(DeviceCommands, AddressChangeWithTheSamePortIsAppliedAtOnce)
{
    g_port = 5005;
    ASSERT_EQ(send(kController, 0xA4, netPayload({10, 0, 0, 7}, {255, 255, 0, 0}, {10, 0, 0, 1}, 5005)), 1u);
    EXPECT_EQ(buf[10], 0);
    EXPECT_EQ(ini("IPAddress"), "10.0.0.7");
    EXPECT_EQ(ini("SubNetMask"), "255.255.0.0");
    EXPECT_EQ(ini("GateWay"), "10.0.0.1");
    EXPECT_EQ(ini("TcpPort"), "5005");
    const auto log = commands();
    EXPECT_NE(std::find(log.begin(), log.end(), "ifconfig eth0 10.0.0.7 netmask 255.255.0.0"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "route add default gw 10.0.0.1 metric 100"), log.end());
    EXPECT_EQ(g_str_ip.get(), "10.0.0.7");
    EXPECT_EQ(g_app_reset_flag.load(), 0);
}

TEST_F(DeviceCommands, NewPortRebootsAfterTheReplyHasLeft)
{
    g_port = 5005;
    G_timeTicks = 1234;
    g_app_reset_flag = 0;
    ASSERT_EQ(send(kController, 0xA4, netPayload({192, 168, 1, 50}, {255, 255, 255, 0}, {192, 168, 1, 1}, 6001)), 1u);
    EXPECT_EQ(buf[10], 0);
    EXPECT_EQ(ini("TcpPort"), "6001");
    EXPECT_EQ(g_port.load(), 6001);
    EXPECT_EQ(g_app_reset_flag.load(), 1) << "the INI reload must not hide the port change";
    EXPECT_EQ(G_reboot_tickTicks.load(), 1234u) << "the reboot waits its 300 ticks from now";
}

TEST_F(DeviceCommands, UnusableNetworkSettingsAreRefusedBeforeAnythingIsStored)
{
    const struct {
        const char* name;
        std::vector<uint8_t> payload;
    } cases[] = {
        {"mask with a hole", netPayload({10, 0, 0, 7}, {255, 0, 255, 0}, {10, 0, 0, 1}, 5005)},
        {"mask 0.0.0.0", netPayload({10, 0, 0, 7}, {0, 0, 0, 0}, {10, 0, 0, 1}, 5005)},
        {"mask not from the top", netPayload({10, 0, 0, 7}, {0, 255, 255, 255}, {10, 0, 0, 1}, 5005)},
        {"port 0", netPayload({10, 0, 0, 7}, {255, 255, 255, 0}, {10, 0, 0, 1}, 0)},
        {"gateway outside the subnet", netPayload({10, 0, 0, 7}, {255, 255, 255, 0}, {10, 0, 1, 1}, 5005)},
        {"address 0.0.0.0 with a new port", netPayload({0, 0, 0, 0}, {255, 255, 255, 0}, {192, 168, 1, 1}, 6001)},
        {"broadcast address with a new port", netPayload({10, 0, 0, 255}, {255, 255, 255, 0}, {10, 0, 0, 1}, 6001)},
        {"inside the Wi-Fi access point's /24", netPayload({192, 168, 22, 50}, {255, 255, 255, 0}, {192, 168, 22, 1}, 5005)},
        {"a /16 over the access point's /24", netPayload({192, 168, 1, 50}, {255, 255, 0, 0}, {192, 168, 1, 1}, 5005)},
        {"frame ends before the port", std::vector<uint8_t>({1, 0, 0, 0, 10, 0, 0, 7, 255, 255, 255, 0, 10, 0, 0, 1, 0x8D})},
    };
    g_port = 5005;
    g_app_reset_flag = 0;
    const QString before = ini("IPAddress"), portBefore = ini("TcpPort");
    for (const auto& c : cases) {
        shellSim().clearLog();
        ASSERT_EQ(send(kController, 0xA4, c.payload), 1u) << c.name;
        EXPECT_EQ(buf[10], 1) << c.name;
        EXPECT_EQ(ini("IPAddress"), before) << c.name;
        EXPECT_TRUE(commands().empty()) << c.name;
        EXPECT_EQ(g_str_ip.get(), "192.168.1.199") << c.name;
        EXPECT_EQ(ini("TcpPort"), portBefore) << c.name;
        EXPECT_EQ(g_port.load(), 5005) << c.name;
        EXPECT_EQ(g_app_reset_flag.load(), 0) << c.name << ": no reboot";
    }
}

// A set eth0 does not take answers failure and changes nothing: not the INI file, not the
// settings in force, no reboot for a new port; the interface is put back on the old address.
TEST_F(DeviceCommands, AddressChangeTheInterfaceRefusesChangesNothing)
{
    const struct {
        const char* failing;
        uint16_t port;
    } rows[] = {{"ifconfig eth0 &>/dev/null", 5005}, {"ifconfig eth0 10.0.0.7", 5005}, {"ifconfig eth0 10.0.0.7", 6001}};
    g_port = 5005;
    g_app_reset_flag = 0;
    const QString ipBefore = ini("IPAddress"), portBefore = ini("TcpPort");
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.failing) + " port " + std::to_string(row.port));
        shellSim().clearScripts();
        shellSim().clearLog();
        shellSim().script(row.failing, 1);
        ASSERT_EQ(send(kController, 0xA4, netPayload({10, 0, 0, 7}, {255, 255, 0, 0}, {10, 0, 0, 1}, row.port)), 1u);
        EXPECT_EQ(buf[10], 1);
        EXPECT_EQ(ini("IPAddress"), ipBefore);
        EXPECT_EQ(ini("TcpPort"), portBefore);
        EXPECT_EQ(g_str_ip.get(), "192.168.1.199");
        EXPECT_EQ(g_port.load(), 5005);
        EXPECT_EQ(g_app_reset_flag.load(), 0);
        const auto log = commands();
        if (std::string(row.failing) != "ifconfig eth0 &>/dev/null") {
            ASSERT_FALSE(log.empty());
            EXPECT_EQ(log.back().rfind("route", 0), 0u) << "routes put back after the address";
            EXPECT_NE(std::find(log.begin(), log.end(), "ifconfig eth0 192.168.1.199 netmask 255.255.255.0"), log.end());
        }
    }
}

TEST_F(DeviceCommands, Barcode)
{
    // count 2 or less: status 5, the barcode stays
    g_str_barcode = "OLD";
    ASSERT_EQ(send(kController, 0xA2, {30, 2, 0}), 2u);
    EXPECT_EQ(buf[10], 5);
    EXPECT_EQ(buf[11], 30);
    EXPECT_EQ(g_str_barcode.get(), "OLD");

    // A count beyond the frame is refused without writing
    const QString before = ini("Barcode");
    ASSERT_EQ(send(kController, 0xA2, {30, 40, 0, 'A', 'B'}), 2u);
    EXPECT_EQ(buf[10], 1);
    EXPECT_EQ(buf[11], 30);
    EXPECT_EQ(ini("Barcode"), before);

    // Cut at the first zero byte; sync runs before the read-back
    ASSERT_EQ(send(kController, 0xA2, {30, 9, 0, 'S', 'N', '4', '2', 0, 'x', 'y'}), 2u);
    EXPECT_EQ(buf[10], 0);
    EXPECT_EQ(ini("Barcode"), "SN42");
    EXPECT_EQ(g_str_barcode.get(), "SN42");
    const auto log = commands();
    EXPECT_NE(std::find(log.begin(), log.end(), "sync"), log.end());

    ASSERT_EQ(send(kController, 0xA2, {31}), 8u);
    EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 10, buf.begin() + 18),
              std::vector<uint8_t>({0, 31, 6, 0, 'S', 'N', '4', '2'}));

    // Bytes that are not UTF-8 cannot be kept as sent: status 2, the barcode stays.
    ASSERT_EQ(send(kController, 0xA2, {30, 4, 0, 0xE9, 0xFF}), 2u);
    EXPECT_EQ(buf[10], 2);
    EXPECT_EQ(buf[11], 30);
    EXPECT_EQ(ini("Barcode"), "SN42");
    ASSERT_EQ(send(kController, 0xA2, {31}), 8u);
    EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 14, buf.begin() + 18), std::vector<uint8_t>({'S', 'N', '4', '2'}));
}

TEST_F(DeviceCommands, ClockIsSetFromValidBcdOnly)
{
    ASSERT_EQ(send(kController, 0x87, {0x24, 0x20, 0x03, 0x05, 0x07, 0x08, 0x09}), 1u);
    EXPECT_EQ(buf[10], 0);
    EXPECT_EQ(commands(), std::vector<std::string>({"date \"2024-3-5 7:8:9\"", "hwclock -wu"}));

    const struct {
        const char* name;
        std::vector<uint8_t> payload;
    } refused[] = {
        {"month 0x99", {0x24, 0x20, 0x99, 0x05, 0x07, 0x08, 0x09}},
        {"digit A", {0x2A, 0x20, 0x03, 0x05, 0x07, 0x08, 0x09}},
        {"month 13", {0x24, 0x20, 0x13, 0x05, 0x07, 0x08, 0x09}},
        {"30 February", {0x24, 0x20, 0x02, 0x30, 0x07, 0x08, 0x09}},
        {"hour 24", {0x24, 0x20, 0x03, 0x05, 0x24, 0x08, 0x09}},
        {"second 60", {0x24, 0x20, 0x03, 0x05, 0x07, 0x08, 0x60}},
        {"frame ends early", {0x24, 0x20, 0x03, 0x05, 0x07}},
        {"1969, before the board's clock", {0x69, 0x19, 0x12, 0x31, 0x23, 0x59, 0x59}},
        {"2038, past the board's clock", {0x38, 0x20, 0x01, 0x01, 0x00, 0x00, 0x00}},
    };
    for (const auto& c : refused) {
        shellSim().clearLog();
        ASSERT_EQ(send(kController, 0x87, c.payload), 1u) << c.name;
        EXPECT_EQ(buf[10], 1) << c.name;
        EXPECT_TRUE(commands().empty()) << c.name;
    }

    // The edges of the board's clock are taken; a clock command that fails is not answered as
    // success, and a date refused writes no hardware clock.
    for (const std::vector<uint8_t>& edge : {std::vector<uint8_t>{0x70, 0x19, 0x01, 0x01, 0x00, 0x00, 0x00},
                                             std::vector<uint8_t>{0x37, 0x20, 0x12, 0x31, 0x23, 0x59, 0x59}}) {
        send(kController, 0x87, edge);
        EXPECT_EQ(buf[10], 0) << int(edge[0]);
    }
    shellSim().script("date ", 1);
    shellSim().clearLog();
    send(kController, 0x87, {0x24, 0x20, 0x12, 0x31, 0x23, 0x59, 0x59});
    EXPECT_EQ(buf[10], 1);
    EXPECT_EQ(commands().size(), 1u);
}

TEST_F(DeviceCommands, VersionWords)
{
    g_update_status = 1;
    G_timeTicks = 2000;
    ASSERT_EQ(send(kController, 0x82, {}), 17u);
    EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 10, buf.begin() + 27),
              std::vector<uint8_t>({0, 1, 8, 0x52, 0x8B, 0x0B, 1, 0x20, 0x10, 0x24, 2, 0, 0, 100, 0, 0, 0}));

    fpga->MCU_REG_func[0][21] = 0x33;
    fpga->MCU_REG_func[0][28] = 0x02;
    fpga->MCU_REG_func[0][31] = 0x24;
    fpga->fpga_status = 0x05;
    ASSERT_EQ(send(kFpgaSide, 0x82, {}), 17u);
    EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 10, buf.begin() + 23),
              std::vector<uint8_t>({0, 0x33, 0, 0x0F, 0x0B, 0x0B, 0x02, fpga->MCU_REG_func[0][29], fpga->MCU_REG_func[0][30], 0x24, 0, 0, 0x05}));
}

TEST_F(DeviceCommands, FlashIdComesFromTheFpgaFlash)
{
    ASSERT_EQ(send(kController, 0x83, {}), 1u);
    EXPECT_EQ(buf[10], 1);

    fpgaFlash().setUniqueId({1, 2, 3, 4, 5, 6, 7, 8});
    ASSERT_EQ(send(kFpgaSide, 0x83, {}), 9u);
    EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 10, buf.begin() + 19), std::vector<uint8_t>({0, 1, 2, 3, 4, 5, 6, 7, 8}));

    fpgaFlash().failNextTransfers(100);
    ASSERT_EQ(send(kFpgaSide, 0x83, {}), 1u);
    EXPECT_EQ(buf[10], 1) << "no id rather than stale bytes";
}

TEST_F(DeviceCommands, EraseRefusalsTouchNoFlash)
{
    const struct {
        const char* name;
        uint32_t address;
        uint8_t mode, count;
    } refused[] = {
        {"address inside a sector", 0x01000100, 1, 1},
        {"mode 3", 0x01000000, 3, 1},
        {"32 KiB block not on 8 sectors", 0x01005000, 2, 1},
        {"64 KiB block not on 16 sectors", 0x01008000, 4, 1},
        {"past the region's end", 0x017FF000, 1, 2},
        {"255 blocks of 64 KiB past the end", 0x01700000, 4, 255},
        {"window region below its window", 0x00470000, 1, 1},
        {"window region running past its window", 0x004BF000, 1, 2},
        {"scaler flash block not on 16 sectors", 0x04001000, 4, 1},
    };
    for (const auto& c : refused) {
        fpgaFlash().clearLog();
        EXPECT_EQ(erase(c.address, c.mode, c.count), 1) << c.name;
        EXPECT_TRUE(fpgaFlash().logOf(0x20).empty() && fpgaFlash().logOf(0x52).empty() && fpgaFlash().logOf(0xD8).empty()) << c.name;
    }
}

// Region 4 is the scaler chip's serial flash, through its own controller; a flash that does not
// finish answers status 1.
TEST_F(DeviceCommands, ScalerFlashRegionErasesWritesAndReads)
{
    c331Chip().flashWrite(0x30000, std::vector<uint8_t>(0x10, 0x00));
    c331Chip().flashWrite(0x40000, {0x00});
    EXPECT_EQ(erase(0x04030000, 4, 1), 0);
    EXPECT_EQ(c331Chip().flashRead(0x30000, 0x10), std::vector<uint8_t>(0x10, 0xFF));
    EXPECT_EQ(c331Chip().flashRead(0x40000, 1), std::vector<uint8_t>({0x00}));
    const std::vector<uint8_t> data = {0x11, 0x5A, 0xA5, 0x00, 0xFF, 0x42};
    EXPECT_EQ(writeFlash(0x040300FE, data), 0);
    EXPECT_EQ(c331Chip().flashRead(0x300FE, data.size()), data);
    ASSERT_EQ(send(kController, 0x72, flashRequest(0x040300FE, {6, 0})), 7u);
    EXPECT_EQ(buf[10], 0);
    EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 11, buf.begin() + 17), data);
    EXPECT_EQ(writeFlash(0x04031000, {0x00}), 0);
    EXPECT_EQ(writeFlash(0x04031000, {0xFF}), 1) << "a program cannot set bits: the read-back differs";

    c331Chip().setFlashBusyPolls(1000000);
    EXPECT_EQ(erase(0x04050000, 1, 1), 1);
    EXPECT_EQ(writeFlash(0x04060000, data), 1);
    c331Chip().setFlashBusyPolls(0);
}

TEST_F(DeviceCommands, EraseWriteAndReadThroughTheRegions)
{
    // Region 1 erases FPGA 0's flash; count 0 counts as 1.
    fpgaFlash().store(0x10000, std::vector<uint8_t>(0x1000, 0x00));
    fpgaFlash().store(0x11000, {0x00});
    EXPECT_EQ(erase(0x01010000, 1, 0), 0);
    EXPECT_EQ(fpgaFlash().read(0x10000, 0x1000), std::vector<uint8_t>(0x1000, 0xFF));
    EXPECT_EQ(fpgaFlash().read(0x11000, 1), std::vector<uint8_t>({0x00}));

    // The window region lands 0x273000 further up, which is not on a block: a block erase there
    // takes exactly its sixteen sectors and leaves the flash below the window alone.
    fpgaFlash().store(0x6F2FFF, {0x00, 0x00});
    fpgaFlash().store(0x702FFF, {0x00, 0x00});
    EXPECT_EQ(erase(0x00480000, 4, 1), 0);
    EXPECT_EQ(fpgaFlash().read(0x6F2FFF, 2), std::vector<uint8_t>({0x00, 0xFF}));
    EXPECT_EQ(fpgaFlash().read(0x702FFF, 2), std::vector<uint8_t>({0xFF, 0x00}));
    const std::vector<uint8_t> data = {0x11, 0x5A, 0xA5, 0x00, 0xFF, 0x42};
    EXPECT_EQ(writeFlash(0x00480000, data), 0);
    EXPECT_EQ(fpgaFlash().read(0x6F3000, data.size()), data);

    ASSERT_EQ(send(kController, 0x72, flashRequest(0x00480000, {6, 0})), 7u);
    EXPECT_EQ(buf[10], 0);
    EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 11, buf.begin() + 17), data);

    // The FPGA side addresses the whole flash of the chosen FPGA.
    ASSERT_EQ(send(kFpgaSide, 0x72, flashRequest(0x6F3000, {6, 0}), kMessageBufferSize, 0, 1), 7u);
    EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 11, buf.begin() + 17), data);
    EXPECT_EQ(erase(0x005000, 2, 1, kFpgaSide), 1) << "alignment holds on the FPGA side too";
}

// Each erase mode takes its own unit, from the start sector on, and nothing beside it.
TEST_F(DeviceCommands, EraseModesTakeTheirUnits)
{
    const struct {
        uint32_t address;
        uint8_t mode, count;
        uint8_t opcode;
        std::vector<uint32_t> commands; // addresses of the erase commands sent
        uint32_t first, bytes;          // the range left erased
    } rows[] = {
        {0x01010000, 1, 1, 0x20, {0x10000}, 0x10000, 0x1000},
        {0x01018000, 2, 2, 0x52, {0x18000, 0x20000}, 0x18000, 0x10000},
        {0x01040000, 4, 1, 0xD8, {0x40000}, 0x40000, 0x10000},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.address);
        fpgaFlash().store(r.first - 1, std::vector<uint8_t>(r.bytes + 2, 0x00));
        fpgaFlash().clearLog();
        EXPECT_EQ(erase(r.address, r.mode, r.count), 0);
        std::vector<uint32_t> sent;
        for (const auto& op : fpgaFlash().log())
            if (op.opcode == 0x20 || op.opcode == 0x52 || op.opcode == 0xD8) {
                EXPECT_EQ(op.opcode, r.opcode);
                sent.push_back(op.address);
            }
        EXPECT_EQ(sent, r.commands);
        const std::vector<uint8_t> got = fpgaFlash().read(r.first - 1, r.bytes + 2);
        EXPECT_EQ(got.front(), 0x00);
        EXPECT_EQ(got.back(), 0x00);
        EXPECT_EQ(std::count(got.begin(), got.end(), 0xFF), int(r.bytes));
    }
    // The scaler's flash takes the 32 KiB mode as its size code 1.
    c331Chip().flashWrite(0x47FFF, std::vector<uint8_t>(0x8002, 0x00));
    EXPECT_EQ(erase(0x04048000, 2, 1), 0);
    EXPECT_EQ(c331Chip().flashRead(0x47FFF, 2), std::vector<uint8_t>({0x00, 0xFF}));
    EXPECT_EQ(c331Chip().flashRead(0x4FFFF, 2), std::vector<uint8_t>({0xFF, 0x00}));
}

// Away from the controller, bytes 6 and 7 choose the flash: only byte 6 = 0 with byte 7 = 2 is
// FPGA 1's (not fitted here), everything else FPGA 0's.
TEST_F(DeviceCommands, FpgaSideFlashChoiceByBytesSixAndSeven)
{
    const std::vector<uint8_t> data = {0xDE, 0xAD, 0xBE, 0xEF};
    fpgaFlash().store(0x123400, data);
    const struct {
        uint8_t byte6, byte7;
        bool fpga0;
    } rows[] = {{0, 0, true}, {0, 1, true}, {0, 2, false}, {1, 2, true}, {0xFF, 2, true}, {1, 1, true}, {0, 3, true}};
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.byte6) + "/" + std::to_string(r.byte7));
        const uint32_t n = send(kFpgaSide, 0x72, flashRequest(0x123400, {4, 0}), kMessageBufferSize, r.byte6, r.byte7);
        if (r.fpga0) {
            ASSERT_EQ(n, 5u);
            EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 10, buf.begin() + 15), std::vector<uint8_t>({0, 0xDE, 0xAD, 0xBE, 0xEF}));
        } else {
            ASSERT_EQ(n, 1u);
            EXPECT_EQ(buf[10], 1);
        }
    }
}

TEST_F(DeviceCommands, FlashWriteFailuresAreAnsweredAsFailures)
{
    // Programming cannot set bits: without an erase the read-back differs.
    fpgaFlash().store(0x20000, std::vector<uint8_t>(4, 0x00));
    EXPECT_EQ(writeFlash(0x01020000, {0x12, 0x34, 0x56, 0x78}), 1);
    TestRoot::acceptViolations();

    // The count runs past the frame: refused before anything is written.
    fpgaFlash().clearLog();
    ASSERT_EQ(send(kController, 0x71, flashRequest(0x01030000, {200, 0, 0, 0, 1, 2, 3})), 1u);
    EXPECT_EQ(buf[10], 1);
    EXPECT_TRUE(fpgaFlash().logOf(0x02).empty());

    // Past the end of the region, or of the window.
    EXPECT_EQ(writeFlash(0x017FFFFE, {1, 2, 3}), 1);
    EXPECT_EQ(writeFlash(0x004BFFFE, {1, 2, 3}), 1);
    EXPECT_TRUE(fpgaFlash().logOf(0x02).empty());

    // FPGA 1's flash is not fitted, nor is a flash behind region 8.
    EXPECT_EQ(writeFlash(0x03000000, {1}), 1);
    EXPECT_EQ(writeFlash(0x08000000, {1}), 1);
    EXPECT_EQ(erase(0x08000000, 1, 1), 1);

    // A flash that stops answering.
    EXPECT_EQ(erase(0x01040000, 1, 1), 0);
    fpgaFlash().failNextTransfers(100);
    EXPECT_EQ(writeFlash(0x01040000, {1, 2}), 1);
}

TEST_F(DeviceCommands, FlashReadsNeverReturnStaleBytes)
{
    // The region without a device answers zeros, not what the buffer held.
    ASSERT_EQ(send(kController, 0x72, flashRequest(0x08000000, {16, 0})), 17u);
    EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 10, buf.begin() + 27), std::vector<uint8_t>(17, 0));

    const struct {
        const char* name;
        uint32_t address;
        uint16_t n;
        uint32_t capacity;
    } refused[] = {
        {"past the region's end", 0x017FFFF0, 0x20, kMessageBufferSize},
        {"n = 0 at address 0", 0x01000000, 0, kMessageBufferSize},
        {"past the window", 0x004BFFF0, 0x20, kMessageBufferSize},
        {"FPGA 1's flash is not fitted", 0x03000000, 4, kMessageBufferSize},
        {"longer than the transport's buffer", 0x01000000, 0x1000, 0x800},
    };
    for (const auto& c : refused) {
        ASSERT_EQ(send(kController, 0x72, flashRequest(c.address, {uint8_t(c.n), uint8_t(c.n >> 8)}), c.capacity), 1u) << c.name;
        EXPECT_EQ(buf[10], 1) << c.name;
    }
    // An empty read inside a region answers status 0 and no data, whichever device it names.
    for (uint32_t address : {0x01000010u, 0x00480000u, 0x03000010u, 0x04000010u, 0x08000010u}) {
        ASSERT_EQ(send(kController, 0x72, flashRequest(address, {0, 0})), 1u) << std::hex << address;
        EXPECT_EQ(buf[10], 0) << std::hex << address;
    }
}

}

namespace {

TEST_F(DeviceCommands, UnwritableConfigurationAnswersFailureAndAppliesNothing)
{
    // The gateway or the mask cannot be written: the address is not stored without them, nor
    // before them in a save of its own. Then a folder where the INI file should be: every write of
    // it fails.
    const std::string ini = TestRoot::path(ConfigEngine::kIniPath);
    const QByteArray before = TestRoot::readFile(ConfigEngine::kIniPath);
    for (const int failing : {int(ConfigItem::GateWay), int(ConfigItem::SubNetMask), -1}) {
        SCOPED_TRACE(failing);
        const bool folder = failing < 0;
        if (folder) {
            ASSERT_EQ(::remove(ini.c_str()), 0);
            ASSERT_TRUE(TestRoot::writeFile(std::string(ConfigEngine::kIniPath) + "/x", "x"));
        }
        g_port = 5005;
        ConfigEngine::failWritesOf(failing);
        const uint32_t r = send(kController, 0xA4, netPayload({10, 0, 0, 7}, {255, 255, 0, 0}, {10, 0, 0, 1}, 6000));
        ConfigEngine::failWritesOf(-1);
        ASSERT_EQ(r, 1u);
        EXPECT_EQ(buf[10], 1);
        EXPECT_TRUE(commands().empty());
        EXPECT_EQ(g_app_reset_flag.load(), 0);
        EXPECT_EQ(g_port.load(), 5005);
        EXPECT_EQ(ConfigEngine::p_config->read_config_variant(ConfigItem::IPAddress).toString(), QStringLiteral("192.168.1.199"));
        if (!folder) {
            EXPECT_EQ(TestRoot::readFile(ConfigEngine::kIniPath), before);
        }
    }

    g_str_barcode = "OLD";
    ASSERT_EQ(send(kController, 0xA2, {30, 5, 0, 'S', 'N', '1'}), 2u);
    EXPECT_EQ(buf[10], 2) << "the barcode did not reach the file";
    EXPECT_EQ(g_str_barcode.get(), "OLD");
}

}
