// The numeric keypad: typing with the five keys and by taps, bounded entries, and a result that
// reaches only the caller of that one entry.
#include "focus_marks.h"
#include "panel_fixture.h"
#include "panel_checks.h"

#include "base/global.h"
#include "ui/inputtexts.h"
#include "ui/mainwindow.h"
#include "ui/numberkeyboard.h"
#include "ui/panelkeys.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <memory>

namespace {
using namespace PanelKey;

struct Entry {
    bool ok = false;
    int value = -1;
    bool done = false;
};

// Opens the keypad from a queued call, as a page's OK would.
void openKeypadLater(Entry* entry, const QString& value, int min = 0, int max = 99999)
{
    QTimer::singleShot(0, [=] {
        entry->ok = g_numberkeyboard->getNumber(QStringLiteral("W"), value, min, max, &entry->value);
        entry->done = true;
    });
}

QPushButton* key(const char* name) { return g_numberkeyboard->findChild<QPushButton*>(QLatin1String(name)); }

// The range shown under the value, "" while none is.
QString rangeShown()
{
    auto* l = g_numberkeyboard->findChild<QLabel*>(QStringLiteral("label_range"));
    return l && l->isVisibleTo(g_numberkeyboard) ? l->text() : QString();
}
}

TEST_F(PanelTest, KeypadSitsOnTheRightHalfOfTheScreen)
{
    ASSERT_TRUE(g_numberkeyboard);
    EXPECT_EQ(g_numberkeyboard->geometry(), QRect(g_mainwindow->x() + 160, g_mainwindow->y(), 160, 240));
    EXPECT_TRUE(g_numberkeyboard->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_FALSE(g_numberkeyboard->isVisible());
}

TEST_F(PanelTest, KeypadTypesNineteenTwentyWithTheFiveKeys)
{
    Entry e;
    openKeypadLater(&e, QStringLiteral("1080"));
    QStringList shown;
    auto see = [&] { shown << g_numberkeyboard->valueText(); };
    Script s;
    s.until(Panel::keypadUp, "keypad open").act([&] { shown << g_numberkeyboard->valueText(); });
    s.key(OK).act(see);
    for (int i = 0; i < 8; ++i) s.key(Right);
    s.key(OK).act(see);
    for (int i = 0; i < 7; ++i) s.key(Left);
    s.key(OK).act(see);
    for (int i = 0; i < 8; ++i) s.key(Right);
    s.key(OK).act(see);
    for (int i = 0; i < 4; ++i) s.key(Right);
    s.act([&] { Panel::shot(g_numberkeyboard, QStringLiteral("keypad_1920")); });
    s.key(OK).until([&] { return e.done; }, "entry returned");
    ASSERT_TRUE(s.run());
    EXPECT_EQ(shown, QStringList({"1080", "1", "19", "192", "1920"}));
    EXPECT_TRUE(e.ok);
    EXPECT_EQ(e.value, 1920);
    EXPECT_FALSE(g_numberkeyboard->isVisible());
    EXPECT_EQ(g_numberkeyboard->ui_select, 13); // the focus stays for the next use
}

TEST_F(PanelTest, KeypadDigitsClearEraseAndLength)
{
    Entry e;
    openKeypadLater(&e, QStringLiteral("1920"));
    QStringList shown;
    auto see = [&] { shown << g_numberkeyboard->valueText(); };
    Script s;
    s.until(Panel::keypadUp, "keypad open");
    s.keys({Right, Right, Right, Right, OK}).act(see);               // 5 replaces the shown value
    s.keys({Left, Left, Left, Left, Left, Left, Left, Left, Left, Left, Left, Left, Left, Left}); // 14 left: back at 4
    s.keys({Right, Right, Right, Right, Right, OK}).act(see);       // 0 after 5
    s.keys({Right, OK}).act(see);                                    // C
    s.keys({Left, OK}).act(see);                                     // 0 first: shows 0, keeps nothing
    s.keys({Left, Left, Left, OK}).act(see);                         // 7 follows: "7"
    s.keys({Right, Right, Right, Right, Right, OK}).act(see);        // erase: ""
    for (int i = 0; i < 7; ++i)
        s.keys({Left, Left, Left, OK, Right, Right, Right});         // 9, seven times
    s.act(see);
    s.keys({Right, OK}).until([&] { return e.done; }, "entry returned"); // cancel
    ASSERT_TRUE(s.run());
    ASSERT_EQ(shown.size(), 7);
    EXPECT_EQ(shown[0], "5");
    EXPECT_EQ(shown[1], "50");
    EXPECT_EQ(shown[2], "0");
    EXPECT_EQ(shown[3], "0");
    EXPECT_EQ(shown[4], "7");
    EXPECT_EQ(shown[5], "");
    EXPECT_EQ(shown[6], "99999"); // five digits at most
    EXPECT_FALSE(e.ok);
    EXPECT_EQ(e.value, -1);
}

TEST_F(PanelTest, KeypadFocusWrapsBetweenTheFirstKeyAndOk)
{
    // The focused key has the dark face in the orange frame; the others keep their white or blue.
    const QString focused = QStringLiteral("color: rgb(255, 255, 255);background-color: rgb(33, 36, 53);border:2px solid rgb(255,171,84);");
    g_numberkeyboard->show();
    EXPECT_EQ(key("Button1")->styleSheet(), focused) << "shown from the first opening";
    QTest::keyRelease(g_numberkeyboard.data(), Qt::Key(Left));
    EXPECT_EQ(g_numberkeyboard->ui_select, 13);
    EXPECT_EQ(key("Button_ok")->styleSheet(), focused);
    EXPECT_EQ(key("Button1")->styleSheet(), QStringLiteral("background-color: rgb(255, 255, 255);border:1px ;"));
    QTest::keyRelease(g_numberkeyboard.data(), Qt::Key(Right));
    EXPECT_EQ(g_numberkeyboard->ui_select, 0);
    EXPECT_EQ(key("Button_ok")->styleSheet(), QStringLiteral("background-color: rgb(71, 119, 255);border:1px ;"));
    EXPECT_EQ(key("Button1")->styleSheet(), focused);
    g_numberkeyboard->hide();
}

TEST_F(PanelTest, KeypadRefusesEmptyAndOutOfRangeEntriesAndKeepsTheOldValue)
{
    Entry e;
    openKeypadLater(&e, QStringLiteral("1920"), 640, 4096);
    QSignalSpy spy(g_numberkeyboard.data(), &NumberKeyboard::sendKeyBoardUIDataToLineEdit);
    QStringList shown, ranges;
    bool refused[3] = {};
    Script s;
    s.until(Panel::keypadUp, "keypad open");
    // Erase four times, then OK on the empty field: refused.
    s.act([] { g_numberkeyboard->ui_select = 11; });
    s.keys({OK, OK, OK, OK}).act([&] { shown << g_numberkeyboard->valueText(); });
    s.act([] { g_numberkeyboard->ui_select = 13; }).key(OK).act([&] {
        shown << g_numberkeyboard->valueText();
        refused[0] = g_numberkeyboard->refusedShown() && g_numberkeyboard->isVisible();
        ranges << rangeShown();
    });
    // 40000 is above the range: refused, the old value back.
    s.act([] { g_numberkeyboard->ui_select = 3; }).key(OK);
    s.act([] { g_numberkeyboard->ui_select = 9; }).keys({OK, OK, OK, OK});
    s.act([] { g_numberkeyboard->ui_select = 13; }).key(OK).act([&] {
        shown << g_numberkeyboard->valueText();
        refused[1] = g_numberkeyboard->refusedShown() && g_numberkeyboard->isVisible();
        ranges << rangeShown();
        Panel::shot(g_numberkeyboard, QStringLiteral("keypad_refused"));
    });
    // 800 is taken.
    s.act([] { g_numberkeyboard->ui_select = 7; }).key(OK);
    s.act([] { g_numberkeyboard->ui_select = 9; }).keys({OK, OK});
    s.act([&] {
        refused[2] = g_numberkeyboard->refusedShown();
        ranges << rangeShown();
    });
    s.act([] { g_numberkeyboard->ui_select = 13; }).key(OK).until([&] { return e.done; }, "entry returned");
    ASSERT_TRUE(s.run());
    EXPECT_EQ(shown, QStringList({"", "1920", "1920"}));
    EXPECT_TRUE(refused[0]);
    EXPECT_TRUE(refused[1]);
    EXPECT_FALSE(refused[2]); // typing again lifts the mark
    EXPECT_EQ(ranges, QStringList({"640-4096", "640-4096", ""}));
    EXPECT_TRUE(e.ok);
    EXPECT_EQ(e.value, 800);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toString(), QStringLiteral("800"));
}

