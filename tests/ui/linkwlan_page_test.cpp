// The wired network page: reached from the communication menu, the octet fields and their keypad,
// Apply writing the INI file and setting eth0 up through the recording shell, and every set the
// box could not use refused before anything is stored or run.
#include "panel_fixture.h"
#include "panel_checks.h"
#include "second_writer.h"
#include "test_root.h"

#include "base/global.h"
#include "base/ipv4_settings.h"
#include "base/utils.h"
#include "params/block_layout.h"
#include "params/config_engine.h"
#include "params/vyrrampara.h"
#include "platform/sim/sim_board.h"
#include "ui/linkoption.h"
#include "ui/lockwindow.h"
#include "ui/numberkeyboard.h"
#include "ui/option.h"
#include "ui/pages_picture/custommode.h"
#include "ui/pagenav.h"
#include "ui/pages_settings/linkwlan.h"
#include "ui/panelkeys.h"
#include "store_face.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTest>
#include <algorithm>

using namespace PanelKey;
using platform::Sim::shellSim;

namespace {

const char* const kProbe = "ifconfig eth0 &>/dev/null";

// From the home screen: root menu, settings (three to the right), communication (three to the
// right), the wired entry (one to the right).
Script& toWiredPage(Script& s)
{
    return s.key(OK)
        .choose("option")
        .until([] { return Panel::onTop(5); }, "settings menu")
        .choose("link_set")
        .until([] { return Panel::onTop(10); }, "communication menu")
        .choose("Button_wlan")
        .until([] { return Panel::onTop(22); }, "wired network page");
}


// Types on the open keypad with its keys: C, the digits, OK (key order 1-9, 0, C, erase, cancel, OK).
void typeOnKeypad(const QString& digits)
{
    auto pressKeyAt = [](int target) {
        const int moves = (target - g_numberkeyboard->ui_select + 14) % 14;
        for (int i = 0; i < moves; ++i)
            Panel::sendKey(g_numberkeyboard, Right);
        Panel::sendKey(g_numberkeyboard, OK);
    };
    pressKeyAt(10);
    for (QChar c : digits)
        pressKeyAt(c == QLatin1Char('0') ? 9 : c.unicode() - '1');
    pressKeyAt(13);
}

QString ini(const char* key)
{
    QSettings s(QString::fromStdString(TestRoot::path(ConfigEngine::kIniPath)), QSettings::IniFormat);
    return s.value(QStringLiteral("config/") + QLatin1String(key)).toString();
}

QStringList fields()
{
    QStringList out;
    for (QLineEdit* f : g_linkwlan->field)
        out << f->text();
    return out;
}

void setRow(int row, const QString& a, const QString& b, const QString& c, const QString& d, linkwlan* page = nullptr)
{
    const QString parts[4] = {a, b, c, d};
    for (int k = 0; k < 4; ++k)
        (page ? page : g_linkwlan.data())->field[row * 4 + k]->setText(parts[k]);
}

bool hasFocusLook(QWidget* w) { return w->styleSheet().contains(QStringLiteral("rgb(255,171,84)")); }

class WiredPage : public PanelTest {
protected:
    void SetUp() override
    {
        PanelTest::SetUp();
        ConfigEngine::pInstance(); // the INI file with its defaults, and the globals from it
        g_language = 1;
        testBlock(store)[blk::kLanguage] = store->shadow[blk::kLanguage] = 1;
        shellSim().clearScripts();
        shellSim().clearLog();
        refreshes = std::make_unique<QSignalSpy>(store, &VyrRamPara::sig_update_para);
    }
    std::unique_ptr<QSignalSpy> refreshes;
};

}

