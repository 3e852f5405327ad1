// The colour temperature page reached by keys from the home screen: choosing the type (written
// only on OK and only when it changed, nothing on BACK or MODE), the three gains stepped live, the
// colour matrix the scaler then sets on the chip, a stored type out of range, and its texts.
#include "picture_pages.h"
#include "second_writer.h"

#include "ui/pages_settings/quality.h"
#include "ui/pages_settings/temperature.h"
#include "store_face.h"

#include <QLabel>

using namespace PanelKey;
using namespace picture_test;

namespace {

Script& toTemperature(Script& s)
{
    return toPictureMenu(s).choose("Button_temperature").until([] { return Panel::onTop(20) && g_temperature; }, "temperature page");
}


struct Coefficients {
    uint32_t red, green, blue;
};

class TemperaturePage : public PicturePageTest {
protected:
    void setGains(uint16_t r, uint16_t g, uint16_t b)
    {
        store->setU16(blk::kColourRed, r);
        store->setU16(blk::kColourGreen, g);
        store->setU16(blk::kColourBlue, b);
    }
    // The diagonal of the chip's colour matrix, the same on every output channel.
    Coefficients matrix() const
    {
        const std::vector<uint32_t> r = onAllChannels(0x0C5B02), g = onAllChannels(0x0C6302), b = onAllChannels(0x0C6B02);
        for (uint32_t n = 1; n < 8; ++n)
            if (r[n] != r[0] || g[n] != g[0] || b[n] != b[0])
                ADD_FAILURE() << "channel " << n << " differs";
        return {r[0], g[0], b[0]};
    }
};

std::string colourCall(int type, int r, int g, int b)
{
    return "c331_SetColorTemp(" + std::to_string(int(uint32_t(type) | uint32_t(b) << 8 | uint32_t(g) << 16 | uint32_t(r) << 24)) + ")";
}

}

TEST_F(TemperaturePage, ChosenTypeIsWrittenOnOkAndReachesTheChipsColourMatrix)
{
    bringUp();
    setGains(10, 20, 30);
    struct Row {
        std::vector<int> keys; // while choosing, from "nature"
        int type;
        Coefficients chip;
        bool changed; // written and set on the chip only when the type changed
    };
    // Fixed balances of the scaler for warm, nature and cool; custom takes gain x 64.
    const Row rows[] = {
        {{Right}, 3, {6944, 8282, 10978}, true},
        {{Right, Right}, 0, {640, 1280, 1920}, true},
        {{Left}, 1, {8845, 8113, 7056}, true},
        {{Left, Left, Left, Left}, 2, {8192, 8192, 8192}, false}, // round to the same: nothing written
    };
    const char* const english[4] = {"custom", "warm", "nature", "cool"};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.type);
        store->setU16(blk::kColourTemp, 2);
        scaler->change_flag = 1;
        pass();
        scaler->call_log.clear();
        g_language = 1;
        Script s;
        toTemperature(s)
            .act([] {
                EXPECT_EQ(g_temperature->comboBox_type->currentText(), QStringLiteral("nature"));
                EXPECT_TRUE(Panel::styled(g_temperature->comboBox_type, temperature::kComboFocused));
            })
            .key(OK)
            .until([] { return g_temperature->edit_flag == 1; }, "choosing")
            .act([] { EXPECT_TRUE(Panel::styled(g_temperature->comboBox_type, temperature::kComboChoosing)); });
        for (int k : r.keys)
            s.key(k);
        s.until([&r, &english] { return g_temperature->comboBox_type->currentText() == QLatin1String(english[r.type]); }, "shown")
            .act([this] {
                EXPECT_EQ(flag(), 0) << "choosing writes nothing";
                EXPECT_EQ(store->u16(blk::kColourTemp), 2);
            })
            .key(OK)
            .until([this, &r] { return flag() == (r.changed ? 1 : 0) && g_temperature->edit_flag == 0; }, "type confirmed")
            .act([this, &r] {
                EXPECT_EQ(store->u16(blk::kColourTemp), r.type);
                EXPECT_EQ(g_temperature->edit_flag, 0);
                EXPECT_TRUE(Panel::styled(g_temperature->comboBox_type, temperature::kComboFocused));
                pass();
            });
        ASSERT_TRUE(s.run());
        EXPECT_EQ(pictureCalls(), r.changed ? std::vector<std::string>({colourCall(r.type, 10, 20, 30)})
                                            : std::vector<std::string>());
        const Coefficients c = matrix();
        EXPECT_EQ(c.red, r.chip.red);
        EXPECT_EQ(c.green, r.chip.green);
        EXPECT_EQ(c.blue, r.chip.blue);
    }
}