TEST_F(PanelTest, KeypadBackAndCancelGiveNothing)
{
    for (int way = 0; way < 2; ++way) {
        auto field = std::make_unique<My_lineEdit>();
        field->setText(QStringLiteral("1080"));
        bool done = false;
        bool ok = true;
        QTimer::singleShot(0, [&] {
            ok = g_numberkeyboard->editField(field.get(), QStringLiteral("H"), 0, 4096);
            done = true;
        });
        Script s;
        s.until(Panel::keypadUp, "keypad open").act([] { g_numberkeyboard->ui_select = 0; }).key(OK);
        if (way == 0)
            s.key(Back);
        else
            s.act([] { key("Button_close")->click(); });
        s.until([&] { return done; }, "entry returned");
        ASSERT_TRUE(s.run());
        EXPECT_FALSE(ok);
        EXPECT_EQ(field->text(), QStringLiteral("1080"));
        EXPECT_FALSE(g_lineedit);
    }
}

TEST_F(PanelTest, KeypadTapsActOnClearEraseAndOkButNotOnDigits)
{
    auto field = std::make_unique<My_lineEdit>();
    field->setText(QStringLiteral("64"));
    QSignalSpy taps(field.get(), &My_lineEdit::send_show);
    QTest::mouseClick(field.get(), Qt::LeftButton);
    ASSERT_EQ(taps.count(), 1);
    EXPECT_EQ(taps.at(0).at(0).toString(), QStringLiteral("64"));
    bool done = false;
    bool ok = false;
    QTimer::singleShot(0, [&] {
        ok = g_numberkeyboard->editField(field.get(), QStringLiteral("X"), 0, 4096);
        done = true;
    });
    QStringList shown;
    Script s;
    s.until(Panel::keypadUp, "keypad open");
    s.act([&] {
        QTest::mouseClick(key("Button7"), Qt::LeftButton);
        shown << g_numberkeyboard->valueText();
        QTest::mouseClick(key("ButtonX"), Qt::LeftButton);
        shown << g_numberkeyboard->valueText();
        QTest::mouseClick(key("ButtonC"), Qt::LeftButton);
        shown << g_numberkeyboard->valueText();
    });
    s.act([] { g_numberkeyboard->ui_select = 2; }).key(OK);
    s.act([] { QTest::mouseClick(key("Button_ok"), Qt::LeftButton); });
    s.until([&] { return done; }, "entry returned");
    ASSERT_TRUE(s.run());
    EXPECT_EQ(shown, QStringList({"64", "6", "0"}));
    EXPECT_TRUE(ok);
    EXPECT_EQ(field->text(), QStringLiteral("3"));
}

