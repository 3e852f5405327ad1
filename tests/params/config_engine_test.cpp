#include "params/config_engine.h"
#include "base/global.h"
#include "test_root.h"
#include "platform/sim/sim_board.h"

#include <QSettings>
#include <functional>
#include <vector>
#include <gtest/gtest.h>
#include <string>

namespace {

QSettings iniOnDisk()
{
    return QSettings(QString::fromStdString(TestRoot::path("/data/configs/tcpip.ini")), QSettings::IniFormat);
}

}

// The INI items as the settings table gives them: id, key, default text, and the global its value
// is copied into (null when none reads it).
struct IniRow {
    int id;
    const char* key;
    const char* defaultText;
    const char* written; // a value put into the file to see where it goes
    std::function<QString()> global;
};

std::vector<IniRow> iniTable()
{
    auto text = [](const SharedText& g) { return [&g] { return g.get(); }; };
    auto number = [](const auto& g) { return [&g] { return QString::number(g.load()); }; };
    return {
        {0, "config/TcpPort", "5005", "6123", number(g_port)},
        {1, "config/UdpPort", "5008", "6124", nullptr},
        {2, "config/IPAddress", "192.168.1.199", "10.1.2.3", text(g_str_ip)},
        {3, "config/SubNetMask", "255.255.255.0", "255.255.0.0", text(g_srt_mask)},
        {4, "config/GateWay", "192.168.1.1", "10.1.0.1", text(g_str_gateway)},
        {5, "config/MAC", "FF:FF:FF:FF:FF:FF", "00:11:22:33:44:55", nullptr},
        {6, "config/Barcode", " ", "BC-7", text(g_str_barcode)},
        {7, "config/WifiIPAddress", "192.168.22.101", "192.168.23.5", text(g_str_wifi_ip)},
        {8, "config/EDIDCheck", "Once", "Never", text(g_check_edid)},
        {9, "config/SourceCheck", "255", "7", number(g_check_source)},
        {10, "config/ImageLayoutPassword", "No", "Yes", text(g_imagelayoutpassword)},
        {11, "config/skyhubserverip", " ", "cloud.example", text(g_skyhub_cloudserverip)},
        {12, "config/skyhubserverport", " ", "8080", number(g_skyhub_cloudserverport)},
        {13, "config/skyhubuserip", " ", "user-1", text(g_skyhub_clouduserid)},
        {14, "config/skyhubcontrollername", " ", "box-1", text(g_skyhub_controllername)},
        {15, "config/VyrMaxPixel_UINT", "10485760", "2000000", number(g_vyr_max_pixel)},
        {16, "config/usbupgradedir", "VYR-R29 Rev.c", "UPG", text(g_usb_grade_path)},
    };
}

TEST(Config, MissingFileIsCreatedWithEveryKeyAndItsDefault)
{
    ConfigEngine* engine = ConfigEngine::pInstance();
    ASSERT_NE(engine, nullptr);
    QSettings ini = iniOnDisk();
    EXPECT_EQ(ini.allKeys().size(), 17);
    for (const IniRow& r : iniTable()) {
        EXPECT_EQ(ini.value(r.key).toString(), r.defaultText) << r.key;
        EXPECT_EQ(engine->read_config_variant(r.id).toString(), r.defaultText) << r.key;
        EXPECT_EQ(ConfigEngine::strToItem(r.key), r.id) << r.key;
        EXPECT_EQ(ConfigEngine::strToItem(QString(r.key).mid(7)), r.id) << r.key;
        EXPECT_TRUE(ConfigEngine::containsItemStr(r.key)) << r.key;
        if (!r.global)
            continue;
        // A blank cloud port is 0; every other default reaches its global as it is.
        const QString expected = r.id == ConfigItem::SkyhubServerPort ? QStringLiteral("0") : QString(r.defaultText);
        EXPECT_EQ(r.global(), expected) << r.key;
    }
    EXPECT_EQ(g_int_tcp_port.load(), 5005);
    EXPECT_EQ(g_skyhub_cloud.load(), 0);
    bool sawChattr = false;
    for (const std::string& c : platform::Sim::shellSim().commands())
        sawChattr |= c == "chattr +S /data/configs/tcpip.ini";
    EXPECT_TRUE(sawChattr);
}

TEST(Config, EveryKeyReachesItsGlobal)
{
    QByteArray body = "[config]\n";
    for (const IniRow& r : iniTable())
        body += QByteArray(r.key).mid(7) + "=" + r.written + "\n";
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/tcpip.ini", body));
    ConfigEngine* engine = ConfigEngine::pInstance();
    ASSERT_NE(engine, nullptr);
    for (const IniRow& r : iniTable()) {
        EXPECT_EQ(engine->read_config_variant(r.id).toString(), r.written) << r.key;
        if (r.global) {
            EXPECT_EQ(r.global(), r.written) << r.key;
        }
    }
    EXPECT_EQ(g_int_tcp_port.load(), 6123);
    EXPECT_EQ(g_skyhub_cloud.load(), 1);
}

