// The access-point manager and the configuration port's commands: what reaches hostapd's and
// udhcpd's files, the INI file and the recording shell, and what hostile fields leave untouched.
#include "message_deal_fixture.h"

#include "base/global.h"
#include "base/race_pause.h"
#include "base/tick_alarm.h"
#include "comm/wifi_config.h"
#include "params/block_layout.h"
#include "params/config_engine.h"
#include "platform/sim/sim_board.h"
#include "test_root.h"
#include "program.h"
#include "race_hold.h"
#include "store_face.h"

#include <QFile>
#include <QLockFile>
#include <QDir>
#include <QSettings>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <signal.h>
#include <sys/wait.h>

namespace {

using platform::Sim::shellSim;

const char* const kInetLines =
    "          inet addr:192.168.22.101  Bcast:192.168.22.255  Mask:255.255.255.0\n"
    "          inet6 addr: fe80::2e0:4cff:fe81:92a1/64 Scope:Link\n";
const char* const kHwLine = "wlan0     Link encap:Ethernet  HWaddr 00:E0:4C:81:92:A1  \n";

class WifiConfig : public MessageDealTest {
protected:
    void SetUp() override
    {
        MessageDealTest::SetUp();
        ConfigEngine::pInstance();
        shellSim().clearScripts();
        savedIp = g_str_wifi_ip.get();
        savedWired = QStringList({g_str_ip.get(), g_srt_mask.get()});
        g_str_wifi_ip = QStringLiteral("192.168.22.101");
        ASSERT_TRUE(TestRoot::writeFile("/etc/udhcpd.conf", "old dhcp\n"));
        wifi.initialize(false);
        shellSim().clearLog();
    }
    void TearDown() override
    {
        g_str_wifi_ip = savedIp;
        g_str_ip = savedWired[0];
        g_srt_mask = savedWired[1];
        MessageDealTest::TearDown();
    }
    // The answer text, or "<none>" when the datagram is no command.
    std::string ask(const std::string& datagram) { return ask(wifi, datagram); }
    static std::string ask(R58_WIFI_CONFIG& wifi, const std::string& datagram)
    {
        std::string text;
        if (!wifi.answer(reinterpret_cast<const uint8_t*>(datagram.data()), uint32_t(datagram.size()), &text))
            return "<none>";
        return text;
    }
    static std::vector<std::string> log() { return shellSim().commands(); }
    static bool logged(const std::string& command)
    {
        for (const std::string& c : log())
            if (c == command)
                return true;
        return false;
    }
    static QString iniAddress()
    {
        QSettings s(QString::fromStdString(TestRoot::path(ConfigEngine::kIniPath)), QSettings::IniFormat);
        return s.value("config/WifiIPAddress").toString();
    }

    R58_WIFI_CONFIG wifi;
    QString savedIp;
    QStringList savedWired;
};

TEST_F(WifiConfig, SetDataWritesBothFilesAndTheReadBackAnswersInTheToolsNumbering)
{
    EXPECT_EQ(ask("AT+SETDATA=2,0,Café AP,3,secret123,5,10.1.2.3,5005"), "OK+SETDATA");
    const QByteArray hostapd = TestRoot::readFile(R58_WIFI_CONFIG::kHostapdConf);
    for (const char* line : {"interface=wlan0\n", "\nssid=Café AP\n", "\nchannel=6\n", "\nwpa=2\n",
                             "\nwpa_passphrase=secret123\n", "\nwpa_key_mgmt=WPA-PSK\n", "\nmax_num_sta=8\n",
                             "\nwpa_group_rekey=86400\n"})
        EXPECT_TRUE(hostapd.contains(line)) << line;
    EXPECT_EQ(hostapd.count('\n'), 27);
    EXPECT_EQ(TestRoot::readFile(R58_WIFI_CONFIG::kUdhcpdConf),
              QByteArray("#\nstart  10.1.2.150\nend  10.1.2.199\n#\ninterface wlan0\n#\noption dns 10.1.2.1\n"
                         "option router 10.1.2.1\noption subnet 255.255.255.0\n#\noption domain local\n"
                         "option lease 86400\n"));
    EXPECT_EQ(iniAddress(), QString("10.1.2.3"));
    EXPECT_EQ(wifi.resetFlag(), 0); // restart field "0"
    wifi.wifi_ap_start_up();
    EXPECT_TRUE(logged("ifconfig wlan0 10.1.2.3"));

    // busybox prints an inet6 line after the IPv4 one; the address still comes from the first.
    shellSim().script("ifconfig wlan0 | grep inet", 0, kInetLines);
    shellSim().script("ifconfig wlan0 | grep HWaddr", 0, kHwLine);
    EXPECT_EQ(ask("AT+CHECKDATA"), "OK+CHECKDATA=2,Café AP,3,secret123,6,192.168.22.101," +
                                       std::to_string(g_port.load()) + ",00E04C8192A1,115200");
    // Set back to the address the box started with: stored for the next start too; restart "1"
    // requests a restart; channel field 13, the last, is radio channel 14.
    EXPECT_EQ(ask("AT+SETDATA=2,1,x,0,,13,192.168.22.101,5005"), "OK+SETDATA");
    EXPECT_EQ(iniAddress(), QString("192.168.22.101"));
    EXPECT_EQ(wifi.resetFlag(), 1);
    EXPECT_TRUE(TestRoot::readFile(R58_WIFI_CONFIG::kHostapdConf).contains("\nchannel=14\n"));
    EXPECT_TRUE(TestRoot::readFile(R58_WIFI_CONFIG::kHostapdConf).contains("\nwpa=0\nwpa_key_mgmt=WPA-PSK\n"));
}

// hostapd starts only with a passphrase line of 8-63 characters, WPA or not: a shorter one for an
// open access point could be kept nowhere and is refused.
TEST_F(WifiConfig, PassphraseLineIsOneHostapdAccepts)
{
    const std::string longest(63, 'p');
    const struct {
        const char* security;
        std::string passphrase;
        const char* answer;
        bool line;
    } rows[] = {{"0", "", "OK+SETDATA", false},        {"0", "1234567", "ERR", false},
                {"0", "12345678", "OK+SETDATA", true},  {"0", longest, "OK+SETDATA", true},
                {"0", longest + "p", "ERR", false},
                {"3", "1234567", "ERR", false},         {"3", "12345678", "OK+SETDATA", true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.security) + " / " + row.passphrase);
        ASSERT_TRUE(TestRoot::writeFile(R58_WIFI_CONFIG::kHostapdConf, "old\n"));
        EXPECT_EQ(ask(std::string("AT+SETDATA=2,0,ap,") + row.security + "," + row.passphrase + ",5,10.1.2.3,5005"),
                  row.answer);
        const QByteArray hostapd = TestRoot::readFile(R58_WIFI_CONFIG::kHostapdConf);
        if (std::string(row.answer) == "ERR")
            EXPECT_EQ(hostapd, QByteArray("old\n"));
        else
            EXPECT_EQ(hostapd.contains(QByteArray::fromStdString("\nwpa_passphrase=" + row.passphrase + "\n")), row.line);
        EXPECT_EQ(hostapd.contains("wpa_passphrase="), row.line);
    }
}

