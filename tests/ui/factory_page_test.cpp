// The factory page driven by keys from the home screen: the way there, the language box, the three
// resets against the factory defaults (block bytes by name, the parameter file, the INI store, the
// shell, the input manager's EDID requests, the LED-size hand-over with the simulated FPGA and
// scaler), the font presence lines from the simulated scaler flash, MODE, and its texts.
#include "panel_fixture.h"
#include "panel_checks.h"
#include "panel_store.h"
#include "test_root.h"
#include "lock_waiters.h"
#include "program.h"
#include "race_hold.h"
#include "second_writer.h"

#include "base/global.h"
#include "base/posix_lock.h"
#include "base/utils.h"
#include "fpga/fpga_manage.h"
#include "params/block_layout.h"
#include "params/config_engine.h"
#include "params/vyrrampara.h"
#include "platform/sim/devices/c331_chip.h"
#include "platform/sim/sim_board.h"
#include "scaler/c331_manage.h"
#include "ui/pagenav.h"
#include "ui/pages_picture/advancedoption.h"
#include "ui/pages_picture/custommode.h"
#include "ui/pages_settings/factory.h"
#include "ui/panelkeys.h"
#include "video_chips/keltosource.h"
#include "store_face.h"

#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <unistd.h>

using namespace PanelKey;
using platform::Sim::c331Chip;
using platform::Sim::shellSim;

namespace {

// Home, root menu, settings (code 5), advanced (12), factory (18).
Script& toFactory(Script& s)
{
    return s.key(OK)
        .choose("option")
        .until([] { return Panel::onTop(5); }, "settings menu")
        .choose("AdvanceButton")
        .until([] { return Panel::onTop(12); }, "advanced menu")
        .choose("Button_factory")
        .until([] { return Panel::onTop(18) && g_factory; }, "factory page");
}

c331_manage* scaler() { return c331_manage::p_c331_manage; }

// Moves the focus: n > 0 that many to the right, n < 0 to the left.
void walk(Script& s, int n)
{
    for (int i = 0; i < n; ++i)
        s.key(PanelKey::Right);
    for (int i = 0; i > n; --i)
        s.key(PanelKey::Left);
}

const char kFocusBorder[] = "border:1px solid rgb(255,171,84);";
const char kEditBorder[] = "border:1px solid rgb(255,0,0);";
const char kPlainBorder[] = "border:1px solid rgb(255,255,255);";
const char kPlainButton[] = "border:1px solid rgb(255, 255, 255);";

const char kIni[] = "/data/configs/tcpip.ini";
void writeIni(const char* ip, const char* mask, const char* gateway)
{
    ASSERT_TRUE(TestRoot::writeFile(kIni, QStringLiteral("[config]\nIPAddress=%1\nSubNetMask=%2\nGateWay=%3\n")
                                              .arg(QLatin1String(ip), QLatin1String(mask), QLatin1String(gateway))
                                              .toLatin1()));
}
// The value of a key of the INI store as the file holds it.
QString iniValue(const char* key)
{
    for (const QByteArray& line : TestRoot::readFile(kIni).split('\n'))
        if (line.startsWith(QByteArray(key) + '='))
            return QString::fromLatin1(line.mid(int(strlen(key)) + 1)).trimmed();
    return QStringLiteral("<missing>");
}

// The factory defaults the page restores, by name.
struct Named {
    const char* name;
    uint32_t offset;
    int width; // 1 or 2 bytes
    uint16_t value;
};
const Named kDefaults[] = {
    {"language", blk::kLanguage, 1, 0},        {"splice mode", blk::kSpliceMode, 2, 0},
    {"LED width", blk::kLedWidth, 2, 1920},    {"LED height", blk::kLedHeight, 2, 1080},
    {"audio window", blk::kAudioWindow, 1, 0}, {"audio state", blk::kAudioState, 1, 0},
    {"brightness", blk::kBrightness, 2, 100},  {"contrast", blk::kContrast, 2, 50},
    {"sharpness", blk::kSharpness, 2, 10},     {"saturation", blk::kSaturation, 2, 50},
    {"colour type", blk::kColourTemp, 2, 2},   {"red gain", blk::kColourRed, 2, 64},
    {"green gain", blk::kColourGreen, 2, 64},  {"blue gain", blk::kColourBlue, 2, 64},
};
uint16_t valueOf(const uint8_t* block, const Named& n)
{
    return n.width == 1 ? block[n.offset] : blk::get16(block, n.offset);
}

// Every persistent byte set to something other than its default, the shadow as if saved.
void scramble(VyrRamPara* store)
{
    for (uint32_t i = kPersistStart; i < kBlockSize; ++i)
        testBlock(store)[i] = uint8_t(default_para_ramlist[i - kPersistStart + 2] ^ (0x5A + i % 7));
    for (uint32_t p = 0; p < 6; ++p) {
        store->setU16(blk::edidWidth(p), uint16_t(1000 + p));
        store->setU16(blk::edidHeight(p), uint16_t(700 + p));
        store->setU16(blk::edidRate(p), 30);
    }
    testBlock(store)[blk::kLanguage] = 1; // English on the page
    testBlock(store)[blk::kLanguage + 1] = 0;
    memcpy(store->shadow, testBlock(store), kBlockSize);
}

void clearEdidRequests()
{
    for (int p = 0; p < 6; ++p)
        keltosource::p_kelto_source->custom_edid_req[p] = 0;
}
int edidRequests()
{
    int n = 0;
    for (int p = 0; p < 6; ++p)
        n += keltosource::p_kelto_source->custom_edid_req[p] == 1;
    return n;
}

// The address commands of applying the stored address to eth0, in order.
QStringList addressCommands(const char* ip, const char* mask, const char* gateway)
{
    return {QStringLiteral("ifconfig eth0 &>/dev/null"),
            QStringLiteral("route del default wlan0"),
            QStringLiteral("ifconfig eth0 %1 netmask %2").arg(QLatin1String(ip), QLatin1String(mask)),
            QStringLiteral("route add -host %1 dev eth0").arg(QLatin1String(gateway)),
            QStringLiteral("route add default gw %1 metric 100").arg(QLatin1String(gateway)),
            QStringLiteral("route add -host 255.255.255.255 eth0"),
            QStringLiteral("route del 255.255.255.255 wlan1")};
}
QStringList shellCommands()
{
    QStringList out;
    for (const std::string& c : shellSim().commands())
        out << QString::fromStdString(c);
    return out;
}

class FactoryPage : public PanelTest {
protected:
    void SetUp() override
    {
        writeIni("10.1.2.3", "255.255.0.0", "10.1.0.1");
        PanelTest::SetUp();
        ConfigEngine::pInstance();
        keltosource::pInstance();
        ASSERT_EQ(g_str_ip.get(), QStringLiteral("10.1.2.3"));
    }
};

// FPGA 0 brought up on the simulated board, with the scaler brought up beside it: both passes
// driven here, one each per tick, as their two threads would run them.
struct Board {
    fpga_manage* fpga = nullptr;
    void tick(int n = 1)
    {
        for (int i = 0; i < n; ++i) {
            G_timeTicks.fetch_add(1);
            fpga->runOnce();
        }
    }
    bool runUntil(const std::function<bool()>& done, int maxTicks)
    {
        for (int i = 0; i < maxTicks && !done(); ++i)
            tick();
        return done();
    }
    bool up()
    {
        fpga = fpga_manage::instanceWithoutWorker();
        scaler()->led_wait_limit_ms = 20000;
        g_fpga_c331_start = 0;
        g_force_bkcolor = 1;
        fpga_manage::gpio_write(fpga->rst_fpga0, 16);
        keltosource::p_kelto_source->clock_state[0] = 2;
        for (int i = 0; i < 10 && scaler()->thread_state < 6; ++i) {
            scaler()->runOnce();
            tick();
        }
        return runUntil([this] {
            scaler()->runOnce();
            return fpga->get_fpga_status() == 1;
        }, 1500);
    }
};

bool logged(const char* call)
{
    const std::vector<std::string> calls = scaler()->call_log.calls();
    return std::find(calls.begin(), calls.end(), call) != calls.end();
}

}

