// The home screen: status line, the six windows with their names and states, taps and keys,
// refresh after protocol changes, texts in every language.
#include "panel_fixture.h"
#include "panel_checks.h"
#include "panel_store.h"

#include "base/global.h"
#include "params/alias_names.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "test_root.h"
#include "lock_waiters.h"
#include "program.h"
#include "ui/inputtexts.h"
#include "scaler/c331_manage.h"
#include "ui/lockwindow.h"
#include "ui/machinestate.h"
#include "ui/mainwindow.h"
#include "ui/outputset.h"
#include "ui/pages_picture/edidset.h"
#include "ui/pages_picture/imagelayout.h"
#include "ui/pages_picture/inputchoose.h"
#include "ui/pages_picture/inputcut.h"
#include "ui/pages_picture/custommode.h"
#include "ui/panelkeys.h"
#include "store_face.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <unistd.h>

namespace {
using namespace PanelKey;

QString windowText(const char* what, int window)
{
    return Panel::labelText(g_lockwindow, QStringLiteral("label_%1%2").arg(QLatin1String(what)).arg(window).toLatin1().constData());
}
bool frozen(int window) { return g_lockwindow->findChild<QLabel*>(QStringLiteral("label_freeze%1").arg(window)) != nullptr; }

void windowOn(VyrRamPara* s, int w, uint16_t source, uint16_t flags = 0, uint16_t state = 1)
{
    s->setU16(blk::window(w, blk::win::kState), state);
    s->setU16(blk::window(w, blk::win::kSource), source);
    s->setU16(blk::window(w, blk::win::kOutput), flags);
}

// A table with holes: crop 3 of HDMI2 sits in entry 5, behind crops of other inputs and a freed entry.
void fragmentedCrops(VyrRamPara* s)
{
    Panel::clearCrops(s);
    s->setU16(blk::cropField(0, blk::crop::kId), blk::crop::idWord(2, 1));
    s->setU16(blk::cropField(2, blk::crop::kId), blk::crop::idWord(3, 1));
    s->setU16(blk::cropField(5, blk::crop::kId), blk::crop::idWord(3, 3));
    s->setU16(blk::cropField(5, blk::crop::kWidth), 960);
    s->setU16(blk::cropField(5, blk::crop::kHeight), 540);
    s->VyrCropSourceInit();
}

void standardWall(VyrRamPara* s)
{
    for (int w = 0; w < 6; ++w)
        windowOn(s, w, 0, 0, 0);
    Panel::setInputTiming(s, 2, 1920, 1080, 60);
    Panel::setInputTiming(s, 3, 3840, 2160, 30);
    Panel::setInputTiming(s, 1, 0, 0, 0);
    fragmentedCrops(s);
    windowOn(s, 0, 2);                                   // HDMI1 whole
    windowOn(s, 2, blk::win::kSourceCrop | 5);           // HDMI2's crop 3 (entry 5)
    windowOn(s, 3, 1);                                   // DVI without signal
    windowOn(s, 4, 3, blk::win::kOutBlack);              // window black
    windowOn(s, 5, 2, blk::win::kOutFreeze);             // window frozen
    s->setU16(blk::kBlackScreen, 0);
}
}