// A phone app reads back what it set before the restart it asked for: the restart still brings
// up the address that was set, on the subnet the DHCP file was written for.
TEST_F(WifiConfig, ReadBackBeforeTheRestartKeepsTheAddressThatWasSet)
{
    for (int i = 0; i < 3; ++i)
        wifi.wifi_ap_start_up();
    EXPECT_EQ(ask("AT+SETDATA=2,1,ap,3,secret123,5,10.1.2.3,5005"), "OK+SETDATA");
    shellSim().script("ifconfig wlan0 | grep inet", 0, kInetLines);
    const std::string shown = "OK+CHECKDATA=2,ap,3,secret123,6,192.168.22.101,"; // the live address
    EXPECT_EQ(ask("AT+CHECKDATA").substr(0, shown.size()), shown);
    shellSim().clearLog();
    wifi.wifi_reset();
    wifi.wifi_reset();
    wifi.wifi_ap_start_up();
    EXPECT_EQ(log().back(), "ifconfig wlan0 10.1.2.3");
    EXPECT_TRUE(TestRoot::readFile(R58_WIFI_CONFIG::kUdhcpdConf).contains("\nstart  10.1.2.150\n"));
}

TEST_F(WifiConfig, HostileFieldsAreRefusedAndChangeNothing)
{
    ASSERT_EQ(ask("AT+SETDATA=2,0,Good,3,password1,5,10.1.2.3,5005"), "OK+SETDATA");
    const QByteArray hostapd = TestRoot::readFile(R58_WIFI_CONFIG::kHostapdConf);
    const QByteArray dhcp = TestRoot::readFile(R58_WIFI_CONFIG::kUdhcpdConf);
    const std::vector<std::string> bad = {
        "AT+SETDATA=2,1,x,3,12345678,5,1.2.3.4;reboot,5005",
        "AT+SETDATA=2,1,x,3,12345678,5,1.2.3,5005",
        "AT+SETDATA=2,1,x,3,12345678,5,1.2.3.256,5005",
        "AT+SETDATA=2,1,x,3,12345678,5,01.2.3.4,5005",
        "AT+SETDATA=2,1,x,3,12345678,5,$(reboot),5005",
        "AT+SETDATA=2,1,a\nwpa=0,3,12345678,5,1.2.3.4,5005",
        "AT+SETDATA=2,1,a\rb,3,12345678,5,1.2.3.4,5005",
        "AT+SETDATA=2,1,a\tb,3,12345678,5,1.2.3.4,5005",
        "AT+SETDATA=2,1,a\x7F" "b,3,12345678,5,1.2.3.4,5005",
        "AT+SETDATA=2,1,a\xC2\x85" "b,3,12345678,5,1.2.3.4,5005", // U+0085, a line break
        "AT+SETDATA=2,1,a\xFF" "b,3,12345678,5,1.2.3.4,5005",     // not UTF-8
        "AT+SETDATA=2,1,x,3,1234\t5678,5,1.2.3.4,5005",
        "AT+SETDATA=2,1,x,3,12345678,5,1.2.3.4,5005\r\n\r\n",
        "AT+SETDATA=2,1,x,3,12345678,5,1.2.3.4,5005\n\r",
        "AT+SETDATA=2,1,x,3,12345678,5,1.2.3.4\r\n,5005",
        "AT+SETDATA=2,1,,3,12345678,5,1.2.3.4,5005",
        "AT+SETDATA=2,1," + std::string(33, 's') + ",3,12345678,5,1.2.3.4,5005",
        "AT+SETDATA=2,1,x,3,1234567,5,1.2.3.4,5005",
        "AT+SETDATA=2,1,x,3,1234567\n8,5,1.2.3.4,5005",
        "AT+SETDATA=2,1,x,3," + std::string(64, 'p') + ",5,1.2.3.4,5005",
        "AT+SETDATA=2,1,x,3,pass\xC3\xA9word,5,1.2.3.4,5005",
        "AT+SETDATA=2,1,x,5,12345678,5,1.2.3.4,5005",
        "AT+SETDATA=2,1,x,z,12345678,5,1.2.3.4,5005",
        "AT+SETDATA=2,1,x,3,12345678,14,1.2.3.4,5005",
        "AT+SETDATA=2,1,x,3,12345678,-1,1.2.3.4,5005",
        "AT+SETDATA=2,1,x,3,12345678,5,1.2.3.4,50a5",
        // Any other port than the control port in force is not set here.
        "AT+SETDATA=2,1,x,3,12345678,5,1.2.3.4," + std::to_string(g_port.load() + 1),
        "AT+SETDATA=2,1,x,3,12345678,5,1.2.3.4",
        "AT+SETDATA=2,1,x",
        "AT+SETDATA=2",
    };
    shellSim().clearLog();
    for (const std::string& d : bad) {
        SCOPED_TRACE(d);
        EXPECT_EQ(ask(d), "ERR");
        EXPECT_EQ(wifi.resetFlag(), 0);
    }
    EXPECT_EQ(TestRoot::readFile(R58_WIFI_CONFIG::kHostapdConf), hostapd);
    EXPECT_EQ(TestRoot::readFile(R58_WIFI_CONFIG::kUdhcpdConf), dhcp);
    EXPECT_EQ(iniAddress(), QString("10.1.2.3"));
    EXPECT_TRUE(log().empty());
    wifi.wifi_ap_start_up();
    EXPECT_EQ(log(), std::vector<std::string>({"ifconfig wlan0 10.1.2.3"}));
}