TEST_F(FactoryPage, OpensByKeysShowsTheStoredLanguageAndWalksItsFocusList)
{
    testBlock(store)[blk::kLanguage] = store->shadow[blk::kLanguage] = 3;
    g_language = 3;
    Script s;
    toFactory(s);
    s.act([] {
         factory* f = g_factory;
         EXPECT_EQ(f->pageCode(), 18);
         EXPECT_EQ(f->findChild<QLabel*>(QStringLiteral("label_title"))->text(), QStringLiteral("Khôi phục cài đăt gốc"));
         EXPECT_EQ(f->Box_lang_2->currentIndex(), 3);
         EXPECT_EQ(f->Box_lang_2->currentText(), QStringLiteral("Tiếng việt"));
         EXPECT_EQ(f->lang_index, 3);
         EXPECT_TRUE(f->Box_lang_2->styleSheet().contains(QLatin1String(kFocusBorder)));
         const char* entries[5] = {"中文", "English", "Русский", "Tiếng việt", "繁體中文"};
         ASSERT_EQ(f->Box_lang_2->count(), 5);
         for (int i = 0; i < 5; ++i)
             EXPECT_EQ(f->Box_lang_2->itemText(i), QString::fromUtf8(entries[i]));
         EXPECT_EQ(f->Button_rst1->text(), QStringLiteral("Đồng ý"));
         EXPECT_EQ(f->label_all->text(), QStringLiteral("Khôi phục cài đặt gốc tất cả"));
     })
        .key(Left)
        .until([] { return g_factory->ui_select == 3; }, "left from the box: Reset ALL")
        .act([] {
            EXPECT_TRUE(g_factory->Button_rst3->styleSheet().contains(QLatin1String(kFocusBorder)));
            EXPECT_TRUE(g_factory->Box_lang_2->styleSheet().contains(QLatin1String(kPlainBorder)));
        })
        .key(Right)
        .until([] { return g_factory->ui_select == 0; }, "right from Reset ALL: the box")
        .act([] {
            EXPECT_TRUE(g_factory->Button_rst3->styleSheet().contains(QLatin1String(kPlainButton)));
            EXPECT_TRUE(g_factory->Box_lang_2->styleSheet().contains(QLatin1String(kFocusBorder)));
        })
        .keys({Right, Right})
        .until([] { return g_factory->ui_select == 2; }, "Keep IP,EDIP")
        .act([] {
            EXPECT_TRUE(g_factory->Button_rst2->styleSheet().contains(QLatin1String(kFocusBorder)));
            EXPECT_TRUE(g_factory->Button_rst1->styleSheet().contains(QLatin1String(kPlainButton)));
            EXPECT_EQ(Panel::changeFlag(), 0) << "moving the focus writes nothing";
        })
        .key(Back)
        .until([] { return Panel::onTop(12) && !g_factory; }, "back to the advanced menu");
    ASSERT_TRUE(s.run(10000));
}