TEST_F(PanelTest, HomeScreenShowsEachWindowsSourceAndState)
{
    standardWall(store);
    ASSERT_TRUE(TestRoot::writeFile(AliasNames::kPath, R"({"namelist":{"source":[{"id":2,"valid":"on","name":"Stage camera"},{"id":3,"valid":"off","name":"Hidden"}]}})"));
    store->setU16(blk::kLedWidth, 1920);
    store->setU16(blk::kLedHeight, 1080);
    store->setU16(blk::kBrightness, 80);
    store->setU16(blk::kContrast, 55);
    g_language = 1;
    g_lockwindow->para_init();
    g_lockwindow->language_changed();
    Panel::shot(g_lockwindow, QStringLiteral("home_wall"));
    EXPECT_EQ(Panel::labelText(g_lockwindow, "label_input"), QStringLiteral("LED size:1920 x 1080"));
    EXPECT_EQ(Panel::labelText(g_lockwindow, "label_bright"), QStringLiteral("80"));
    EXPECT_EQ(Panel::labelText(g_lockwindow, "label_contrast"), QStringLiteral("55"));
    struct Row {
        int window;
        const char* name;
        const char* state;
        bool freeze;
    } rows[] = {
        {1, "Stage camera", "1920x1080@60Hz", false}, // alias of HDMI1
        {2, "", "Close", false},
        {3, "HDMI2_Crop3", "960x540@30Hz", false},    // the crop's own number, not its rank in the table
        {4, "DVI", "No signal", false},
        {5, "HDMI2", "Black", false},                 // alias switched off: the fixed name
        {6, "Stage camera", "1920x1080@60Hz", true},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(windowText("name", r.window), QString::fromUtf8(r.name)) << r.window;
        EXPECT_EQ(windowText("state", r.window), QLatin1String(r.state)) << r.window;
        EXPECT_EQ(frozen(r.window), r.freeze) << r.window;
    }
    EXPECT_EQ(windowText("num", 3), QStringLiteral("3"));
    // Window 1 is listed even when its state word says off.
    store->setU16(blk::window(0, blk::win::kState), 0);
    g_lockwindow->image_init();
    EXPECT_EQ(windowText("state", 1), QStringLiteral("1920x1080@60Hz"));
    // Window 2 (HDMI1) is listed for any state word but 0, as the scaler shows it; HDMI1's timing
    // needs all three values.
    struct Shown {
        uint16_t state, w, h, rate;
        const char* text;
    } shown[] = {
        {1, 1920, 1080, 60, "1920x1080@60Hz"}, {2, 1920, 1080, 60, "1920x1080@60Hz"}, {0x0100, 1920, 1080, 60, "1920x1080@60Hz"},
        {0, 1920, 1080, 60, "Close"},
        {1, 1920, 1080, 0, "No signal"},       {1, 1920, 0, 60, "No signal"}, {1, 0, 1080, 60, "No signal"},
        {1, 1, 1, 1, "1x1@1Hz"},
    };
    for (const Shown& r : shown) {
        windowOn(store, 1, 2, 0, r.state);
        Panel::setInputTiming(store, 2, r.w, r.h, r.rate);
        g_lockwindow->image_init();
        EXPECT_EQ(windowText("state", 2), QLatin1String(r.text)) << r.state << " " << r.w << "x" << r.h << "@" << r.rate;
    }
}

TEST_F(PanelTest, HomeScreenBlackAndFrozenScreenCoverEveryWindow)
{
    standardWall(store);
    g_language = 1;
    store->setU16(blk::kBlackScreen, 1);
    g_lockwindow->image_init();
    for (int w : {1, 3, 4, 5, 6})
        EXPECT_EQ(windowText("state", w), QStringLiteral("Black")) << w;
    EXPECT_EQ(windowText("state", 2), QStringLiteral("Close"));
    store->setU16(blk::kBlackScreen, 2);
    g_lockwindow->image_init();
    for (int w : {1, 3, 4, 5, 6})
        EXPECT_TRUE(frozen(w)) << w;
    EXPECT_FALSE(frozen(2));
    EXPECT_EQ(windowText("state", 5), QStringLiteral("Black")); // its own black flag still counts
}

TEST_F(PanelTest, HomeScreenAudioPictureFollowsTheAudioWindow)
{
    auto picture = [] {
        return g_lockwindow->findChild<QLabel*>(QStringLiteral("label_volume_icon"))->pixmap(Qt::ReturnByValue).toImage();
    };
    const QImage open = QImage(QStringLiteral(":/png/volume_open.png"));
    const QImage closed = QImage(QStringLiteral(":/png/volume_close.png"));
    ASSERT_NE(open, closed);
    struct Case {
        uint8_t audioWindow;
        int onWindow;
        bool on;
    } cases[] = {{2, 2, true}, {2, 0, false}, {7, 0, true}, {7, 3, false}, {0, 0, true}};
    for (const Case& c : cases) {
        for (int w = 0; w < 6; ++w)
            testBlock(store)[blk::window(w, blk::win::kAudioHigh)] = 0;
        testBlock(store)[blk::window(c.onWindow, blk::win::kAudioHigh)] = 0x80;
        testBlock(store)[blk::kAudioWindow] = c.audioWindow;
        EXPECT_EQ(g_lockwindow->volume_check(), c.on) << int(c.audioWindow) << " " << c.onWindow;
        g_lockwindow->para_init();
        EXPECT_EQ(picture(), (c.on ? open : closed).convertToFormat(picture().format())) << int(c.audioWindow);
    }
    // A refresh redraws the picture from bit 15 of the audio word when the word changed; each row
    // flips the picture, so a refresh that draws nothing fails too.
    struct Refresh {
        uint16_t word;
        bool on;
    } refreshes[] = {{0x00FF, false}, {0x8000, true}, {0x7FFF, false}, {0x8001, true}};
    testBlock(store)[blk::kAudioWindow] = 7; // window 1's word
    g_lockwindow->para_init();
    for (const Refresh& r : refreshes) {
        blk::put16(store->shadow, blk::window(0, blk::win::kAudio), 0x1234);
        store->setU16(blk::window(0, blk::win::kAudio), r.word);
        g_lockwindow->syncUpdate();
        EXPECT_EQ(picture(), (r.on ? open : closed).convertToFormat(picture().format())) << r.word;
    }
}