// The access point's address must leave the phone a way to the box: a unicast host address,
// neither the network nor the broadcast address of its /24, outside the DHCP pool (.150-.199) and
// off the wired interface's subnet (192.168.1.199/24 here). A refused one stores nothing.
TEST_F(WifiConfig, AccessPointAddressIsOneThePhoneCanReach)
{
    g_str_ip = QStringLiteral("192.168.1.199");
    g_srt_mask = QStringLiteral("255.255.255.0");
    ASSERT_EQ(ask("AT+SETDATA=2,0,Good,3,password1,5,10.1.2.3,5005"), "OK+SETDATA");
    const struct {
        const char* address;
        bool taken;
    } rows[] = {
        {"0.0.0.0", false},        {"255.255.255.255", false}, {"127.0.0.1", false},     {"224.1.1.1", false},
        {"239.255.255.250", false}, {"0.1.2.3", false},        {"192.168.22.0", false},  {"192.168.22.255", false},
        {"192.168.22.160", false}, {"192.168.22.150", false},  {"192.168.22.199", false}, {"192.168.1.199", false},
        {"192.168.1.20", false},   {"192.168.22.149", true},   {"192.168.22.200", true},  {"192.168.22.1", true},
        {"192.168.22.254", true},  {"192.168.2.99", true},    {"223.255.0.1", true},     {"10.1.2.3", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.address);
        const QByteArray hostapd = TestRoot::readFile(R58_WIFI_CONFIG::kHostapdConf);
        const QByteArray dhcp = TestRoot::readFile(R58_WIFI_CONFIG::kUdhcpdConf);
        const QString ini = iniAddress();
        EXPECT_EQ(ask(std::string("AT+SETDATA=2,0,Good,3,password1,5,") + row.address + ",5005"),
                  row.taken ? "OK+SETDATA" : "ERR");
        if (!row.taken) {
            EXPECT_EQ(TestRoot::readFile(R58_WIFI_CONFIG::kHostapdConf), hostapd);
            EXPECT_EQ(TestRoot::readFile(R58_WIFI_CONFIG::kUdhcpdConf), dhcp);
            EXPECT_EQ(iniAddress(), ini);
            continue;
        }
        EXPECT_EQ(iniAddress(), QString(row.address));
        std::string net = row.address;
        net = net.substr(0, net.rfind('.') + 1);
        EXPECT_TRUE(TestRoot::readFile(R58_WIFI_CONFIG::kUdhcpdConf).contains(QByteArray::fromStdString("start  " + net + "150\n")));
    }
    // The start-up applies the last address taken.
    shellSim().clearLog();
    wifi.wifi_ap_start_up();
    EXPECT_EQ(log(), std::vector<std::string>({"ifconfig wlan0 10.1.2.3"}));
    // A wired subnet wider than /24 takes in the access point's /24 as well.
    g_srt_mask = QStringLiteral("255.255.0.0");
    EXPECT_EQ(ask("AT+SETDATA=2,0,Good,3,password1,5,192.168.22.101,5005"), "ERR");
    EXPECT_EQ(ask("AT+SETDATA=2,0,Good,3,password1,5,192.169.22.101,5005"), "OK+SETDATA");
    // From the wired side the rule holds for the address the access point takes next.
    R58_WIFI_CONFIG::p_wifi = &wifi;
    const uint8_t wired[] = {1, 0, 0, 0, 192, 169, 22, 7, 255, 255, 255, 0, 192, 169, 22, 1, 0x8D, 0x13};
    ASSERT_EQ(send(kController, 0xA4, std::vector<uint8_t>(std::begin(wired), std::end(wired))), 1u);
    EXPECT_EQ(buf[10], 1);
    R58_WIFI_CONFIG::p_wifi = nullptr;
    EXPECT_EQ(g_str_ip.get(), QStringLiteral("192.168.1.199"));
}