TEST_F(PanelTest, KeypadResultOutlivesNoFieldThatWentAway)
{
    auto* field = new My_lineEdit;
    field->setText(QStringLiteral("10"));
    bool done = false;
    bool ok = false;
    QTimer::singleShot(0, [&] {
        ok = g_numberkeyboard->editField(field, QStringLiteral("Y"), 0, 4096);
        done = true;
    });
    Script s;
    s.until(Panel::keypadUp, "keypad open").act([&] { delete field; });
    s.act([] { g_numberkeyboard->ui_select = 0; }).key(OK);
    s.act([] { g_numberkeyboard->ui_select = 13; }).key(OK);
    s.until([&] { return done; }, "entry returned");
    ASSERT_TRUE(s.run());
    EXPECT_TRUE(ok); // the number was taken; nothing was written through the gone field
    EXPECT_FALSE(g_lineedit);
}

TEST_F(PanelTest, KeypadWordsFitInEveryLanguage)
{
    QStringList bad;
    for (int language = 0; language < 5; ++language) {
        g_language = uint8_t(language);
        g_numberkeyboard->label_show(QStringLiteral("W"), QStringLiteral("99999"));
        g_numberkeyboard->show();
        g_numberkeyboard->on_ButtonC_clicked();
        g_numberkeyboard->on_ButtonX_clicked();
        g_numberkeyboard->on_Button_ok_clicked(); // empty: refused, the range shown
        EXPECT_EQ(rangeShown(), QStringLiteral("0-99999"));
        EXPECT_EQ(key("Button_close")->text(), inText(InText::KeypadCancel, language));
        EXPECT_EQ(key("Button_ok")->text(), inText(InText::KeypadOk, language));
        bad << Panel::misfits(g_numberkeyboard, QStringLiteral("keypad%1").arg(language));
        bad << Panel::lowContrast(g_numberkeyboard, QStringLiteral("keypad%1").arg(language));
        Panel::shot(g_numberkeyboard, QStringLiteral("keypad_%1").arg(language));
        g_numberkeyboard->hide();
    }
    EXPECT_EQ(inText(InText::KeypadCancel, 1), QStringLiteral("Cancle"));
    EXPECT_EQ(inText(InText::KeypadOk, 3), QString::fromUtf8("Đồng ý"));
    EXPECT_EQ(inText(InText::KeypadCancel, 2), QString::fromUtf8("Отмена"));
    EXPECT_EQ(inText(InText::KeypadOk, 4), QString::fromUtf8("確定"));
    EXPECT_TRUE(bad.isEmpty()) << bad.join(QLatin1Char('\n')).toStdString();
}