TEST(Config, StoredValuesWinAndReachTheGlobals)
{
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/tcpip.ini",
                                    "[config]\nTcpPort=6000\nIPAddress=10.1.2.3\nskyhubserverip=cloud.example\n"));
    ConfigEngine::pInstance();
    EXPECT_EQ(g_port.load(), 6000);
    EXPECT_EQ(g_int_tcp_port.load(), 6000);
    EXPECT_EQ(g_str_ip, "10.1.2.3");
    EXPECT_EQ(g_skyhub_cloud.load(), 1);
    EXPECT_EQ(iniOnDisk().value("config/GateWay").toString(), "192.168.1.1") << "missing keys written back";
}

TEST(Config, ReadWriteBoundsAndPersistence)
{
    ConfigEngine* engine = ConfigEngine::pInstance();
    EXPECT_FALSE(engine->read_config_variant(17).isValid());
    EXPECT_FALSE(engine->read_config_variant(-1).isValid());
    EXPECT_FALSE(engine->read_config_variant(255).isValid());
    EXPECT_FALSE(engine->write_config_variant(17, "x"));
    EXPECT_TRUE(engine->write_config_variant(ConfigItem::Barcode, "SN-1"));
    EXPECT_EQ(engine->read_config_variant(ConfigItem::Barcode).toString(), "SN-1");
    EXPECT_EQ(iniOnDisk().value("config/Barcode").toString(), "SN-1");
    EXPECT_EQ(ConfigEngine::strToItem("GateWay"), int(ConfigItem::GateWay));
    EXPECT_TRUE(ConfigEngine::containsItemStr("config/MAC"));
    EXPECT_EQ(ConfigEngine::pInstance(), engine);
}

TEST(Config, BadTcpPortFallsBack)
{
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/tcpip.ini", "[config]\nTcpPort=70000\n"));
    ConfigEngine::pInstance();
    EXPECT_EQ(g_port.load(), 5005);
}

TEST(DeviceId, FromTheSocWords)
{
    platform::Sim::memSim().setIdWords(0, 0, 0);
    ConfigEngine::pInstance();
    EXPECT_EQ(std::string(g_pid, 32), std::string(32, '0'));
    EXPECT_EQ(platform::Sim::memSim().read16(0x1F00400C) & 0x0100, 0) << "bit 8 cleared";
}

TEST(DeviceId, NibblesGoWhereTheirFormulasPut)
{
    // U = 0x1000: U3 = 1 shows at 0 and through (U3+V3)&1 at 7, (U3+V3+W3)%3 at 21, (U3+V2+U2)%3 at 23.
    platform::Sim::memSim().setIdWords(0x1000, 0, 0);
    ConfigEngine::pInstance();
    std::string expected(32, '0');
    expected[0] = '1';
    expected[7] = '1';
    expected[21] = '1';
    expected[23] = '1';
    EXPECT_EQ(std::string(g_pid, 32), expected);
}

TEST(DeviceId, MixedWords)
{
    platform::Sim::memSim().setIdWords(0xFEDC, 0xBA98, 0x7654);
    ConfigEngine::pInstance();
    // U3..U0 = F,E,D,C  V3..V0 = B,A,9,8  W3..W0 = 7,6,5,4
    const int U3 = 15, U2 = 14, U1 = 13, U0 = 12, V3 = 11, V2 = 10, V1 = 9, V0 = 8, W3 = 7, W2 = 6, W1 = 5, W0 = 4;
    const int v[32] = {U3, V3, W3, V1, W1, W0, W2, (U3 + V3) & 1, (W3 + V1) >> 1, V0, V2, (W0 + W1) >> 1,
                       (U3 + V3) >> 1, (W0 + W1) & 1, (W3 + V1) & 1, U2, U1, (W2 + V0) & 1, (V2 + U2) & 1,
                       (U1 + U0) & 1, (U1 + U0) >> 1, (U3 + V3 + W3) % 3, (U3 + V3 + W3) / 3, (U3 + V2 + U2) % 3,
                       (U3 + V2 + U2) / 3, (V1 + W2 + U1) % 3, (V1 + W2 + U1) / 3, (W1 + V0 + U0) % 3,
                       (W1 + V0 + U0) / 3, (V2 + U2) >> 1, (W2 + V0) >> 1, U0};
    EXPECT_EQ(std::string(g_pid, 32).substr(0, 7), "fb79546");
    EXPECT_EQ(std::string(g_pid, 32)[31], 'c');
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(g_pid[i], "0123456789abcdef"[v[i]]) << i;
}

TEST(DeviceId, MissingWindowStillLoadsTheIni)
{
    platform::Sim::memSim().setOpenFails(true);
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/tcpip.ini", "[config]\nTcpPort=6001\n"));
    EXPECT_NE(ConfigEngine::pInstance(), nullptr);
    EXPECT_EQ(std::string(g_pid, 32), std::string(32, '\0'));
    EXPECT_EQ(g_port.load(), 6001);
}

TEST(LauncherFile, UpdateStatus)
{
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/led_load_config.ini",
                                    "[app-1]\napp_path=/data/app/vyrR58N -platform linuxfb\napp_name=vyrR58N\n"));
    ConfigEngine::pInstance();
    EXPECT_EQ(g_update_status.load(), 1);
}