// What a phone app sends: a line end after the last field, and any printable character in the
// SSID and the passphrase. They reach hostapd's file whole and read back whole; none of it ever
// reaches a shell command.
TEST_F(WifiConfig, FieldsAsPhoneAppsSendThem)
{
    shellSim().script("ifconfig wlan0 | grep inet", 0, kInetLines);
    shellSim().script("ifconfig wlan0 | grep HWaddr", 0, kHwLine);
    const struct {
        std::string datagram, ssid, passphrase;
    } rows[] = {
        {"AT+SETDATA=2,0,MyAP,3,abcdefgh,5,192.168.22.101,5005\r\n", "MyAP", "abcdefgh"},
        {"AT+SETDATA=2,0,MyAP,3,abcdefgh,5,192.168.22.101,5005\n", "MyAP", "abcdefgh"},
        {"AT+SETDATA=2,0,MyAP,3,abcdefgh,5,192.168.22.101,5005\r", "MyAP", "abcdefgh"},
        {"AT+SETDATA=2,0,My\"AP,3,abcdefgh,5,192.168.22.101,5005", "My\"AP", "abcdefgh"},
        {"AT+SETDATA=2,0,a;b,3,abcdefgh,5,192.168.22.101,5005", "a;b", "abcdefgh"},
        {"AT+SETDATA=2,0, `$(reboot)` ,3,abc;defgh,5,192.168.22.101,5005", " `$(reboot)` ", "abc;defgh"},
        {"AT+SETDATA=2,0,#x='\\',3,p\"a'ss \\w`o#rd,5,192.168.22.101,5005\r\n", "#x='\\'", "p\"a'ss \\w`o#rd"},
        {"AT+SETDATA=2,0,Caf\xC3\xA9 \xE2\x98\x95,3," + std::string(63, '~') + ",5,192.168.22.101,5005", "Caf\xC3\xA9 \xE2\x98\x95",
         std::string(63, '~')},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.datagram);
        shellSim().clearLog();
        ASSERT_EQ(ask(row.datagram), "OK+SETDATA");
        const QByteArray hostapd = TestRoot::readFile(R58_WIFI_CONFIG::kHostapdConf);
        EXPECT_TRUE(hostapd.contains(QByteArray::fromStdString("\nssid=" + row.ssid + "\n")));
        EXPECT_TRUE(hostapd.contains(QByteArray::fromStdString("\nwpa_passphrase=" + row.passphrase + "\n")));
        EXPECT_EQ(hostapd.count('\n'), 27);
        EXPECT_EQ(ask("AT+CHECKDATA"), "OK+CHECKDATA=2," + row.ssid + ",3," + row.passphrase + ",6,192.168.22.101," +
                                           std::to_string(g_port.load()) + ",00E04C8192A1,115200");
        for (const std::string& command : log())
            EXPECT_EQ(command.find(row.ssid), std::string::npos) << command;
    }
    for (int i = 0; i < 3; ++i)
        wifi.wifi_ap_start_up();
    EXPECT_EQ(log().back(), "/usr/bin/hostapd /etc/rtl_hostapd_2G.conf -B");
}

TEST_F(WifiConfig, CommandWords)
{
    const std::string version = "OK+GETVER=0,5FAF,22032001,02,00,00,2022-03-2109:06:00,VYR_R58_IN_V13PCB20210915";
    struct Case {
        std::string datagram, answer;
        uint8_t flag;
    };
    const std::vector<Case> cases = {
        {"AT+GETVER", version, 0},
        {"AT+GETVER,whatever", version, 0},
        {std::string("AT+GETVER\0,junk", 15), version, 0},
        {"AT+GETVER\r\n", "ERR", 0},
        {"at+rst", "<none>", 0},
        {"AT", "<none>", 0},
        {"", "<none>", 0},
        {"AT+rst", "ERR", 0},
        {"AT+SETDATA=1", "OK+SETDATA", 0},
        {"AT+SETDATA=3,a,b", "OK+SETDATA", 0},
        {"AT+RST,1,2", "OK", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.datagram);
        EXPECT_EQ(ask(c.datagram), c.answer);
        EXPECT_EQ(wifi.resetFlag(), c.flag);
    }
}