TEST(Ipv4Settings, ChecksEachRuleOfAUsableSet)
{
    using V = Ipv4::Verdict;
    const struct {
        const char* ip;
        const char* mask;
        const char* gateway;
        V verdict;
    } cases[] = {
        {"192.168.1.199", "255.255.255.0", "192.168.1.1", V::Ok},
        {"10.1.2.3", "255.0.0.0", "10.255.255.254", V::Ok},
        {"172.16.0.1", "255.255.255.252", "172.16.0.2", V::Ok},   // the smallest subnet with two hosts
        {"192.168..5", "255.255.255.0", "192.168.1.1", V::BadAddress},
        {"192.168.1", "255.255.255.0", "192.168.1.1", V::BadAddress},
        {"192.168.1.5.6", "255.255.255.0", "192.168.1.1", V::BadAddress},
        {"192.168.1.256", "255.255.255.0", "192.168.1.1", V::BadAddress},
        {"192.168.1.05", "255.255.255.0", "192.168.1.1", V::BadAddress},
        {"192.168.1.5;reboot", "255.255.255.0", "192.168.1.1", V::BadAddress},
        {"192.168.1. 5", "255.255.255.0", "192.168.1.1", V::BadAddress},
        {"0.1.2.3", "255.0.0.0", "0.1.2.1", V::BadAddress},
        {"127.0.0.5", "255.0.0.0", "127.0.0.1", V::BadAddress},
        {"224.0.0.5", "255.255.255.0", "224.0.0.1", V::BadAddress},
        {"192.168.1.5", "0.0.0.0", "192.168.1.1", V::BadMask},
        {"192.168.1.5", "255.0.255.0", "192.168.1.1", V::BadMask},
        {"192.168.1.5", "0.255.255.255", "192.168.1.1", V::BadMask},
        {"192.168.1.5", "255.255.255.1", "192.168.1.1", V::BadMask},
        {"192.168.1.5", "255.255.255", "192.168.1.1", V::BadMask},
        {"192.168.1.0", "255.255.255.0", "192.168.1.1", V::HostIsNetwork},
        {"192.168.1.5", "255.255.255.255", "192.168.1.1", V::HostIsNetwork},
        {"192.168.1.255", "255.255.255.0", "192.168.1.1", V::HostIsBroadcast},
        {"10.255.255.255", "255.0.0.0", "10.0.0.1", V::HostIsBroadcast},
        {"192.168.1.5", "255.255.255.0", "192.168.2.1", V::GatewayOutside},
        {"192.168.1.5", "255.255.255.128", "192.168.1.129", V::GatewayOutside},
        {"192.168.1.5", "255.255.255.0", "192.168.1.255", V::BadGateway},
        {"192.168.1.5", "255.255.255.0", "192.168.1.0", V::BadGateway},
        {"192.168.1.5", "255.255.255.0", "192.168.1.5", V::BadGateway},
        {"192.168.1.5", "255.255.255.0", "", V::BadGateway},
    };
    for (const auto& c : cases)
        EXPECT_EQ(int(Ipv4::check(QLatin1String(c.ip), QLatin1String(c.mask), QLatin1String(c.gateway))), int(c.verdict))
            << c.ip << " / " << c.mask << " / " << c.gateway;
}

TEST(Ipv4Settings, SetUpRefusesAStoredSetTheBoxCannotUseAndRunsToolsFromArgumentLists)
{
    shellSim().clearScripts();
    shellSim().clearLog();
    ConfigEngine* config = ConfigEngine::pInstance();
    ASSERT_TRUE(config->write_config_variant(ConfigItem::SubNetMask, QStringLiteral("255.0.255.0")));
    shellSim().clearLog();
    EXPECT_EQ(Utils::initIPAddress(), 255u);
    EXPECT_EQ(shellSim().commands(), std::vector<std::string>({kProbe})) << "a mask with a hole is never applied";

    ASSERT_TRUE(config->write_config_variant(ConfigItem::SubNetMask, QStringLiteral("255.255.0.0")));
    shellSim().clearLog();
    EXPECT_EQ(Utils::initIPAddress(), 0u);
    const auto runs = shellSim().argumentRuns();
    using Argv = std::vector<std::string>;
    EXPECT_EQ(runs, (std::vector<Argv>{{"route", "del", "default", "wlan0"},
                                       {"ifconfig", "eth0", "192.168.1.199", "netmask", "255.255.0.0"},
                                       {"route", "add", "-host", "192.168.1.1", "dev", "eth0"},
                                       {"route", "add", "default", "gw", "192.168.1.1", "metric", "100"},
                                       {"route", "add", "-host", "255.255.255.255", "eth0"},
                                       {"route", "del", "255.255.255.255", "wlan1"}}));
    // Only the fixed probe went through a shell.
    EXPECT_EQ(shellSim().commands().size(), runs.size() + 1);
    EXPECT_EQ(shellSim().commands().front(), kProbe);

    shellSim().script("ifconfig eth0 192.168.1.199", 1);
    EXPECT_EQ(Utils::initIPAddress(), 255u) << "a failed ifconfig is no success";
}