TEST_F(TemperaturePage, BackWhileChoosingAndModeWriteNothing)
{
    store->setU16(blk::kColourTemp, 1);
    Script s;
    toTemperature(s)
        .keys({OK, Right, Right})
        .until([] { return g_temperature->type_index == 3; }, "cool shown")
        .key(Back)
        .until([] { return g_temperature->edit_flag == 0; }, "choice left")
        .act([this] {
            EXPECT_EQ(flag(), 0) << "the type was never changed";
            EXPECT_EQ(store->u16(blk::kColourTemp), 1);
            EXPECT_EQ(g_temperature->type_index, 1);
            EXPECT_EQ(g_temperature->comboBox_type->currentIndex(), 1);
            EXPECT_TRUE(g_temperature) << "BACK while choosing stays on the page";
        })
        .keys({OK, Left})
        .until([] { return g_temperature->type_index == 0; }, "custom shown")
        .key(Mode)
        .until([] { return !g_temperature && g_page_focus.load() == 4 && PageNav::page(4); }, "user-mode page");
    ASSERT_TRUE(s.run());
    EXPECT_EQ(flag(), 0);
    EXPECT_EQ(store->u16(blk::kColourTemp), 1);
}

TEST_F(TemperaturePage, GainsAreSteppedLiveClampedAndUndoneByBack)
{
    bringUp();
    store->setU16(blk::kColourTemp, 0);
    setGains(64, 100, 0);
    scaler->change_flag = 1;
    pass();
    scaler->call_log.clear();
    Script s;
    toTemperature(s)
        .act([] {
            EXPECT_EQ(g_temperature->lineEdit_name_red->text(), QStringLiteral("64"));
            EXPECT_EQ(g_temperature->lineEdit_name_green->text(), QStringLiteral("100"));
            EXPECT_EQ(g_temperature->lineEdit_name_blue->text(), QStringLiteral("0"));
        })
        .key(Right)
        .until([] { return g_temperature->ui_select == 1; }, "red")
        .act([] {
            EXPECT_TRUE(Panel::styled(g_temperature->lineEdit_name_red, quality::kStyleFocused));
            EXPECT_TRUE(Panel::styled(g_temperature->comboBox_type, temperature::kComboNormal));
        })
        .key(OK)
        .until([] { return g_temperature->edit_flag == 1; }, "editing red")
        .act([] { EXPECT_TRUE(Panel::styled(g_temperature->lineEdit_name_red, quality::kStyleEditing)); });
    for (int i = 0; i < 2; ++i)
        s.key(Right).until([this] { return flag() == 1; }, "red step").act([this] { pass(); });
    s.act([this] { EXPECT_EQ(store->u16(blk::kColourRed), 66); })
        .key(Back)
        .until([this] { return flag() == 1 && g_temperature->edit_flag == 0; }, "red undone")
        .act([this] {
            EXPECT_EQ(store->u16(blk::kColourRed), 64);
            pass();
        })
        // Green at 100 and blue at 0 stay inside their range, and are handed over again.
        .keys({Right, OK, Right})
        .until([this] { return flag() == 1; }, "green step")
        .act([this] {
            EXPECT_EQ(store->u16(blk::kColourGreen), 100);
            pass();
        })
        .key(OK) // the value is already on the wall: the commit writes nothing
        .until([] { return g_temperature->edit_flag == 0; }, "green committed")
        .act([this] { EXPECT_EQ(flag(), 0); })
        .keys({Right, OK, Left})
        .until([this] { return flag() == 1; }, "blue step")
        .act([this] {
            EXPECT_EQ(store->u16(blk::kColourBlue), 0);
            pass();
        })
        .key(OK)
        .until([] { return g_temperature->edit_flag == 0; }, "blue committed")
        // Right from blue wraps to the type selector.
        .key(Right)
        .until([] { return g_temperature->ui_select == 0; }, "wrap to the type")
        .act([] { EXPECT_TRUE(Panel::styled(g_temperature->comboBox_type, temperature::kComboFocused)); });
    ASSERT_TRUE(s.run());
    // Passes that find the value unchanged (100 and 0 handed over again) set nothing.
    EXPECT_EQ(pictureCalls(), std::vector<std::string>({colourCall(0, 65, 100, 0), colourCall(0, 66, 100, 0),
                                                        colourCall(0, 64, 100, 0)}));
    const Coefficients c = matrix();
    EXPECT_EQ(c.red, 64u * 64);
    EXPECT_EQ(c.green, 100u * 64);
    EXPECT_EQ(c.blue, 0u);
}