TEST_F(WifiConfig, RestoreRewritesOnlyTheHostapdFile)
{
    ASSERT_EQ(ask("AT+SETDATA=2,0,Mine,4,abcdefgh,0,10.0.0.9,5005"), "OK+SETDATA");
    const QByteArray dhcp = TestRoot::readFile(R58_WIFI_CONFIG::kUdhcpdConf);
    EXPECT_EQ(ask("AT+RESTORE"), "OK");
    EXPECT_EQ(wifi.resetFlag(), 1);
    const QByteArray hostapd = TestRoot::readFile(R58_WIFI_CONFIG::kHostapdConf);
    EXPECT_TRUE(hostapd.contains("\nssid=VYR-WIFI_C1\n"));
    EXPECT_TRUE(hostapd.contains("\nchannel=6\n"));
    EXPECT_TRUE(hostapd.contains("\nwpa=0\nwpa_passphrase=40617293\n"));
    EXPECT_EQ(TestRoot::readFile(R58_WIFI_CONFIG::kUdhcpdConf), dhcp);
    EXPECT_EQ(wifi.settings().ap_ip, "10.0.0.9");
}

TEST_F(WifiConfig, MissingDhcpFileIsNotCreated)
{
    // A fresh root: no /etc at all.
    ASSERT_TRUE(QDir(QString::fromStdString(TestRoot::path("/etc"))).removeRecursively());
    EXPECT_EQ(ask("AT+SETDATA=2,0,Mine,2,abcdefgh,0,10.0.0.9,5005"), "OK+SETDATA");
    EXPECT_FALSE(TestRoot::exists(R58_WIFI_CONFIG::kUdhcpdConf));
    EXPECT_TRUE(TestRoot::readFile(R58_WIFI_CONFIG::kHostapdConf).contains("\nwpa=1\n"));
}

TEST_F(WifiConfig, StartUpAndRestartMachine)
{
    const std::vector<std::string> up = {"ifconfig wlan0 192.168.22.101", "udhcpd -fS /etc/udhcpd.conf &",
                                         "/usr/bin/hostapd /etc/rtl_hostapd_2G.conf -B"};
    const std::vector<std::string> kills = {"kill -9 `pidof /usr/bin/hostapd /etc/rtl_hostapd_2G.conf`",
                                            "kill -9 `pidof /usr/sbin/udhcpd  /etc/udhcpd.conf`"};
    for (int i = 0; i < 4; ++i)
        wifi.wifi_ap_start_up();
    EXPECT_EQ(log(), up);
    EXPECT_EQ(wifi.apState(), 3);
    // Restart: stop, then back to the first step.
    shellSim().clearLog();
    wifi.set_wifi_reset_flag();
    wifi.wifi_reset();
    EXPECT_EQ(log(), kills);
    EXPECT_EQ(wifi.resetFlag(), 2);
    wifi.wifi_reset();
    EXPECT_EQ(wifi.resetFlag(), 0);
    EXPECT_EQ(wifi.apState(), 0);
    // A restart during the start-up kills nothing.
    shellSim().clearLog();
    wifi.wifi_ap_start_up();
    wifi.set_wifi_reset_flag();
    wifi.wifi_reset();
    EXPECT_EQ(log(), std::vector<std::string>({up[0]}));
    // Any non-zero switch value keeps the access point down.
    for (uint8_t off : {uint8_t(1), uint8_t(2)}) {
        SCOPED_TRACE(int(off));
        testBlock(store)[blk::kWifiOff] = off;
        shellSim().clearLog();
        wifi.wifi_ap_start_up();
        wifi.wifi_reset();
        wifi.wifi_reset();
        EXPECT_TRUE(log().empty());
        EXPECT_EQ(wifi.resetFlag(), 2);
    }
    testBlock(store)[blk::kWifiOff] = 0;
    wifi.wifi_reset();
    EXPECT_EQ(wifi.resetFlag(), 0);
    // A tool's "off" acts at its apply: written only, the access point runs on.
    for (int i = 0; i < 3; ++i)
        wifi.wifi_ap_start_up();
    shellSim().clearLog();
    ASSERT_EQ(writeRam(blk::kWifiOff, {1}), 0);
    wifi.wifi_ap_start_up();
    wifi.wifi_reset();
    EXPECT_TRUE(log().empty());
    ASSERT_EQ(writeReg(11, 0x02, 0), 0);
    shellSim().clearLog(); // the apply's save
    wifi.wifi_reset();
    EXPECT_EQ(log(), kills);
}

