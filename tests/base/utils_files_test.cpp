// File helpers under the simulated root, and the configuration copies into the globals.
#include "params/config_engine.h"
#include "base/global.h"
#include "platform/paths.h"
#include "test_root.h"
#include "base/utils.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(UtilsFiles, ExistenceChecksUseTheRoot)
{
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/a.ini", "x"));
    EXPECT_TRUE(Utils::isFileExists("/data/configs/a.ini", true));
    EXPECT_TRUE(Utils::isFileExists("/data/configs", false));
    EXPECT_FALSE(Utils::isFileExists("/data/configs", true));
    EXPECT_TRUE(Utils::isDirExists("/data/configs"));
    EXPECT_FALSE(Utils::isDirExists("/data/configs/a.ini"));
    // The host's own files are not the box's.
    EXPECT_FALSE(Utils::isFileExists("/etc/passwd", false));
    EXPECT_FALSE(Utils::isDirExists("/usr"));
}

TEST(UtilsFiles, FileListTakesRegularFilesWithTheSuffix)
{
    ASSERT_TRUE(TestRoot::writeFile("/data/smartmapping/b.bin", "1"));
    ASSERT_TRUE(TestRoot::writeFile("/data/smartmapping/a.bin", "2"));
    ASSERT_TRUE(TestRoot::writeFile("/data/smartmapping/c.txt", "3"));
    ASSERT_TRUE(TestRoot::writeFile("/data/smartmapping/d.bin.txt", "4"));
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(TestRoot::path("/data/smartmapping/e.bin"))));
    ASSERT_EQ(symlink(TestRoot::path("/data/smartmapping/a.bin").c_str(),
                      TestRoot::path("/data/smartmapping/f.bin").c_str()), 0);
    ASSERT_EQ(mkfifo(TestRoot::path("/data/smartmapping/g.bin").c_str(), 0600), 0);

    QStringList list{"/kept"};
    Utils::get_file_list_smartpath(list, "/data/smartmapping/", "bin");
    EXPECT_EQ(list, (QStringList{"/kept", "/data/smartmapping/a.bin", "/data/smartmapping/b.bin"}));

    list.clear();
    Utils::get_file_list_smartpath(list, "/data/none", "bin");
    EXPECT_TRUE(list.isEmpty());
}

class ConfigCopies : public ::testing::Test {
protected:
    void writeIni(const QByteArray& body)
    {
        ASSERT_TRUE(TestRoot::writeFile("/data/configs/tcpip.ini", "[config]\n" + body));
    }
};

TEST_F(ConfigCopies, ValuesReachTheGlobals)
{
    writeIni("TcpPort=6000\nIPAddress=10.0.0.5\nSubNetMask=255.0.0.0\nGateWay=10.0.0.1\n"
             "Barcode=BC42\nWifiIPAddress=192.168.22.9\nEDIDCheck=Never\nSourceCheck=7\n"
             "ImageLayoutPassword=Yes\nVyrMaxPixel_UINT=2000000\nusbupgradedir=UP\n");
    ASSERT_NE(ConfigEngine::pInstance(), nullptr);
    EXPECT_EQ(g_port.load(), 6000);
    EXPECT_EQ(g_int_tcp_port.load(), 6000);
    EXPECT_EQ(g_str_ip, QString("10.0.0.5"));
    EXPECT_EQ(g_srt_mask, QString("255.0.0.0"));
    EXPECT_EQ(g_str_gateway, QString("10.0.0.1"));
    EXPECT_EQ(g_str_barcode, QString("BC42"));
    EXPECT_EQ(g_str_wifi_ip, QString("192.168.22.9"));
    EXPECT_EQ(g_check_edid, QString("Never"));
    EXPECT_EQ(g_check_source.load(), 7u);
    EXPECT_EQ(g_imagelayoutpassword, QString("Yes"));
    EXPECT_EQ(g_vyr_max_pixel.load(), 2000000u);
    EXPECT_EQ(g_usb_grade_path, QString("UP"));
    EXPECT_EQ(g_skyhub_cloudserverport.load(), 0); // blank port
    EXPECT_EQ(g_skyhub_cloud.load(), 0);
}