// The focused key is marked from the keypad's first opening on, and its mark reads at 3:1 against
// the key without it and against what lies around it, on every key and in every language.
TEST_F(PanelTest, KeypadFocusIsMarkedFromTheFirstOpeningAndReadsOnEveryKey)
{
    static const char* const kNames[14] = {"Button1", "Button2", "Button3", "Button4", "Button5", "Button6", "Button7",
                                           "Button8", "Button9", "Button0", "ButtonC", "ButtonX", "Button_close", "Button_ok"};
    std::vector<QWidget*> keys;
    for (const char* name : kNames)
        keys.push_back(key(name));
    auto focus = [](int i) {
        while (g_numberkeyboard->ui_select != i)
            QTest::keyRelease(g_numberkeyboard.data(), Qt::Key(Right));
    };
    QStringList bad;
    for (int language : {1, 0, 2, 3, 4}) {
        g_language = uint8_t(language);
        g_numberkeyboard->label_show(QStringLiteral("W"), QStringLiteral("1920"));
        g_numberkeyboard->show();
        if (language == 1)
            Panel::shot(g_numberkeyboard, QStringLiteral("keypad_first_opening"));
        bad << Panel::weakFocusMarks(g_numberkeyboard, keys, focus, QStringLiteral("keypad%1").arg(language));
        for (int k : {11, 12, 13}) { // the words still fit and read inside the frame
            focus(k);
            const QString where = QStringLiteral("keypad_focus_%1_%2").arg(kNames[k]).arg(language);
            bad << Panel::misfits(g_numberkeyboard, where) << Panel::lowContrast(g_numberkeyboard, where);
            Panel::shot(g_numberkeyboard, where);
        }
        focus(0);
        g_numberkeyboard->hide();
    }
    EXPECT_TRUE(bad.isEmpty()) << bad.join(QLatin1Char('\n')).toStdString();
}