TEST_F(WiredPage, ReachedByKeysShowsTheAddressInForceAndBackReturnsToTheMenu)
{
    Script s;
    toWiredPage(s)
        .act([] {
            EXPECT_EQ(fields(), QStringList({"192", "168", "1", "199", "255", "255", "255", "0", "192", "168", "1", "1"}));
            EXPECT_EQ(g_linkwlan->findChild<QLabel*>(QStringLiteral("label_title"))->text(), QStringLiteral("Net connect"));
            EXPECT_EQ(g_linkwlan->label_netmask->text(), QStringLiteral("Mask"));
            EXPECT_EQ(g_linkwlan->Button_cancle->text(), QStringLiteral("Cancle"));
            EXPECT_EQ(g_linkwlan->ui_select, 0);
            EXPECT_TRUE(hasFocusLook(g_linkwlan->field[0]));
            EXPECT_FALSE(hasFocusLook(g_linkwlan->Button_apply)) << "Apply only holds the button focus";
            EXPECT_EQ(g_linkwlan->focused_button, g_linkwlan->Button_apply);
        })
        .key(Back)
        .until([] { return Panel::onTop(10) && !g_linkwlan; }, "communication menu again");
    ASSERT_TRUE(s.run(10000));
    EXPECT_TRUE(shellSim().commands().empty());
}

TEST_F(WiredPage, FocusWalksTheFourteenEntriesWithWrapAndCancelLeaves)
{
    Script s;
    toWiredPage(s)
        .key(Left)
        .act([] {
            EXPECT_EQ(g_linkwlan->ui_select, linkwlan::kCancel);
            EXPECT_TRUE(hasFocusLook(g_linkwlan->Button_cancle));
            EXPECT_FALSE(hasFocusLook(g_linkwlan->field[0]));
            EXPECT_TRUE(g_linkwlan->field[0]->styleSheet().contains(QStringLiteral("border-left")));
            EXPECT_EQ(g_linkwlan->focused_field, g_linkwlan->field[0]) << "the field frame is remembered";
        })
        .key(Right)
        .act([] { EXPECT_EQ(g_linkwlan->ui_select, 0); })
        .keys({Right, Right, Right})
        .act([] {
            EXPECT_TRUE(g_linkwlan->field[2]->styleSheet().contains(QStringLiteral("border-top")));
            EXPECT_FALSE(g_linkwlan->field[2]->styleSheet().contains(QStringLiteral("border-left")));
            EXPECT_FALSE(g_linkwlan->field[2]->styleSheet().contains(QStringLiteral("border-right")));
        })
        .key(Right)
        .act([] {
            EXPECT_EQ(g_linkwlan->ui_select, 4);
            EXPECT_TRUE(hasFocusLook(g_linkwlan->field[4]));
            EXPECT_TRUE(g_linkwlan->field[3]->styleSheet().contains(QStringLiteral("border-right")));
        })
        .keys({Left, Left, Left, Left, Left, OK})
        .until([] { return Panel::onTop(10) && !g_linkwlan; }, "OK on Cancel leaves");
    ASSERT_TRUE(s.run(10000));
}