TEST_F(FactoryPage, LanguageIsWrittenOnlyWhenChosenAnewAndSavedByTheRefresh)
{
    g_language = 1;
    testBlock(store)[blk::kLanguage] = store->shadow[blk::kLanguage] = 1;
    Script s;
    toFactory(s);
    // OK, OK without moving: nothing written, nothing handed over.
    s.key(OK)
        .until([] { return g_factory->lang_edit == 1; }, "editing")
        .act([] { EXPECT_TRUE(g_factory->Box_lang_2->styleSheet().contains(QLatin1String(kEditBorder))); })
        .key(OK)
        .until([] { return g_factory->lang_edit == 0; }, "edit ended")
        .act([this] {
            EXPECT_EQ(Panel::changeFlag(), 0);
            EXPECT_EQ(testBlock(store)[blk::kLanguage], 1);
            EXPECT_TRUE(g_factory->Box_lang_2->styleSheet().contains(QLatin1String(kFocusBorder)));
        })
        // Wrap-around in edit mode: left from 1 to 0, to 4; right from 4 to 0.
        .key(OK)
        .keys({Left, Left})
        .until([] { return g_factory->Box_lang_2->currentIndex() == 4; }, "left wraps to entry 4")
        .key(Right)
        .until([] { return g_factory->Box_lang_2->currentIndex() == 0; }, "right wraps to entry 0")
        // A tool's Russian waiting for its apply: the operator's choice of it is still written.
        .act([] { ASSERT_EQ(SecondWriter::inProcess().writeBlock(blk::kLanguage, {2}), 0); })
        .keys({Right, Right})
        .until([] { return g_factory->lang_index == 2; }, "Русский chosen")
        .act([] { EXPECT_EQ(Panel::changeFlag(), 0) << "not applied before OK"; })
        .key(OK)
        .until([] { return g_factory->lang_edit == 0; }, "applied")
        .act([this] {
            EXPECT_EQ(testBlock(store)[blk::kLanguage], 2);
            EXPECT_EQ(g_language.load(), 2);
            EXPECT_EQ(Panel::changeFlag(), 1) << "handed over to the scaler";
            EXPECT_EQ(g_factory->findChild<QLabel*>(QStringLiteral("label_title"))->text(), QStringLiteral("Системные настройки"))
                << "re-texted at once";
            EXPECT_EQ(g_factory->label_edid->text(), QStringLiteral("Сохранить IP и EDID"));
            Panel::refresh();
            const QByteArray file = TestRoot::readFile(VyrRamPara::kParaFilePath);
            ASSERT_GT(file.size(), int(blk::kLanguage - kPersistStart + 2));
            EXPECT_EQ(uint8_t(file[int(blk::kLanguage - kPersistStart + 2)]), 2) << "the language survives a restart";
            EXPECT_EQ(g_factory->Box_lang_2->currentIndex(), 2);
        })
        // A choice left with BACK is not applied.
        .keys({OK, Right, Right})
        .until([] { return g_factory->lang_index == 4; }, "繁體中文 chosen")
        .key(Back)
        .until([] { return Panel::onTop(12) && !g_factory; }, "page left")
        .act([this] {
            EXPECT_EQ(testBlock(store)[blk::kLanguage], 2);
            EXPECT_EQ(g_language.load(), 2);
            EXPECT_EQ(Panel::changeFlag(), 0);
        });
    ASSERT_TRUE(s.run(10000));
}