TEST_F(PanelTest, HomeScreenFollowsProtocolChangesWithinARefresh)
{
    standardWall(store);
    g_language = 1;
    g_lockwindow->language_changed();
    Panel::refresh(1); // shadow := block
    // A PC tool sets window 2 on with HDMI2, the brightness and the LED size.
    windowOn(store, 1, 3);
    store->setU16(blk::kBrightness, 17);
    store->setU16(blk::kLedWidth, 40000); // shown unsigned after a refresh
    store->setU16(blk::kLedHeight, 1080);
    store->setU16(blk::window(0, blk::win::kAudio), 0xFF00 | 0xFF);
    Panel::refresh(1);
    EXPECT_EQ(windowText("name", 2), QStringLiteral("HDMI2"));
    EXPECT_EQ(windowText("state", 2), QStringLiteral("3840x2160@30Hz"));
    EXPECT_EQ(Panel::labelText(g_lockwindow, "label_bright"), QStringLiteral("17"));
    EXPECT_EQ(Panel::labelText(g_lockwindow, "label_input"), QStringLiteral("LED size:40000 x 1080"));
    // Input timing changes alone also show.
    Panel::setInputTiming(store, 3, 0, 0, 0);
    Panel::refresh(1);
    EXPECT_EQ(windowText("state", 2), QStringLiteral("No signal"));
}