TEST_F(WiredPage, ANewAddressTypedOnTheKeypadIsStoredAndSetUpThroughArgumentLists)
{
    QString title;
    Script s;
    toWiredPage(s)
        .keys({Right, Right, Right, OK})
        .until(Panel::keypadUp, "keypad for the fourth octet")
        .act([&] {
            title = g_numberkeyboard->titleText();
            EXPECT_EQ(g_numberkeyboard->valueText(), QStringLiteral("199"));
            typeOnKeypad(QStringLiteral("77"));
        })
        .until([] { return !Panel::keypadUp() && Panel::onTop(22); }, "keypad closed")
        .act([] { EXPECT_EQ(g_linkwlan->field[3]->text(), QStringLiteral("77")); })
        .keys({Left, Left, Left, Left, Left})
        .act([] { EXPECT_EQ(g_linkwlan->ui_select, linkwlan::kApply); })
        .key(OK)
        .until([] { return g_linkwlan && g_linkwlan->outcome() != linkwlan::Outcome::None; }, "applied")
        .act([] {
            EXPECT_EQ(g_linkwlan->outcome(), linkwlan::Outcome::Applied);
            EXPECT_EQ(g_linkwlan->label_result->text(), QStringLiteral("Applied"));
            EXPECT_EQ(g_linkwlan->ui_select, linkwlan::kApply) << "the page stays with the focus on Apply";
            EXPECT_TRUE(Panel::onTop(22));
        });
    ASSERT_TRUE(s.run(10000));
    EXPECT_EQ(title, QStringLiteral("IP"));
    EXPECT_EQ(ini("IPAddress"), QStringLiteral("192.168.1.77"));
    EXPECT_EQ(ini("SubNetMask"), QStringLiteral("255.255.255.0"));
    EXPECT_EQ(ini("GateWay"), QStringLiteral("192.168.1.1"));
    EXPECT_EQ(g_str_ip.get(), QStringLiteral("192.168.1.77"));

    const QStringList log = TestRoot::shellLog();
    EXPECT_EQ(log, QStringList({"sync", kProbe, "route del default wlan0", "ifconfig eth0 192.168.1.77 netmask 255.255.255.0",
                                "route add -host 192.168.1.1 dev eth0", "route add default gw 192.168.1.1 metric 100",
                                "route add -host 255.255.255.255 eth0", "route del 255.255.255.255 wlan1"}));
    // Every line that carries an address came from an argument list, not from a shell string.
    const auto runs = shellSim().argumentRuns();
    ASSERT_EQ(runs.size(), 6u);
    EXPECT_EQ(runs[1], (std::vector<std::string>{"ifconfig", "eth0", "192.168.1.77", "netmask", "255.255.255.0"}));
    EXPECT_EQ(refreshes->count(), 1);
    EXPECT_EQ(refreshes->at(0).at(0).toInt(), 1);
}

TEST_F(WiredPage, KeypadTitlesAndItsRefusalOfOctetsAbove255)
{
    QStringList titles;
    bool refused = false;
    Script s;
    toWiredPage(s);
    for (int row = 1; row <= 2; ++row) {
        s.keys({Right, Right, Right, Right})
            .key(OK)
            .until(Panel::keypadUp, "keypad")
            .act([&] { titles << g_numberkeyboard->titleText(); })
            .key(Back)
            .until([] { return Panel::onTop(22); }, "keypad closed without OK");
    }
    s.act([] { EXPECT_EQ(fields().mid(4), QStringList({"255", "255", "255", "0", "192", "168", "1", "1"})); })
        .key(OK) // on the first gateway field
        .until(Panel::keypadUp, "keypad again")
        .act([&] {
            typeOnKeypad(QStringLiteral("256"));
            refused = g_numberkeyboard->refusedShown();
        })
        .act([] { g_numberkeyboard->on_Button_close_clicked(); })
        .until([] { return Panel::onTop(22); }, "keypad closed");
    ASSERT_TRUE(s.run(10000));
    EXPECT_EQ(titles, QStringList({"Mask", "IP"}));
    EXPECT_TRUE(refused);
    EXPECT_EQ(g_str_gateway.get(), QStringLiteral("192.168.1.1"));
}