// Each reset against the defaults: by name, byte for byte over what it restores, what it keeps,
// the INI store, the shell, the EDID requests; then the refresh saves the file and the page turns
// to simplified Chinese.
TEST_F(FactoryPage, EachResetRestoresWhatItNamesAndKeepsTheRest)
{
    uint8_t volatileBefore[kPersistStart];
    for (uint32_t i = 0; i < kPersistStart; ++i)
        testBlock(store)[i] = uint8_t(i * 13 + 1);
    memcpy(volatileBefore, testBlock(store), kPersistStart);
    struct Case {
        int rights;         // from the box to the button
        bool keepsEdid;
        bool restoresAddress;
    };
    const Case cases[3] = {{1, false, false}, {2, true, false}, {3, false, true}};
    // A tool's contrast 50 (the default) and recall of saved mode 3, written and not applied.
    SecondWriter tool = SecondWriter::inProcess();
    store->mode[2][0] = store->mode[2][1] = blk::kMarkerSaved;
    Script s;
    toFactory(s);
    for (const Case& c : cases) {
        auto scrambled = std::make_shared<std::vector<uint8_t>>();
        s.act([this, scrambled, &tool] {
             scramble(store);
             ASSERT_EQ(tool.writeBlock(blk::kContrast, {50, 0}), 0);
             ASSERT_EQ(tool.writeBlock(blk::kCurrentMode, {3, 0}), 0);
             scrambled->assign(testBlock(store), testBlock(store) + kBlockSize);
             g_language = 1;
             g_factory->language_changed();
             writeIni("10.1.2.3", "255.255.0.0", "10.1.0.1");
             clearEdidRequests();
             scaler()->change_flag = 0;
             shellSim().clearLog();
         });
        walk(s, c.rights == 3 ? -1 : c.rights);
        s.until([c] { return g_factory->ui_select == c.rights; }, "reset " + std::to_string(c.rights))
            .key(OK)
            .until([] { return Panel::changeFlag() == 1; }, "handed over")
            .act([this, c, scrambled, &volatileBefore, &tool] {
                const std::string which = "reset " + std::to_string(c.rights);
                for (const Named& n : kDefaults)
                    EXPECT_EQ(valueOf(testBlock(store), n), n.value) << which << ": " << n.name;
                for (uint32_t p = 0; p < 6; ++p) {
                    const bool uhd = p >= 4;
                    const uint16_t w = c.keepsEdid ? uint16_t(1000 + p) : uhd ? 3840 : 1920;
                    const uint16_t h = c.keepsEdid ? uint16_t(700 + p) : uhd ? 2160 : 1080;
                    const uint16_t r = c.keepsEdid ? 30 : 60;
                    EXPECT_EQ(store->u16(blk::edidWidth(p)), w) << which << " input " << p;
                    EXPECT_EQ(store->u16(blk::edidHeight(p)), h) << which << " input " << p;
                    EXPECT_EQ(store->u16(blk::edidRate(p)), r) << which << " input " << p;
                }
                int wrong = 0;
                for (uint32_t i = kPersistStart; i < kBlockSize; ++i) {
                    const bool edidArea = i >= blk::kEdidTiming && i < blk::kEdidAreaEnd;
                    const uint8_t expected = c.keepsEdid && edidArea ? (*scrambled)[i] : default_para_ramlist[i - kPersistStart + 2];
                    wrong += testBlock(store)[i] != expected;
                }
                EXPECT_EQ(wrong, 0) << which << ": bytes of 0x300-0xFFF not as the reset names them";
                EXPECT_EQ(memcmp(testBlock(store), volatileBefore, kPersistStart), 0) << which << ": the volatile part is kept";
                EXPECT_EQ(edidRequests(), c.keepsEdid ? 0 : 6) << which;
                EXPECT_EQ(g_set_led_para.load(), 0) << which << ": no FPGA, no LED hand-over";
                if (c.restoresAddress) {
                    EXPECT_EQ(iniValue("IPAddress"), QStringLiteral("192.168.1.199"));
                    EXPECT_EQ(iniValue("SubNetMask"), QStringLiteral("255.255.255.0"));
                    EXPECT_EQ(iniValue("GateWay"), QStringLiteral("192.168.1.1"));
                    EXPECT_EQ(shellCommands(), QStringList{QStringLiteral("sync")} + addressCommands("192.168.1.199", "255.255.255.0", "192.168.1.1"));
                    EXPECT_EQ(g_str_ip.get(), QStringLiteral("192.168.1.199"));
                    EXPECT_EQ(g_srt_mask.get(), QStringLiteral("255.255.255.0"));
                    EXPECT_EQ(g_str_gateway.get(), QStringLiteral("192.168.1.1"));
                } else {
                    EXPECT_EQ(iniValue("IPAddress"), QStringLiteral("10.1.2.3")) << which;
                    EXPECT_EQ(iniValue("SubNetMask"), QStringLiteral("255.255.0.0")) << which;
                    EXPECT_EQ(iniValue("GateWay"), QStringLiteral("10.1.0.1")) << which;
                    EXPECT_TRUE(shellCommands().isEmpty()) << which << ": " << shellCommands().join(QLatin1Char('|')).toStdString();
                }
                EXPECT_EQ(Panel::title(g_factory), QStringLiteral("Factory setup")) << "Chinese only after the refresh";
                Panel::refresh();
                const QByteArray file = TestRoot::readFile(VyrRamPara::kParaFilePath);
                ASSERT_GE(file.size(), int(kPersistSize + 2));
                EXPECT_EQ(uint8_t(file[0]), 0xAA);
                EXPECT_EQ(uint8_t(file[1]), 0xAA);
                EXPECT_EQ(memcmp(file.constData() + 2, testBlock(store) + kPersistStart, kPersistSize), 0) << which << ": file saved";
                EXPECT_EQ(tool.apply(), 1) << which << ": the reset dropped the tool's recall";
                Panel::clearFlag();
                EXPECT_EQ(Panel::title(g_factory), QStringLiteral("工厂设置")) << which;
                EXPECT_EQ(g_factory->Box_lang_2->currentIndex(), 0);
                EXPECT_EQ(g_factory->Box_lang_2->currentText(), QStringLiteral("中文"));
                EXPECT_TRUE(g_factory->FontCN->text().contains(QStringLiteral(">中文:<")));
                EXPECT_TRUE(g_factory->FontEN->text().contains(QStringLiteral(">英文:<")));
                EXPECT_TRUE(g_factory->FontEN->text().contains(QStringLiteral(">128宽<")));
            });
        walk(s, c.rights == 3 ? 1 : -c.rights);
        s.until([] { return g_factory->ui_select == 0; }, "box again");
    }
    // After a reset: OK, OK keeps simplified Chinese; right in edit mode shows English.
    s.key(OK)
        .key(OK)
        .until([] { return g_factory->lang_edit == 0; }, "edit ended")
        .act([this] {
            EXPECT_EQ(testBlock(store)[blk::kLanguage], 0);
            EXPECT_EQ(Panel::changeFlag(), 0);
        })
        .keys({OK, Right})
        .until([] { return g_factory->Box_lang_2->currentText() == QStringLiteral("English"); }, "English offered");
    ASSERT_TRUE(s.run(20000));
}