TEST_F(ConfigCopies, BadTcpPortFallsBack)
{
    writeIni("TcpPort=0\n");
    ConfigEngine* engine = ConfigEngine::pInstance();
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(g_port.load(), 5005);
    for (const char* port : {"0", "65536", "abc", "-5"}) {
        engine->write_config_variant(ConfigItem::TcpPort, QString(port));
        g_port = 1;
        Utils::getIPAddress();
        EXPECT_EQ(g_port.load(), 5005) << port;
        EXPECT_EQ(g_int_tcp_port.load(), 5005) << port;
    }
    EXPECT_TRUE(TestRoot::readFile("/data/keltoqz/log/jtcEnglneLog").contains("config/TcpPort \"65536\""));
    engine->write_config_variant(ConfigItem::TcpPort, 65535);
    Utils::getIPAddress();
    EXPECT_EQ(g_port.load(), 65535);
}

TEST_F(ConfigCopies, CloudFlag)
{
    ConfigEngine* engine = ConfigEngine::pInstance();
    ASSERT_NE(engine, nullptr);
    Utils::getIPAddress();
    EXPECT_EQ(g_skyhub_cloud.load(), 0);
    const ConfigItem::ConfigName texts[] = {ConfigItem::SkyhubServerIp, ConfigItem::SkyhubUserIp,
                                            ConfigItem::SkyhubControllerName};
    for (ConfigItem::ConfigName id : texts) {
        engine->write_config_variant(id, QString("x"));
        Utils::getIPAddress();
        EXPECT_EQ(g_skyhub_cloud.load(), 1) << id;
        engine->write_config_variant(id, QString(" "));
    }
    engine->write_config_variant(ConfigItem::SkyhubServerPort, QString("8080"));
    Utils::getIPAddress();
    EXPECT_EQ(g_skyhub_cloudserverport.load(), 8080);
    EXPECT_EQ(g_skyhub_cloud.load(), 1);
    engine->write_config_variant(ConfigItem::SkyhubServerPort, QString(" "));
    Utils::getIPAddress();
    EXPECT_EQ(g_skyhub_cloud.load(), 0);
}

TEST_F(ConfigCopies, AddressThatIsNotDottedIPv4KeepsThePreviousOne)
{
    ConfigEngine* engine = ConfigEngine::pInstance();
    ASSERT_NE(engine, nullptr);
    struct Address {
        ConfigItem::ConfigName id;
        SharedText* global;
        const char* good;
    };
    const Address addresses[] = {{ConfigItem::IPAddress, &g_str_ip, "10.9.8.7"},
                                 {ConfigItem::SubNetMask, &g_srt_mask, "255.255.0.0"},
                                 {ConfigItem::GateWay, &g_str_gateway, "10.9.0.1"},
                                 {ConfigItem::WifiIPAddress, &g_str_wifi_ip, "192.168.23.1"}};
    const char* bad[] = {"", " ", "10.1.2", "10.1.2.3.4", "10.1.2.256", "010.1.2.3", "10.1.2.3; reboot",
                         "a.b.c.d", "10..2.3"};
    for (const Address& a : addresses) {
        engine->write_config_variant(a.id, QString(a.good));
        Utils::getIPAddress();
        ASSERT_EQ(a.global->get(), QString(a.good)) << a.id;
        for (const char* value : bad) {
            engine->write_config_variant(a.id, QString(value));
            Utils::getIPAddress();
            EXPECT_EQ(a.global->get(), QString(a.good)) << a.id << " \"" << value << "\"";
        }
    }
    EXPECT_TRUE(TestRoot::readFile("/data/keltoqz/log/jtcEnglneLog").contains("10.1.2.3; reboot"));
}

TEST(SharedTextSetting, ReadersSeeWholeValuesWhileItIsRewritten)
{
    SharedText text("0.0.0.0");
    const QString values[2] = {QStringLiteral("192.168.100.200"), QStringLiteral("10.0.0.1")};
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop.load(); ++i)
            text = values[i & 1];
    });
    int torn = 0;
    for (int i = 0; i < 20000; ++i) {
        const QString seen = text;
        torn += seen != values[0] && seen != values[1] && seen != QLatin1String("0.0.0.0");
    }
    stop = true;
    writer.join();
    EXPECT_EQ(torn, 0);
}

}