TEST_F(WiredPage, UnusableSetsAreRefusedWithAMessageAndNothingIsStoredOrRun)
{
    const struct {
        QStringList rows[3];
        const char* message;
    } cases[] = {
        {{{"192", "168", "", "5"}, {"255", "255", "255", "0"}, {"192", "168", "1", "1"}}, "Invalid IP address"},
        {{{"192", "168", "1", "300"}, {"255", "255", "255", "0"}, {"192", "168", "1", "1"}}, "Invalid IP address"},
        {{{"192", "168", "1", "5;reboot"}, {"255", "255", "255", "0"}, {"192", "168", "1", "1"}}, "Invalid IP address"},
        {{{"192", "168", "1", "5"}, {"255", "0", "255", "0"}, {"192", "168", "1", "1"}}, "Invalid subnet mask"},
        {{{"192", "168", "1", "5"}, {"0", "0", "0", "0"}, {"192", "168", "1", "1"}}, "Invalid subnet mask"},
        {{{"192", "168", "1", "0"}, {"255", "255", "255", "0"}, {"192", "168", "1", "1"}}, "IP is the network or broadcast address"},
        {{{"192", "168", "1", "255"}, {"255", "255", "255", "0"}, {"192", "168", "1", "1"}}, "IP is the network or broadcast address"},
        {{{"192", "168", "1", "5"}, {"255", "255", "255", "0"}, {"192", "168", "2", "1"}}, "Gateway is outside the subnet"},
        {{{"192", "168", "1", "5"}, {"255", "255", "255", "0"}, {"192", "168", "1", "255"}}, "Invalid gateway"},
        {{{"192", "168", "22", "50"}, {"255", "255", "255", "0"}, {"192", "168", "22", "1"}}, "Same subnet as the Wi-Fi access point"},
        {{{"192", "168", "1", "5"}, {"255", "255", "0", "0"}, {"192", "168", "1", "1"}}, "Same subnet as the Wi-Fi access point"},
    };
    const QByteArray before = TestRoot::readFile(ConfigEngine::kIniPath);
    ASSERT_FALSE(before.isEmpty());
    Script s;
    toWiredPage(s).keys({Left, Left}).act([] { EXPECT_EQ(g_linkwlan->ui_select, linkwlan::kApply); });
    for (const auto& c : cases) {
        s.act([&c] {
             for (int r = 0; r < 3; ++r)
                 setRow(r, c.rows[r][0], c.rows[r][1], c.rows[r][2], c.rows[r][3]);
         })
            .key(OK)
            .until([] { return g_linkwlan->outcome() == linkwlan::Outcome::Refused; }, c.message)
            .act([&c] {
                EXPECT_EQ(g_linkwlan->label_result->text(), QLatin1String(c.message)) << c.rows[0].join('.').toStdString();
                g_linkwlan->field[0]->setText(QStringLiteral("193")); // a change, so the next case is a new Apply
            });
    }
    ASSERT_TRUE(s.run(15000));
    EXPECT_EQ(TestRoot::readFile(ConfigEngine::kIniPath), before);
    EXPECT_TRUE(shellSim().commands().empty());
    EXPECT_EQ(refreshes->count(), 0);
    EXPECT_EQ(g_str_ip.get(), QStringLiteral("192.168.1.199"));
}

TEST_F(WiredPage, ApplyWithNothingChangedWritesAndRunsNothing)
{
    QFile::remove(QString::fromStdString(TestRoot::path(ConfigEngine::kIniPath)));
    Script s;
    toWiredPage(s).keys({Left, Left, OK}).act([] { EXPECT_EQ(g_linkwlan->outcome(), linkwlan::Outcome::Unchanged); });
    ASSERT_TRUE(s.run(10000));
    EXPECT_FALSE(TestRoot::exists(ConfigEngine::kIniPath));
    EXPECT_TRUE(shellSim().commands().empty());
    EXPECT_EQ(refreshes->count(), 0);
}