// "Reset ALL" restores all three address keys even when the address is already the default one.
TEST_F(FactoryPage, ResetAllRestoresMaskAndGatewayWhenTheAddressIsAlreadyTheDefault)
{
    // As the wired address page leaves them: the default address with another mask and gateway.
    ConfigEngine::p_config->write_config_variant(ConfigItem::IPAddress, QStringLiteral("192.168.1.199"));
    ConfigEngine::p_config->write_config_variant(ConfigItem::SubNetMask, QStringLiteral("255.255.0.0"));
    ConfigEngine::p_config->write_config_variant(ConfigItem::GateWay, QStringLiteral("192.168.1.254"));
    Utils::getIPAddress();
    ASSERT_EQ(g_str_ip.get(), QStringLiteral("192.168.1.199"));
    ASSERT_EQ(g_srt_mask.get(), QStringLiteral("255.255.0.0"));
    ASSERT_EQ(iniValue("SubNetMask"), QStringLiteral("255.255.0.0"));
    Script s;
    toFactory(s);
    // First the mask cannot be written: the gateway is not restored alone either.
    s.act([] { ConfigEngine::failWritesOf(ConfigItem::SubNetMask); })
        .key(Left)
        .until([] { return g_factory->ui_select == 3; }, "Reset ALL")
        .key(OK)
        .until([] { return Panel::changeFlag() == 1; }, "handed over, address not stored")
        .act([] {
            ConfigEngine::failWritesOf(-1);
            EXPECT_EQ(iniValue("SubNetMask"), QStringLiteral("255.255.0.0"));
            EXPECT_EQ(iniValue("GateWay"), QStringLiteral("192.168.1.254"));
            scaler()->change_flag = 0;
            shellSim().clearLog();
        })
        .key(OK)
        .until([] { return Panel::changeFlag() == 1; }, "handed over")
        .act([] {
            EXPECT_EQ(iniValue("IPAddress"), QStringLiteral("192.168.1.199"));
            EXPECT_EQ(iniValue("SubNetMask"), QStringLiteral("255.255.255.0"));
            EXPECT_EQ(iniValue("GateWay"), QStringLiteral("192.168.1.1"));
            EXPECT_EQ(g_srt_mask.get(), QStringLiteral("255.255.255.0"));
            EXPECT_EQ(g_str_gateway.get(), QStringLiteral("192.168.1.1"));
            EXPECT_TRUE(shellCommands().contains(QStringLiteral("ifconfig eth0 192.168.1.199 netmask 255.255.255.0")));
        });
    const bool ran = s.run(10000);
    ConfigEngine::failWritesOf(-1);
    ASSERT_TRUE(ran);
}

// Without eth0 nothing is applied, yet the INI holds the defaults and the globals follow it, so
// the panel shows the address the box will have.
TEST_F(FactoryPage, ResetAllWithoutEth0StoresTheDefaultAddressAndShowsIt)
{
    shellSim().script("ifconfig eth0 &>/dev/null", 1);
    Script s;
    toFactory(s);
    s.act([] { shellSim().clearLog(); })
        .key(Left)
        .until([] { return g_factory->ui_select == 3; }, "Reset ALL")
        .key(OK)
        .until([] { return Panel::changeFlag() == 1; }, "handed over")
        .act([this] {
            EXPECT_EQ(shellCommands(), (QStringList{QStringLiteral("sync"), QStringLiteral("ifconfig eth0 &>/dev/null")}))
                << "no address command without eth0";
            EXPECT_EQ(iniValue("IPAddress"), QStringLiteral("192.168.1.199"));
            EXPECT_EQ(iniValue("SubNetMask"), QStringLiteral("255.255.255.0"));
            EXPECT_EQ(iniValue("GateWay"), QStringLiteral("192.168.1.1"));
            EXPECT_EQ(g_str_ip.get(), QStringLiteral("192.168.1.199"));
            EXPECT_EQ(store->u16(blk::kLedWidth), 1920);
        });
    ASSERT_TRUE(s.run(10000));
}