TEST_F(WifiConfig, StoredAddressIsCheckedAtStart)
{
    const struct {
        const char* stored;
        const char* wired;      // address/mask of eth0
        const char* used;       // the access point's address in use
    } rows[] = {
        {"1.2.3.4;reboot", "192.168.1.199/255.255.255.0", "192.168.22.101"},
        {"", "192.168.1.199/255.255.255.0", "192.168.22.101"},
        {"1.2.3", "192.168.1.199/255.255.255.0", "192.168.22.101"},
        {"0.0.0.0", "192.168.1.199/255.255.255.0", "192.168.22.101"},
        {"192.168.22.160", "192.168.1.199/255.255.255.0", "192.168.22.101"},
        {"192.168.22.255", "192.168.1.199/255.255.255.0", "192.168.22.101"},
        {"192.168.1.199", "192.168.1.199/255.255.255.0", "192.168.22.101"},
        {"224.1.1.1", "192.168.1.199/255.255.255.0", "192.168.22.101"},
        {"192.168.30.101", "192.168.1.199/255.255.255.0", "192.168.30.101"},
        // The fallback itself on the wired subnet: the next /24 the wired side leaves free.
        {"192.168.22.101", "192.168.22.50/255.255.255.0", "192.168.23.101"},
        {"abc", "192.168.22.50/255.255.254.0", "192.168.24.101"},
        {"192.168.22.101", "192.168.1.5/255.255.0.0", "10.0.22.101"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.stored + std::string(" with eth0 ") + row.wired);
        const QStringList wired = QString(row.wired).split('/');
        g_str_ip = wired[0];
        g_srt_mask = wired[1];
        g_str_wifi_ip = QString(row.stored);
        ASSERT_TRUE(TestRoot::writeFile("/etc/udhcpd.conf", "old dhcp\n"));
        R58_WIFI_CONFIG fresh;
        fresh.initialize(false);
        // The DHCP pool follows the address in use.
        std::string net = row.used;
        net = net.substr(0, net.rfind('.') + 1);
        const QByteArray pool = QByteArray::fromStdString("start  " + net + "150\nend  " + net + "199\n");
        EXPECT_TRUE(TestRoot::readFile(R58_WIFI_CONFIG::kUdhcpdConf).contains(pool));
        shellSim().clearLog();
        fresh.wifi_ap_start_up();
        EXPECT_EQ(log(), std::vector<std::string>({std::string("ifconfig wlan0 ") + row.used}));
        EXPECT_TRUE(fresh.wifi_ap_udhcpd_config_file_create());
        EXPECT_TRUE(TestRoot::readFile(R58_WIFI_CONFIG::kUdhcpdConf).contains(pool));
    }
}

TEST_F(WifiConfig, LiveValuesFromInterfaceListings)
{
    struct Case {
        const char* what;
        int selector;
        const char* command;
        std::string output;
        const char* value;
    };
    const std::vector<Case> cases = {
        {"address with inet6 after it", 0, "ifconfig wlan0 | grep inet", kInetLines, "192.168.22.101"},
        {"mask", 2, "ifconfig wlan0 | grep inet", kInetLines, "255.255.255.0"},
        {"only inet6", 0, "ifconfig wlan0 | grep inet", "          inet6 addr: fe80::1/64 Scope:Link\n", "ERR"},
        {"busybox MAC", 3, "ifconfig wlan0 | grep HWaddr", kHwLine, "00E04C8192A1"},
        {"net-tools MAC", 3, "ifconfig wlan0 | grep HWaddr", "wlan0: flags=4163  ether 00:e0:4c:81:92:a1\n", "ERR"},
        {"short MAC", 3, "ifconfig wlan0 | grep HWaddr", "wlan0     Link encap:Ethernet  HWaddr 00:E0\n", "ERR"},
        {"no interface", 7, "ifconfig wlan1 | grep HWaddr", "", "ERR"},
        {"last line wins", 4, "ifconfig wlan1 | grep inet",
         "          inet addr:10.0.0.1  Mask:255.0.0.0\n          inet addr:10.0.0.2  Mask:255.0.0.0\n", "10.0.0.2"},
        {"gateway", 5, "route -n | grep wlan1 |grep UG",
         "0.0.0.0         10.0.0.254      0.0.0.0         UG    0      0        0 wlan1\n", "10.0.0.254"},
        {"short route line", 5, "route -n | grep wlan1 |grep UG", "0.0.0.0 10.0.0.254\n", "ERR"},
        {"address without colon", 0, "ifconfig wlan0 | grep inet", "inet\n", "ERR"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        shellSim().clearScripts();
        shellSim().script(c.command, 0, c.output);
        EXPECT_EQ(wifi.get_network_info(c.selector), QString(c.value));
    }
}

TEST_F(WifiConfig, DeviceInformationCarriesTheWifiPart)
{
    shellSim().script("ifconfig wlan0 | grep inet", 0, kInetLines);
    shellSim().script("ifconfig wlan0 | grep HWaddr", 0, kHwLine);
    shellSim().script("ifconfig wlan1 | grep inet", 0, "          inet addr:10.0.0.5  Bcast:10.0.0.255  Mask:255.255.0.0\n");
    shellSim().script("ifconfig wlan1 | grep HWaddr", 0, "wlan1     Link encap:Ethernet  HWaddr 00:1A:2B:3C:4D:5E  \n");
    shellSim().script("route -n | grep wlan1 |grep UG", 0,
                      "0.0.0.0         10.0.0.1        0.0.0.0         UG    0      0        0 wlan1\n");
    ASSERT_EQ(ask("AT+CHECKDATA").substr(0, 15), "OK+CHECKDATA=2,");
    EXPECT_EQ(send(kController, 0xA4, {16}), 208u); // no manager published
    R58_WIFI_CONFIG::p_wifi = &wifi;
    const uint32_t r = send(kController, 0xA4, {16});
    R58_WIFI_CONFIG::p_wifi = nullptr;
    ASSERT_EQ(r, 369u);
    EXPECT_EQ(buf[217], 2);
    EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 218, buf.begin() + 224), std::vector<uint8_t>({0, 0, 14, 0, 4, 12}));
    EXPECT_EQ(getU16(buf.data() + 288), uint16_t(g_port.load()));
    EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 290, buf.begin() + 294), std::vector<uint8_t>({192, 168, 22, 101}));
    EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 294, buf.begin() + 300), std::vector<uint8_t>({0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
    EXPECT_EQ(getU16(buf.data() + 364), 5005);
    EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 366, buf.begin() + 378),
              std::vector<uint8_t>({10, 0, 0, 5, 255, 255, 0, 0, 10, 0, 0, 1}));
    EXPECT_EQ(buf[378], 0);
    EXPECT_TRUE(std::all_of(buf.begin() + 224, buf.begin() + 288, [](uint8_t b) { return b == 0; }));
}