// A PC tool's write is held open half-done under the scaler hand-over lock while a page refreshes:
// the page must draw the finished write.
TEST_F(PanelTest, HomeScreenAndPageRefreshesNeverDrawAHalfDoneWrite)
{
    standardWall(store);
    store->setU16(blk::kLedHeight, 1080);
    g_language = 1;
    Panel::refresh(1); // shadow := block
    std::unique_ptr<InputChoose> choice(new InputChoose);
    std::unique_ptr<ImageLayout> layout(new ImageLayout);
    std::unique_ptr<EDIDset> edid;
    std::unique_ptr<MachineState> device(new MachineState);
    std::unique_ptr<OutputSet> output(new OutputSet);
    QString timingRead;
    auto sourceInChoice = [&] {
        auto* l = choice->findChild<QLabel*>(QStringLiteral("entry_name"));
        return l ? l->text() : QStringLiteral("<none>");
    };
    for (int m = 0; m < 3; ++m)
        store->mode[m][0] = store->mode[m][1] = blk::kMarkerSaved;
    auto usingSlot = [] { // the slot number marked "Using" in the mode bar
        for (int m = 0; m < int(kModeCount); ++m)
            if (g_mode[m]->findChild<QLabel*>(QStringLiteral("label_using"))->isVisibleTo(g_mode[m]))
                return QString::number(m + 1);
        return QStringLiteral("none");
    };
    struct Row {
        const char* what;
        uint32_t field;
        uint16_t before, halfway, done;
        std::function<void()> refresh;
        std::function<QString()> shown;
        QString expected;
    };
    const Row rows[] = {
        {"home brightness", blk::kBrightness, 33, 11, 22, [] { g_lockwindow->para_init(); },
         [] { return Panel::labelText(g_lockwindow, "label_bright"); }, QStringLiteral("22")},
        {"home window state", blk::kBlackScreen, 0, 1, 0, [] { g_lockwindow->image_init(); },
         [] { return windowText("state", 1); }, QStringLiteral("1920x1080@60Hz")},
        {"root menu key lock", blk::kKeyLock, 0, 1, 0, [] { g_mainwindow->para_init(); },
         [] { return QString::number(g_mainwindow->lock_state); }, QStringLiteral("0")},
        {"input choice source", blk::window(0, blk::win::kSource), 2, 3, 1, [&] { choice->language_changed(); },
         sourceInChoice, QStringLiteral("DVI")},
        {"layout page Y", blk::window(0, blk::win::kY), 5, 6, 7, [&] { layout->image_para_update(); },
         [&] { return layout->lineEdit_Y->text(); }, QStringLiteral("7")},
        {"EDID tile", blk::edidWidth(2), 1000, 1100, 1280, [&] { edid.reset(new EDIDset); },
         [&] { return edid->tile_timing->text().section(QLatin1Char('x'), 0, 0); }, QStringLiteral("1280")},
        // A tool rewriting HDMI1's timing record: the refresh word passes through 0 (no signal).
        {"device page input state", blk::inputResolution(2) + 4, 60, 0, 50, [&] { device->source_check(); },
         [&] { return QString::fromLatin1(device->source_online[2] ? "online" : "offline"); }, QStringLiteral("online")},
        {"crop page input timing", blk::inputResolution(2), 1920, 0, 1280,
         [&] {
             int w = 0, h = 0, r = 0;
             timingRead = InputCut::inputTiming(2, &w, &h, &r) ? QStringLiteral("%1x%2@%3").arg(w).arg(h).arg(r) : QStringLiteral("none");
         },
         [&] { return timingRead; }, QStringLiteral("1280x1080@50")}, // the refresh of the row above
        {"output menu LED size", blk::kLedWidth, 1920, 11, 1280, [&] { output->language_changed(); },
         [&] { return output->label_info->text().section(QLatin1Char(':'), -1); }, QStringLiteral("1280x1080")},
        {"mode bar's current mode", blk::kCurrentMode, 1, 2, 3, [] { g_mainwindow->mode_init(); }, usingSlot, QStringLiteral("3")},
        {"mode bar's store", blk::kContrast, 1, 2, 3, [] {
             g_mainwindow->save_state = 1;
             g_mainwindow->mode_buttons[2]->click();
         }, [&] { return QString::number(blk::get16(store->mode[2], blk::inRecord(blk::kContrast))); }, QStringLiteral("3")},
    };
    for (const Row& r : rows) {
        store->setU16(r.field, r.before);
        Panel::refresh(1);
        std::atomic<bool> held{false};
        std::thread writer([&] {
            ScalerHandOver handOver;
            store->setU16(r.field, r.halfway);
            held = true;
            // The write ends once the reader (this program's main thread) waits for the hand-over.
            EXPECT_TRUE(waitFor([] { return LockWaiters::waited(c331_manage::p_c331_manage->c331_mutex, getpid()); }, 5000))
                << r.what << ": the refresh waits for the hand-over";
            store->setU16(r.field, r.done);
        });
        EXPECT_TRUE(waitFor([&] { return held.load(); }, 5000));
        r.refresh();
        writer.join();
        EXPECT_EQ(r.shown().toStdString(), r.expected.toStdString()) << r.what;
    }
}

TEST_F(PanelTest, HomeScreenReadsTheAliasFileOncePerChangeNotPerName)
{
    standardWall(store);
    ASSERT_TRUE(TestRoot::writeFile(AliasNames::kPath, R"({"namelist":{"source":[{"id":2,"valid":"on","name":"Cam"}]}})"));
    g_lockwindow->image_init();
    const uint32_t before = AliasNames::parseCount();
    for (int i = 0; i < 10; ++i)
        Panel::refresh(1);
    EXPECT_EQ(AliasNames::parseCount(), before);
    EXPECT_EQ(windowText("name", 1), QStringLiteral("Cam"));
    // A damaged upload: the fixed name, and the program goes on.
    ASSERT_TRUE(TestRoot::writeFile(AliasNames::kPath, "{\"namelist\":"));
    Panel::refresh(103);
    EXPECT_EQ(windowText("name", 1), QStringLiteral("HDMI1"));
}