// The block part of a reset and of a language change is written under the scaler mutex: while
// another thread holds it, the page waits, and the change flag comes with the bytes.
TEST_F(FactoryPage, WritesWaitForTheScalerMutexAndEndInAHandOver)
{
    testBlock(store)[blk::kLanguage] = store->shadow[blk::kLanguage] = 1;
    store->setU16(blk::kBrightness, 7);
    g_language = 1;
    std::atomic<int> phase{0};
    uint8_t seenLanguage = 0xFF, seenFlag = 0xFF;
    uint16_t seenBrightness = 0;
    std::thread holder;
    auto hold = [&] {
        phase = 0;
        holder = std::thread([&] {
            PosixLock lock(scaler()->c331_mutex);
            phase = 1;
            // Held until the page's write (this program's main thread) waits for it; the scaler
            // worker's waits are no sign.
            EXPECT_TRUE(waitFor([&] { return LockWaiters::waited(scaler()->c331_mutex, getpid()); }, 5000))
                << "the page's write waits for the scaler mutex";
            seenLanguage = testBlock(store)[blk::kLanguage];
            seenBrightness = store->u16(blk::kBrightness);
            seenFlag = scaler()->change_flag;
            phase = 2;
        });
    };
    Script s;
    toFactory(s);
    s.keys({OK, Right})
        .until([] { return g_factory->lang_index == 2; }, "Русский chosen")
        .act(hold)
        .until([&] { return phase.load() >= 1; }, "mutex held")
        .key(OK)
        .until([&] { return phase.load() == 2 && Panel::changeFlag() == 1; }, "language handed over")
        .act([&] {
            holder.join();
            EXPECT_EQ(seenLanguage, 1) << "written while another thread held the scaler mutex";
            EXPECT_EQ(seenFlag, 0);
            EXPECT_EQ(testBlock(store)[blk::kLanguage], 2);
            scaler()->change_flag = 0;
        })
        .key(Right)
        .until([] { return g_factory->ui_select == 1; }, "Keep IP")
        .act(hold)
        .until([&] { return phase.load() >= 1; }, "mutex held again")
        .key(OK)
        .until([&] { return phase.load() == 2 && Panel::changeFlag() == 1; }, "reset handed over")
        .act([&] {
            holder.join();
            EXPECT_EQ(seenBrightness, 7) << "reset written while another thread held the scaler mutex";
            EXPECT_EQ(seenFlag, 0);
            EXPECT_EQ(store->u16(blk::kBrightness), 100);
        });
    const bool ok = s.run(10000);
    if (holder.joinable())
        holder.join();
    ASSERT_TRUE(ok);
}