// A PC tool sets the address (0xA4/1) while the page is open. Apply with nothing typed leaves the
// tool's set and shows it; a row the operator typed is applied only once they have seen the rest.
TEST_F(WiredPage, AnAddressAToolSetsWhileThePageIsOpenIsNotWrittenBack)
{
    auto toolSets = [](uint8_t last) {
        const uint16_t port = uint16_t(g_port.load());
        return SecondWriter::inProcess().request(0xA4, {1, 0, 0, 0, 192, 168, 1, last, 255, 255, 255, 0, 192, 168, 1,
                                                        1, uint8_t(port), uint8_t(port >> 8)});
    };
    auto searchAnswer = [] {
        Bytes reply;
        EXPECT_EQ(SecondWriter::inProcess().request(0xA4, {3}, &reply), 0);
        auto dotted = [&reply](size_t at) {
            return QStringLiteral("%1.%2.%3.%4").arg(int(reply[at])).arg(int(reply[at + 1])).arg(int(reply[at + 2])).arg(int(reply[at + 3]));
        };
        return reply.size() >= 33 ? dotted(21) + QStringLiteral(" gw ") + dotted(29) : QString();
    };
    Script s;
    toWiredPage(s)
        .act([&] { EXPECT_EQ(toolSets(50), 0); })
        .keys({Left, Left, OK})
        .until([] { return g_linkwlan->outcome() != linkwlan::Outcome::None; }, "Apply done")
        .act([&] {
            EXPECT_EQ(g_linkwlan->outcome(), linkwlan::Outcome::Unchanged);
            EXPECT_EQ(ini("IPAddress"), QStringLiteral("192.168.1.50"));
            EXPECT_EQ(searchAnswer(), QStringLiteral("192.168.1.50 gw 192.168.1.1"));
            EXPECT_EQ(fields().mid(0, 4), QStringList({"192", "168", "1", "50"})) << "the page shows the tool's address";
            g_linkwlan->field[11]->setText(QStringLiteral("254"));
            EXPECT_EQ(toolSets(60), 0);
        })
        .key(OK)
        .until([] { return g_linkwlan->outcome() != linkwlan::Outcome::Unchanged; }, "second Apply done")
        .act([&] {
            EXPECT_EQ(g_linkwlan->outcome(), linkwlan::Outcome::ChangedElsewhere);
            EXPECT_EQ(g_linkwlan->label_result->text(),
                      QStringLiteral("Changed elsewhere meanwhile, not applied: check and apply again"));
            EXPECT_EQ(searchAnswer(), QStringLiteral("192.168.1.60 gw 192.168.1.1"));
            EXPECT_EQ(fields(), QStringList({"192", "168", "1", "60", "255", "255", "255", "0", "192", "168", "1", "254"}));
        })
        .key(OK)
        .until([] { return g_linkwlan->outcome() == linkwlan::Outcome::Applied; }, "the set as shown applied");
    ASSERT_TRUE(s.run(10000));
    EXPECT_EQ(ini("IPAddress"), QStringLiteral("192.168.1.60"));
    EXPECT_EQ(ini("GateWay"), QStringLiteral("192.168.1.254"));
    EXPECT_EQ(searchAnswer(), QStringLiteral("192.168.1.60 gw 192.168.1.254"));
}

TEST_F(WiredPage, OnlyTheGatewayChangedStillWritesAllThreeKeys)
{
    // The file loses the two keys that do not change: Apply must write them again.
    ASSERT_TRUE(TestRoot::writeFile(ConfigEngine::kIniPath, "[config]\nGateWay=192.168.1.1\n"));
    Script s;
    toWiredPage(s)
        .act([] { g_linkwlan->field[11]->setText(QStringLiteral("254")); })
        .keys({Left, Left, OK})
        .until([] { return g_linkwlan->outcome() == linkwlan::Outcome::Applied; }, "applied");
    ASSERT_TRUE(s.run(10000));
    EXPECT_EQ(ini("IPAddress"), QStringLiteral("192.168.1.199"));
    EXPECT_EQ(ini("SubNetMask"), QStringLiteral("255.255.255.0"));
    EXPECT_EQ(ini("GateWay"), QStringLiteral("192.168.1.254"));
    EXPECT_TRUE(TestRoot::shellLog().contains(QStringLiteral("route add default gw 192.168.1.254 metric 100")));
}

TEST_F(WiredPage, WithoutEth0TheSetIsStoredAndTheReopenedPageShowsIt)
{
    shellSim().script(kProbe, 1);
    Script s;
    toWiredPage(s)
        .act([] { setRow(0, "10", "0", "0", "9"); setRow(1, "255", "0", "0", "0"); setRow(2, "10", "0", "0", "1"); })
        .keys({Left, Left, OK})
        .until([] { return g_linkwlan->outcome() != linkwlan::Outcome::None; }, "applied")
        .act([] {
            EXPECT_EQ(g_linkwlan->outcome(), linkwlan::Outcome::SavedNotApplied);
            EXPECT_EQ(g_linkwlan->label_result->text(), QStringLiteral("Saved, applied at next start"));
        })
        .key(Back)
        .until([] { return Panel::onTop(10); }, "communication menu")
        .choose("Button_wlan")
        .until([] { return Panel::onTop(22); }, "wired page again")
        .act([] { EXPECT_EQ(fields(), QStringList({"10", "0", "0", "9", "255", "0", "0", "0", "10", "0", "0", "1"})); });
    ASSERT_TRUE(s.run(10000));
    EXPECT_EQ(ini("IPAddress"), QStringLiteral("10.0.0.9"));
    EXPECT_EQ(TestRoot::shellLog(), QStringList({"sync", kProbe})) << "nothing is set up without the port";
}