TEST_F(TemperaturePage, UndoOfAGainWhileTheScalerIsBusyIsHandedOverOnceItIsFree)
{
    setGains(50, 50, 50);
    Script s;
    toTemperature(s)
        .keys({Left, OK, Right})
        .until([this] { return flag() == 1; }, "blue step")
        .keys({Right, Right, Back})
        .until([] { return g_temperature->edit_flag == 0 && g_temperature->lineEdit_name_blue->text() == QStringLiteral("50"); },
               "undone on the page")
        .act([this] { EXPECT_EQ(store->u16(blk::kColourBlue), 51) << "held back while the scaler is busy"; })
        .act([this] { scaler->change_flag = 0; })
        .until([this] { return store->u16(blk::kColourBlue) == 50 && flag() == 1; }, "undo handed over");
    ASSERT_TRUE(s.run());
}

TEST_F(TemperaturePage, AStoredTypeOutOfRangeShowsWhatTheScalerAppliesAndIsRepairedOnCommit)
{
    struct Case {
        uint16_t stored;
        int shown;
    };
    for (const Case& c : {Case{5, 1}, Case{7, 3}, Case{0x0102, 2}, Case{4, 0}}) {
        SCOPED_TRACE(c.stored);
        store->setU16(blk::kColourTemp, c.stored);
        scaler->change_flag = 0;
        Script s;
        toTemperature(s)
            .act([&c] {
                EXPECT_EQ(g_temperature->type_index, c.shown);
                EXPECT_EQ(g_temperature->comboBox_type->currentIndex(), c.shown);
            })
            .keys({OK, OK})
            .until([this] { return flag() == 1; }, "committed");
        ASSERT_TRUE(s.run());
        EXPECT_EQ(store->u16(blk::kColourTemp), c.shown);
    }
}