// A reset that changes the LED size while FPGA 0 is up: the FPGA steps the cards, the scaler
// re-initialises the panel at the default size and FPGA 0 comes up again. A reset that leaves the
// size alone asks nothing of the FPGA; one made while FPGA 0 is held in reset (its state byte
// still 3) asks nothing either, so the scaler never waits on a step nobody makes.
TEST_F(FactoryPage, LedSizeChangeGoesThroughTheFpgaOnlyWhenItCanServeIt)
{
    Board board;
    ASSERT_TRUE(board.up()) << "FPGA 0 not up";
    Script s;
    toFactory(s);
    s.act([this] {
         // Size at the defaults already: no hand-over.
         memcpy(testBlock(store) + kPersistStart, default_para_ramlist + 2, kPersistSize);
         store->setU16(blk::kBrightness, 3);
         memcpy(store->shadow, testBlock(store), kBlockSize);
         scaler()->change_flag = 0;
     })
        .key(Right)
        .until([] { return g_factory->ui_select == 1; }, "Keep IP")
        .key(OK)
        .until([] { return Panel::changeFlag() == 1; }, "first reset")
        .act([this, &board] {
            EXPECT_EQ(g_set_led_para.load(), 0) << "size unchanged: the FPGA is not asked";
            EXPECT_EQ(store->u16(blk::kBrightness), 100);
            scaler()->runOnce();
            Panel::refresh();
            // A size set by the protocol, applied and saved, with the audio of window 3 on.
            {
                ScalerHandOver protocol;
                store->setU16(blk::kLedWidth, 1280);
                store->setU16(blk::kLedHeight, 720);
                testBlock(store)[blk::kAudioWindow] = 3;
                testBlock(store)[blk::kAudioState] = 0x80;
                protocol.commit(1);
            }
            scaler()->runOnce();
            ASSERT_TRUE(logged("vyrApi_PnlInit2(1280,720,1920,1080,0)"));
            ASSERT_TRUE(board.runUntil([&] {
                scaler()->runOnce();
                return board.fpga->get_fpga_status() == 1 && g_set_led_para.load() == 0;
            }, 1500)) << "FPGA 0 up again after the protocol's size";
            Panel::refresh();
            ASSERT_EQ(blk::get16(store->shadow, blk::kLedWidth), 1280);
            scaler()->change_flag = 0;
            scaler()->call_log.clear();
        })
        .key(OK)
        .until([] { return Panel::changeFlag() == 1; }, "second reset")
        .act([this, &board] {
            EXPECT_EQ(g_set_led_para.load(), 1) << "FPGA 0 is up: the LED parameters are handed to it";
            EXPECT_EQ(g_set_led_setup.load(), 0);
            EXPECT_EQ(testBlock(store)[blk::kAudioWindow], 0);
            EXPECT_EQ(testBlock(store)[blk::kAudioState], 0);
            std::atomic<bool> applied{false};
            RaceHold waiting(RacePause::LedStepWait);
            std::thread scalerPass([&] {
                scaler()->runOnce();
                applied = true;
            });
            EXPECT_TRUE(waiting.parked()) << "the scaler waits for the FPGA's step";
            waiting.release(); // on into its wait, which only the FPGA's step ends
            EXPECT_FALSE(applied);
            EXPECT_TRUE(board.runUntil([] { return g_set_led_para.load() != 1; }, 200));
            scalerPass.join();
            EXPECT_TRUE(logged("vyrApi_PnlInit2(1920,1080,1920,1080,0)"));
            EXPECT_EQ(g_set_led_para.load(), 2);
            board.tick();
            EXPECT_EQ(board.fpga->get_fpga_status(), 0) << "FPGA 0 reset after the new size";
            EXPECT_TRUE(board.runUntil([&] {
                scaler()->runOnce();
                return board.fpga->get_fpga_status() == 1;
            }, 1500)) << "FPGA 0 up again";
            Panel::refresh();
            // Defaults above the box's pixel limit: the scaler will refuse them.
            g_vyr_max_pixel = 1920 * 1080 - 1;
            store->setU16(blk::kLedWidth, 1280);
            memcpy(store->shadow, testBlock(store), kBlockSize);
            scaler()->change_flag = 0;
        })
        .key(OK)
        .until([] { return Panel::changeFlag() == 1; }, "reset to a size the scaler refuses")
        .act([this, &board] {
            EXPECT_EQ(g_set_led_para.load(), 0) << "no FPGA step that would leave the wall dark";
            g_vyr_max_pixel = 0;
            // Held in reset: the state byte still reads 3, but nobody would step the flag.
            board.fpga->hold_in_reset(0);
            EXPECT_EQ(board.fpga->MCU_REG_func[0][80], 3);
            store->setU16(blk::kLedWidth, 2560);
            memcpy(store->shadow, testBlock(store), kBlockSize);
            scaler()->change_flag = 0;
            g_set_led_para = 0;
        })
        .key(OK)
        .until([] { return Panel::changeFlag() == 1; }, "third reset")
        .act([this] {
            EXPECT_EQ(g_set_led_para.load(), 0) << "FPGA 0 cannot serve the hand-over";
            EXPECT_EQ(store->u16(blk::kLedWidth), 1920);
            EXPECT_EQ(testBlock(store)[blk::kAudioWindow], 0);
        });
    ASSERT_TRUE(s.run(30000));
}

// The font lines follow the fonts in the simulated scaler flash; a font change shows at the next
// refresh while the page is open.
TEST_F(FactoryPage, FontLinesShowWhichFontsTheScalerFlashHolds)
{
    const QString w = QStringLiteral("<font style = 'font-size:12px' color = #ffffff >%1</font>");
    const QString g = QStringLiteral("<font style = 'font-size:13px' color = #00ff00 >%1</font>");
    const QString r = QStringLiteral("<font style = 'font-size:13px' color = #ff0000 >%1</font>");
    struct Row {
        std::vector<uint32_t> missing; // font headers erased from the flash
        int language;
        const char* head[2];           // CN line, EN line
        const char* suffix;
        bool cn[3], en[3];             // 32, 64, 128 present
    };
    const Row rows[] = {
        {{}, 0, {"中文:", "英文:"}, "宽", {true, true, true}, {true, true, true}},
        {{0x450000, 0x410000}, 1, {"CN:", "EN:"}, "", {true, false, false}, {true, false, false}},
        {{0x000000}, 4, {"CN:", "EN:"}, "寬", {true, true, true}, {false, true, true}},
        {{0x010000, 0x410000}, 2, {"CN:", "EN:"}, "", {false, true, true}, {true, false, false}},
        {{0x010000, 0x000000, 0x450000, 0x410000}, 7, {"CN:", "EN:"}, "", {false, false, false}, {false, false, false}},
    };
    scaler()->read_c331_font(scaler()->c331_fd);
    Script s;
    toFactory(s);
    for (const Row& row : rows) {
        s.act([&, row] {
            c331Chip().resetFlash();
            for (uint32_t at : row.missing)
                c331Chip().flashWrite(at, {0});
            scaler()->read_c331_font(scaler()->c331_fd);
            testBlock(store)[blk::kLanguage] = uint8_t(row.language);
            Panel::refresh();
            for (int line = 0; line < 2; ++line) {
                const bool* present = line == 0 ? row.cn : row.en;
                QString expected = w.arg(QString::fromUtf8(row.head[line]));
                const char* sizes[3] = {"32", "64", "128"};
                for (int k = 0; k < 3; ++k) {
                    if (k > 0)
                        expected += w.arg(QStringLiteral("|"));
                    expected += (present[k] ? g : r).arg(QLatin1String(sizes[k]) + QString::fromUtf8(row.suffix));
                }
                const QString shown = (line == 0 ? g_factory->FontCN : g_factory->FontEN)->text();
                EXPECT_EQ(shown, expected) << "language " << row.language << " line " << line;
            }
        });
    }
    // A font change alone (no language change) shows at the next refresh.
    s.act([] {
        c331Chip().flashWrite(0x010000, {'P'});
        scaler()->read_c331_font(scaler()->c331_fd);
        Panel::refresh(104);
        EXPECT_TRUE(g_factory->FontCN->text().startsWith(QStringLiteral("<font style = 'font-size:12px' color = #ffffff >CN:</font>"
                                                                        "<font style = 'font-size:13px' color = #00ff00 >32</font>")))
            << g_factory->FontCN->text().toStdString();
    });
    ASSERT_TRUE(s.run(10000));
}