// An alias from an uploaded alias.json is shown as written, never read as markup, wherever a
// label shows it: home screen, input choice crop entries, crop page tiles, user-mode header.
TEST_F(PanelTest, AliasNamesAreShownAsWrittenNotAsMarkup)
{
    standardWall(store);
    g_language = 1;
    const QString alias = QStringLiteral("<b>Cam</b>");
    ASSERT_TRUE(TestRoot::writeFile(AliasNames::kPath, R"({"namelist":{
        "source":[{"id":2,"valid":"on","name":"<b>Cam</b>"}],
        "crop":[{"id":0,"valid":"on","name":"<b>Cam</b>"}],
        "usermode":[{"id":0,"valid":"on","name":"<b>Cam</b>"}]}})"));
    g_lockwindow->image_init();
    std::unique_ptr<InputChoose> choice(new InputChoose);
    std::unique_ptr<InputCut> crops(new InputCut);
    std::unique_ptr<CustomMode> modes(new CustomMode);
    const std::pair<QWidget*, const char*> pages[] = {
        {g_lockwindow.data(), "home screen"}, {choice.get(), "input choice"}, {crops.get(), "crop page"}, {modes.get(), "user modes"}};
    for (const auto& page : pages) {
        int found = 0;
        for (QLabel* l : page.first->findChildren<QLabel*>()) {
            if (!l->text().contains(alias))
                continue;
            ++found;
            l->ensurePolished();
            // Read as markup, the label would need only the width of a bold "Cam".
            EXPECT_GE(l->sizeHint().width() + 2, QFontMetrics(l->font()).horizontalAdvance(l->text()))
                << page.second << " " << l->objectName().toStdString();
        }
        EXPECT_GE(found, 1) << page.second;
    }
}

TEST_F(PanelTest, HomeScreenTapAndKeys)
{
    // Left, right and BACK leave the home screen; a tap on the window list opens the root menu.
    Script s;
    s.keys({Left, Right, Back});
    s.until([] { return g_page_focus.load() == 0 && g_lockwindow; }, "still home");
    s.act([] {
        QWidget* list = g_lockwindow->findChild<QWidget*>(QStringLiteral("frame_list"));
        QTest::mouseClick(list, Qt::LeftButton, Qt::NoModifier, QPoint(200, 100));
    });
    s.until([] { return g_page_focus.load() == 1 && !g_lockwindow; }, "root menu after the tap");
    ASSERT_TRUE(s.run());
}

TEST_F(PanelTest, HomeScreenModeOpensTheUserModePage)
{
    Script s;
    s.key(Mode).until([] { return g_page_focus.load() == 4 && g_custommode && !g_lockwindow; }, "user modes");
    ASSERT_TRUE(s.run());
    EXPECT_EQ(g_mode_shortcut_key.load(), 1);
}

TEST_F(PanelTest, HomeScreenTextsFitInEveryLanguage)
{
    standardWall(store);
    // The longest values: crops named with two digits, the largest input timing the receivers
    // measure, "Close" and "No signal".
    store->setU16(blk::cropField(5, blk::crop::kId), blk::crop::idWord(3, 40));
    store->setU16(blk::cropField(5, blk::crop::kWidth), 4096);
    store->setU16(blk::cropField(5, blk::crop::kHeight), 2160);
    Panel::setInputTiming(store, 3, 4096, 2160, 240);
    ASSERT_TRUE(TestRoot::writeFile(AliasNames::kPath, R"({"namelist":{"source":[{"id":2,"valid":"on","name":"A very long name for the stage camera"}]}})"));
    store->setU16(blk::kBrightness, 100);
    store->setU16(blk::kContrast, 100);
    g_str_ip = QStringLiteral("255.255.255.255");
    QStringList bad;
    for (int language = 0; language < 5; ++language) {
        g_language = uint8_t(language);
        g_lockwindow->para_init();
        g_lockwindow->language_changed();
        g_lockwindow->ip_changed();
        EXPECT_EQ(windowText("state", 2), inText(InText::Close, language));
        EXPECT_EQ(windowText("state", 4), inText(InText::NoSignal, language));
        EXPECT_EQ(windowText("state", 5), inText(InText::Black, language));
        bad << Panel::misfits(g_lockwindow, QStringLiteral("home%1").arg(language));
        bad << Panel::lowContrast(g_lockwindow, QStringLiteral("home%1").arg(language));
        Panel::shot(g_lockwindow, QStringLiteral("home_%1").arg(language));
    }
    EXPECT_TRUE(windowText("name", 1).endsWith(QChar(0x2026))) << windowText("name", 1).toStdString(); // elided
    EXPECT_TRUE(bad.isEmpty()) << bad.join(QLatin1Char('\n')).toStdString();
}