TEST_F(WiredPage, StoredValuesWithTooFewOrTooManyPartsAreShownWithinTheirParts)
{
    g_str_ip = QStringLiteral("10.1");
    g_srt_mask = QStringLiteral("255.0.0.0.7");
    g_str_gateway = QStringLiteral("");
    Script s;
    toWiredPage(s)
        .act([] { EXPECT_EQ(fields(), QStringList({"10", "1", "", "", "255", "0", "0", "0", "", "", "", ""})); })
        .keys({Left, Left, OK})
        .until([] { return g_linkwlan->outcome() == linkwlan::Outcome::Refused; }, "the empty parts are refused")
        .act([] {
            setRow(0, "10", "1", "2", "3");
            setRow(2, "10", "0", "0", "1");
        })
        .key(OK)
        .until([] { return g_linkwlan->outcome() == linkwlan::Outcome::Applied; }, "the four-part values are applied");
    ASSERT_TRUE(s.run(10000));
    EXPECT_EQ(ini("SubNetMask"), QStringLiteral("255.0.0.0"));
    EXPECT_EQ(ini("IPAddress"), QStringLiteral("10.1.2.3"));
}

TEST_F(WiredPage, TapsOpenTheKeypadForTheFieldButMoveNoFrameAndButtonsIgnoreTaps)
{
    QString shown;
    Script s;
    toWiredPage(s)
        .act([] { QTest::mouseClick(g_linkwlan->Button_cancle, Qt::LeftButton); })
        .act([] { Panel::pump(30); })
        .act([] { EXPECT_TRUE(Panel::onTop(22)) << "a tap on Cancel does nothing"; })
        .act([] {
            QMetaObject::invokeMethod(
                qApp, [] { QTest::mousePress(g_linkwlan->field[6], Qt::LeftButton); }, Qt::QueuedConnection);
        })
        .until(Panel::keypadUp, "keypad from a tap")
        .act([&] { shown = g_numberkeyboard->titleText() + QLatin1Char(' ') + g_numberkeyboard->valueText(); })
        .act([] { typeOnKeypad(QStringLiteral("128")); })
        .until([] { return Panel::onTop(22); }, "keypad closed")
        .act([] {
            EXPECT_EQ(g_linkwlan->field[6]->text(), QStringLiteral("128"));
            EXPECT_EQ(g_linkwlan->ui_select, 0);
            EXPECT_TRUE(hasFocusLook(g_linkwlan->field[0]));
            EXPECT_FALSE(hasFocusLook(g_linkwlan->field[6]));
        });
    ASSERT_TRUE(s.run(10000));
    EXPECT_EQ(shown, QStringLiteral("Mask 255"));
}

TEST_F(WiredPage, ModeGoesToTheUserModes)
{
    Script s;
    toWiredPage(s).key(Mode).until([] { return g_page_focus.load() == 4 && g_custommode && !g_linkwlan && !g_linkoption && !g_option; }, "user modes");
    ASSERT_TRUE(s.run(10000));
}