// A language code above 4 from the protocol: English texts and plain heads; the box keeps its
// entry on the refresh and a new page shows English.
TEST_F(FactoryPage, LanguageCodeAboveFourShowsEnglish)
{
    g_language = 3;
    testBlock(store)[blk::kLanguage] = store->shadow[blk::kLanguage] = 3;
    Script s;
    toFactory(s);
    s.act([this] {
         ScalerHandOver protocol;
         testBlock(store)[blk::kLanguage] = 9;
     })
        .act([] { Panel::refresh(); })
        .act([] {
            EXPECT_EQ(g_language.load(), 9);
            EXPECT_EQ(Panel::title(g_factory), QStringLiteral("Factory setup"));
            EXPECT_EQ(g_factory->label_lang->text(), QStringLiteral("language"));
            EXPECT_EQ(g_factory->Box_lang_2->currentIndex(), 3) << "the box keeps its entry";
            EXPECT_TRUE(g_factory->FontCN->text().contains(QStringLiteral(">CN:<")));
            EXPECT_TRUE(g_factory->FontCN->text().contains(QStringLiteral(">128<")));
        })
        .key(Back)
        .until([] { return Panel::onTop(12); }, "advanced menu")
        .choose("Button_factory")
        .until([] { return Panel::onTop(18) && g_factory; }, "factory page again")
        .act([] {
            EXPECT_EQ(g_factory->Box_lang_2->currentIndex(), 1);
            EXPECT_EQ(g_factory->lang_index, 1);
        });
    ASSERT_TRUE(s.run(10000));
}

TEST_F(FactoryPage, ModeClosesThePageAndTheAdvancedMenuAndOpensTheUserModes)
{
    Script s;
    toFactory(s);
    s.keys({OK, Right}) // a choice being edited is dropped too
        .key(Mode)
        .until([] { return g_page_focus.load() == 4 && QApplication::activeWindow() == g_custommode.data(); }, "user modes")
        .act([this] {
            EXPECT_FALSE(g_factory);
            EXPECT_FALSE(g_advancedoption);
            EXPECT_EQ(g_mode_shortcut_key.load(), 1);
            EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
            EXPECT_EQ(testBlock(store)[blk::kLanguage], 0);
            EXPECT_EQ(Panel::changeFlag(), 0);
        });
    ASSERT_TRUE(s.run(10000));
}

// Every text fits in each language (the box entries too), with a picture of each for a person.
TEST_F(FactoryPage, EveryTextFitsInEveryLanguage)
{
    scaler()->read_c331_font(scaler()->c331_fd);
    QStringList bad;
    Script s;
    toFactory(s);
    for (int language : {0, 1, 2, 3, 4}) {
        s.act([&, language] {
            testBlock(store)[blk::kLanguage] = uint8_t(language);
            Panel::refresh();
            factory* f = g_factory;
            ASSERT_EQ(g_language.load(), language);
            bad << Panel::misfits(f, QStringLiteral("factory%1").arg(language));
            bad << Panel::lowContrast(f, QStringLiteral("factory%1").arg(language));
            const QFontMetrics fm(f->Box_lang_2->font());
            const int room = f->Box_lang_2->width() - 12;
            for (int i = 0; i < f->Box_lang_2->count(); ++i)
                if (fm.horizontalAdvance(f->Box_lang_2->itemText(i)) > room)
                    bad << QStringLiteral("box entry %1 does not fit").arg(f->Box_lang_2->itemText(i));
            Panel::shot(f, QStringLiteral("factory_%1").arg(language));
        });
    }
    s.keys({OK, Right}).act([] { Panel::shot(g_factory, QStringLiteral("factory_editing")); });
    ASSERT_TRUE(s.run(10000));
    EXPECT_TRUE(bad.isEmpty()) << bad.join(QLatin1Char('\n')).toStdString();
}