// A PC tool sets the type while the operator chooses one: the selector shows it, and BACK or OK
// leaves it on the chip; a type the operator has already moved to stays theirs and OK writes it.
// (The gains are stepped as the picture quality page steps its values.)
TEST_F(TemperaturePage, ToolsTypeDuringAChoiceStaysOnTheChip)
{
    bringUp();
    SecondWriter tool = SecondWriter::inProcess();
    struct Row {
        const char* what;
        std::vector<int> own; // keys before the tool's write
        int key;
        uint16_t end;
        Coefficients chip;
    };
    const Coefficients cool = {6944, 8282, 10978}, warm = {8845, 8113, 7056};
    const Row rows[] = {
        {"BACK after the tool's cool", {}, Back, 3, cool},
        {"OK after the tool's cool", {}, OK, 3, cool},
        {"the operator's warm stays theirs", {Left}, OK, 1, warm},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        store->setU16(blk::kColourTemp, 2);
        setGains(10, 20, 30);
        scaler->change_flag = 1;
        pass();
        Script s;
        toTemperature(s).key(OK).until([] { return g_temperature->edit_flag == 1; }, "choosing");
        for (int k : r.own)
            s.key(k);
        s.act([&] {
             ASSERT_EQ(tool.set16(blk::kColourTemp, 3), 0);
             pass();
             EXPECT_EQ(g_temperature->comboBox_type->currentIndex(), r.own.empty() ? 3 : 1);
         })
            .key(r.key)
            .until([] { return g_temperature->edit_flag == 0; }, "choice left")
            .act([&] {
                EXPECT_EQ(g_temperature->comboBox_type->currentIndex(), r.end);
                pass();
            })
            .key(Back)
            .until([] { return Panel::onTop(11); }, "picture menu");
        ASSERT_TRUE(s.run());
        EXPECT_EQ(store->u16(blk::kColourTemp), r.end);
        const Coefficients c = matrix();
        EXPECT_EQ(c.red, r.chip.red);
        EXPECT_EQ(c.green, r.chip.green);
        EXPECT_EQ(c.blue, r.chip.blue);
    }
}

TEST_F(TemperaturePage, TextsOfEveryLanguageFitAndTheSelectorKeepsItsLanguage)
{
    const char* const titles[5] = {"色温", "Temperature", "Температура Оттенок", "Độ màu", "色溫"};
    const char* const types[5] = {"色温类型", "temperature type", "Выбор цвета", "Lựa chọn độ màu", "色溫類型"};
    const char* const blue[5] = {"蓝色", "Blue", "Синий", "Màu xanh da trời", "藍色"};
    const char* const custom[5] = {"自定义", "custom", "Свой", "Tùy chỉnh", "自定義"};
    store->setU16(blk::kColourTemp, 0);
    setGains(100, 100, 100);
    QStringList bad;
    for (int language = 0; language < 5; ++language) {
        g_language = uint8_t(language);
        Script s;
        toTemperature(s).act([&, language] {
            QWidget* page = g_temperature;
            EXPECT_EQ(page->findChild<QLabel*>(QStringLiteral("label_title"))->text(), QString::fromUtf8(titles[language]));
            EXPECT_EQ(g_temperature->label_type->text(), QString::fromUtf8(types[language]));
            EXPECT_EQ(g_temperature->label_name_blue->text(), QString::fromUtf8(blue[language]));
            EXPECT_EQ(g_temperature->comboBox_type->itemText(0), QString::fromUtf8(custom[language]));
            EXPECT_EQ(g_temperature->comboBox_type->count(), 4);
            const QString where = QStringLiteral("temperature%1").arg(language);
            bad << Panel::misfits(page, where) << fieldMisfits(page, where) << comboMisfits(g_temperature->comboBox_type, where);
            bad << Panel::lowContrast(page, where);
            Panel::shot(page, QStringLiteral("temperature_%1").arg(language));
        });
        ASSERT_TRUE(s.run(10000));
    }
    EXPECT_TRUE(bad.isEmpty()) << bad.join('\n').toStdString();

    // A language change while the page is on top re-texts the labels; the entries stay.
    g_language = 1;
    testBlock(store)[blk::kLanguage] = 1;
    memcpy(store->shadow, testBlock(store), sizeof store->shadow);
    Script s;
    toTemperature(s)
        .act([this] { testBlock(store)[blk::kLanguage] = 3; })
        .act([] { Panel::refresh(); })
        .until([] { return g_temperature->label_name_red->text() == QString::fromUtf8("Màu đỏ"); }, "Vietnamese")
        .act([] { EXPECT_EQ(g_temperature->comboBox_type->itemText(3), QStringLiteral("cool")); });
    ASSERT_TRUE(s.run());
}