// "ERR" is all or nothing: a file that cannot be written leaves both files, the stored address
// (on disk and in force) and the address of the next start as they were.
TEST_F(WifiConfig, UnwritableFileAnswersErrAndChangesNothing)
{
    const std::string iniFile = TestRoot::path(ConfigEngine::kIniPath), iniAside = iniFile + ".aside";
    for (const char* unwritable : {R58_WIFI_CONFIG::kHostapdConf, R58_WIFI_CONFIG::kUdhcpdConf, ConfigEngine::kIniPath}) {
        SCOPED_TRACE(unwritable);
        const bool ini = unwritable == ConfigEngine::kIniPath;
        R58_WIFI_CONFIG manager;
        manager.initialize(false);
        ASSERT_EQ(ask(manager, "AT+SETDATA=2,0,First,3,password1,5,10.1.2.3,5005"), "OK+SETDATA");
        const QByteArray hostapd = TestRoot::readFile(R58_WIFI_CONFIG::kHostapdConf);
        const QByteArray dhcp = TestRoot::readFile(R58_WIFI_CONFIG::kUdhcpdConf);
        // A folder in the way of the file's temporary copy, or of the INI file itself.
        const QString part = QString::fromStdString(ini ? iniFile : TestRoot::path(std::string(unwritable) + ".atomic-tmp"));
        if (ini) {
            ASSERT_EQ(::rename(iniFile.c_str(), iniAside.c_str()), 0);
        }
        ASSERT_TRUE(QDir().mkpath(part + "/x"));
        EXPECT_EQ(ask(manager, "AT+SETDATA=2,1,Second,3,password2,5,10.1.3.3,5005"), "ERR");
        ASSERT_TRUE(QDir(part).removeRecursively());
        if (ini) {
            ASSERT_EQ(::rename(iniAside.c_str(), iniFile.c_str()), 0);
        }
        EXPECT_EQ(TestRoot::readFile(R58_WIFI_CONFIG::kHostapdConf), hostapd);
        EXPECT_EQ(TestRoot::readFile(R58_WIFI_CONFIG::kUdhcpdConf), dhcp);
        EXPECT_EQ(ConfigEngine::p_config->read_config_variant(ConfigItem::WifiIPAddress).toString(), QStringLiteral("10.1.2.3"));
        // The next setting stored does not carry the refused address into the file.
        ASSERT_TRUE(ConfigEngine::p_config->write_config_variant(ConfigItem::Barcode, QStringLiteral("B")));
        EXPECT_TRUE(TestRoot::readFile(ConfigEngine::kIniPath).contains("\nWifiIPAddress=10.1.2.3\n"));
        EXPECT_EQ(manager.resetFlag(), 0) << "no restart asked";
        shellSim().clearLog();
        manager.wifi_ap_start_up();
        EXPECT_EQ(log(), std::vector<std::string>({"ifconfig wlan0 10.1.2.3"}));
    }
    const QByteArray before = TestRoot::readFile(R58_WIFI_CONFIG::kHostapdConf);
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(TestRoot::path(std::string(R58_WIFI_CONFIG::kHostapdConf) + ".atomic-tmp/x"))));
    const std::string ssid = wifi.settings().ap_ssid;
    EXPECT_EQ(ask("AT+RESTORE"), "ERR");
    EXPECT_EQ(TestRoot::readFile(R58_WIFI_CONFIG::kHostapdConf), before);
    EXPECT_EQ(wifi.settings().ap_ssid, ssid);
    EXPECT_EQ(wifi.resetFlag(), 0) << "no restart after ERR";
}