TEST_F(WiredPage, TextsInEveryLanguageFitAndFollowALanguageChange)
{
    g_str_ip = QStringLiteral("255.255.255.255"); // the widest octets
    QStringList bad;
    for (int language = 0; language < 5; ++language) {
        g_language = uint8_t(language);
        std::unique_ptr<linkwlan> page(new linkwlan);
        page->show();
        auto check = [&](const QString& name) {
            bad << Panel::misfits(page.get(), name);
            bad << Panel::lowContrast(page.get(), name);
            for (QLineEdit* f : page->field) {
                QStyleOptionFrame option;
                option.initFrom(f);
                const QRect room = f->style()->subElementRect(QStyle::SE_LineEditContents, &option, f);
                if (QFontMetrics(f->font()).horizontalAdvance(f->text()) > room.width() || QFontInfo(f->font()).pixelSize() < 10)
                    bad << name + QLatin1Char('/') + f->objectName();
            }
            Panel::shot(page.get(), name);
        };
        check(QStringLiteral("linkwlan_%1").arg(language));
        // The longest refusal: the address is the network's own.
        setRow(0, "192", "168", "1", "0", page.get());
        setRow(1, "255", "255", "255", "0", page.get());
        setRow(2, "192", "168", "1", "1", page.get());
        page->on_Button_net_apply_clicked();
        EXPECT_EQ(page->outcome(), linkwlan::Outcome::Refused);
        check(QStringLiteral("linkwlan_refused_%1").arg(language));
        page->field[3]->setText(QStringLiteral("9"));
        shellSim().script(kProbe, 1);
        page->on_Button_net_apply_clicked();
        EXPECT_EQ(page->outcome(), linkwlan::Outcome::SavedNotApplied);
        check(QStringLiteral("linkwlan_saved_%1").arg(language));
        page->field[3]->setText(QStringLiteral("10"));
        g_str_ip = QStringLiteral("192.168.1.11"); // set by another writer meanwhile
        page->on_Button_net_apply_clicked();
        EXPECT_EQ(page->outcome(), linkwlan::Outcome::ChangedElsewhere);
        check(QStringLiteral("linkwlan_elsewhere_%1").arg(language));
        g_str_ip = QStringLiteral("255.255.255.255");
    }
    EXPECT_TRUE(bad.isEmpty()) << bad.join(QLatin1Char('\n')).toStdString();

    // A language change made while the page is open shows at the next refresh.
    g_lockwindow->activateWindow();
    ASSERT_TRUE(Panel::waitFor([] { return QApplication::activeWindow() == g_lockwindow.data(); }));
    shellSim().clearScripts();
    g_language = 1;
    testBlock(store)[blk::kLanguage] = 1;
    store->shadow[blk::kLanguage] = 1;
    Script s;
    toWiredPage(s)
        .act([this] { testBlock(store)[blk::kLanguage] = 2; })
        .act([] { Panel::refresh(1); })
        .until([] { return g_linkwlan->label_gateway->text() == QString::fromUtf8("Шлюз"); }, "Russian texts")
        .act([] { EXPECT_EQ(g_linkwlan->Button_apply->text(), QStringLiteral("OK")); })
        .key(OK)
        .until(Panel::keypadUp, "keypad")
        .act([] { EXPECT_EQ(g_numberkeyboard->titleText(), QStringLiteral("IP")); })
        .key(Back)
        .until([] { return Panel::onTop(22); }, "page");
    ASSERT_TRUE(s.run(10000));
}

TEST_F(WiredPage, AnINIFileThatCannotBeWrittenIsReportedAndNothingIsApplied)
{
    // The mask cannot be written after the address: the address is not stored alone.
    const QByteArray before = TestRoot::readFile(ConfigEngine::kIniPath);
    std::unique_ptr<linkwlan> page(new linkwlan);
    setRow(0, "192", "168", "1", "88", page.get());
    ConfigEngine::failWritesOf(ConfigItem::SubNetMask);
    page->on_Button_net_apply_clicked();
    ConfigEngine::failWritesOf(-1);
    EXPECT_EQ(page->outcome(), linkwlan::Outcome::NotSaved);
    EXPECT_EQ(TestRoot::readFile(ConfigEngine::kIniPath), before);
    page.reset();
    // A folder where the file should be: every write of the INI store fails.
    const QString path = QString::fromStdString(TestRoot::path(ConfigEngine::kIniPath));
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QDir().mkpath(path));
    Script s;
    toWiredPage(s)
        .act([] { g_linkwlan->field[3]->setText(QStringLiteral("88")); })
        .keys({Left, Left, OK})
        .until([] { return g_linkwlan->outcome() != linkwlan::Outcome::None; }, "Apply done")
        .act([] {
            EXPECT_EQ(g_linkwlan->outcome(), linkwlan::Outcome::NotSaved);
            EXPECT_EQ(g_linkwlan->label_result->text(), QStringLiteral("Could not be saved"));
        });
    ASSERT_TRUE(s.run(10000));
    EXPECT_TRUE(shellSim().commands().empty()) << "nothing is set up from a set that is not stored";
    EXPECT_EQ(refreshes->count(), 0);
    EXPECT_EQ(g_str_ip.get(), QStringLiteral("192.168.1.199"));
}