// A power cut inside a set, its INI write held on the file's lock: the next start finds the old
// name and address, whole.
TEST_F(WifiConfig, SetCutByAPowerLossIsUndoneAtTheNextStart)
{
    ASSERT_EQ(ask("AT+SETDATA=2,0,First,3,password1,5,10.1.2.3,5005"), "OK+SETDATA");
    const QByteArray hostapd = TestRoot::readFile(R58_WIFI_CONFIG::kHostapdConf);
    QLockFile ini(QString::fromStdString(TestRoot::path(ConfigEngine::kIniPath)) + ".lock");
    ASSERT_TRUE(ini.lock());
    const pid_t child = ::fork();
    if (child == 0) {
        ask("AT+SETDATA=2,0,Second,3,password2,5,10.1.3.3,5005");
        ::_exit(0);
    }
    const bool cut = waitFor([] { return TestRoot::readFile(R58_WIFI_CONFIG::kHostapdConf).contains("ssid=Second"); }, 5000);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ini.unlock();
    ASSERT_TRUE(cut);
    R58_WIFI_CONFIG next;
    next.initialize(false);
    EXPECT_EQ(TestRoot::readFile(R58_WIFI_CONFIG::kHostapdConf), hostapd);
    EXPECT_EQ(iniAddress(), QStringLiteral("10.1.2.3"));
    shellSim().clearLog();
    next.wifi_ap_start_up();
    EXPECT_EQ(log(), std::vector<std::string>({"ifconfig wlan0 10.1.2.3"}));
}

// The manager's own thread runs the start-up steps as the 10 ms tick advances, and stops with it.
class WifiConfigTiming : public WifiConfig {
protected:
    void TearDown() override
    {
        RacePause::release(RacePause::AfterWifiStep);
        RacePause::release(RacePause::BeforeTickAlarm);
        TickAlarm::setSlackMs(110);
        WifiConfig::TearDown();
    }
};

// Each step is stamped with the tick before it ran: a burst that comes while it runs (the thread
// is held between the step and its stamp) counts towards the next step.
TEST_F(WifiConfigTiming, ThreadStepsFollowTheTick)
{
    const uint32_t saved = G_timeTicks.load();
    {
        R58_WIFI_CONFIG running;
        RaceHold stamping(RacePause::AfterWifiStep); // released before the thread is stopped
        running.initialize(true);
        shellSim().clearLog();
        for (int i = 0; i < 3; ++i) {
            G_timeTicks += 101;
            TickAlarm::advanced(G_timeTicks.load());
            if (i > 0)
                stamping.pass(); // the burst came while step i waited for its stamp
            ASSERT_TRUE(waitFor([&] { return running.apState() == i + 1 && RacePause::parked(RacePause::AfterWifiStep) == 1; }, 2000))
                << i;
        }
        const uint32_t armed = TickAlarm::armings();
        stamping.release();
        EXPECT_EQ(log(), std::vector<std::string>({"ifconfig wlan0 192.168.22.101", "udhcpd -fS /etc/udhcpd.conf &",
                                                   "/usr/bin/hostapd /etc/rtl_hostapd_2G.conf -B"}));
        // Nothing more happens while the tick stands still: the thread goes to sleep on its alarm.
        ASSERT_TRUE(waitFor([&] { return TickAlarm::armings() != armed; }, 2000)) << "asleep until the next step";
        EXPECT_EQ(log().size(), 3u);
    }
    G_timeTicks = saved;
}

// Between steps the thread sleeps until the tick of its next one: the panel's burst that reaches
// it wakes the thread (the wait's time limit is stretched so that nothing else could), also when
// the burst comes while the thread arms its alarm, a burst short of it does not, and without a
// ticking panel the wait's time limit still brings the step.
TEST_F(WifiConfigTiming, ThreadSleepsUntilTheTickOfItsNextStep)
{
    struct Row {
        const char* name;
        uint32_t ticks;
        bool panelRings;
        bool whileArming; // the burst comes while the thread is held before arming, else asleep
        bool stepExpected;
        int withinMs;
    };
    const Row rows[] = {
        {"burst reaching the tick", 101, true, false, true, 2000},
        {"burst while the alarm is armed", 101, true, true, true, 2000},
        {"burst one tick short", 100, true, false, false, 300},
        {"no panel ticking", 101, false, false, true, 2000},
    };
    const uint32_t saved = G_timeTicks.load();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TickAlarm::setSlackMs(row.panelRings ? 3600 * 1000 : 110);
        R58_WIFI_CONFIG running;
        std::unique_ptr<RaceHold> arming; // released before the thread is stopped
        if (row.whileArming)
            arming = std::make_unique<RaceHold>(RacePause::BeforeTickAlarm);
        const uint32_t armed = TickAlarm::armings();
        running.initialize(true);
        if (row.whileArming)
            ASSERT_TRUE(arming->parked()) << "about to arm for its first step";
        else
            ASSERT_TRUE(waitFor([&] { return TickAlarm::armings() != armed; }, 2000)) << "asleep until its first step";
        G_timeTicks += row.ticks;
        if (row.panelRings)
            TickAlarm::advanced(G_timeTicks.load());
        if (arming)
            arming->release();
        EXPECT_EQ(waitFor([&] { return running.apState() == 1; }, row.withinMs), row.stepExpected);
    }
    G_timeTicks = saved;
}

} // namespace
