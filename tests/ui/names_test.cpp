// Names, list order, rich-text styles and icons of the six inputs.
#include "panel_fixture.h"

#include "base/global.h"
#include "ui/machinestate.h"
#include "ui/pages_picture/edidset.h"
#include "ui/pages_picture/inputcut.h"
#include "ui/panelwidgets.h"
#include "ui/sourceinfo.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <memory>

TEST(InputNames, NamesAndListOrderBothWays)
{
    const char* byId[] = {"EXT", "DVI", "HDMI1", "HDMI2", "HDMI3", "HDMI4", "", ""};
    for (int id = 0; id < 8; ++id)
        EXPECT_EQ(sourceinfo::get_source_name_by_sourceid(uint8_t(id)), QLatin1String(byId[id])) << id;
    EXPECT_EQ(sourceinfo::get_source_name_by_sourceid(255), QString());
    const char* byPosition[] = {"HDMI1", "HDMI2", "HDMI3", "HDMI4", "DVI", "EXT", "", ""};
    const int idAt[] = {2, 3, 4, 5, 1, 0, 0, 0};
    for (int p = 0; p < 8; ++p) {
        EXPECT_EQ(sourceinfo::get_source_name_by_listseq(uint8_t(p)), QLatin1String(byPosition[p])) << p;
        EXPECT_EQ(sourceinfo::get_source_id_by_listseq(uint8_t(p)), idAt[p]) << p;
    }
    EXPECT_EQ(sourceinfo::get_source_id_by_listseq(200), 0);
    const int positionOf[] = {5, 4, 0, 1, 2, 3, 0, 0};
    for (int id = 0; id < 8; ++id)
        EXPECT_EQ(sourceinfo::get_listseq_by_source_id(uint8_t(id)), positionOf[id]) << id;
}

TEST(InputNames, RichTextStyles)
{
    const QString white = QStringLiteral("<font style = 'font-size:9px' color = #ffffff >%1</font>");
    const QString green = QStringLiteral("<font style = 'font-size:9px' color = #51BB28 >%1</font>");
    for (int id : {0, 1, 2, 3, 6, 9})
        EXPECT_EQ(sourceinfo::get_source_specialstyle0_by_sourceid(uint8_t(id)), white) << id;
    for (int id : {4, 5})
        EXPECT_EQ(sourceinfo::get_source_specialstyle0_by_sourceid(uint8_t(id)), green) << id;
    EXPECT_EQ(sourceinfo::get_source_specialstyle0_by_sourceid(4).arg(QStringLiteral("HDMI3")),
              QStringLiteral("<font style = 'font-size:9px' color = #51BB28 >HDMI3</font>"));

    const QString blue = QStringLiteral("<font style = 'font-size:9px' color = #4777ff >%1</font>");
    EXPECT_EQ(sourceinfo::get_source_specialstyle1_by_sourceid(2, QStringLiteral("HDMI1"), 2),
              QStringLiteral("<font style = 'font-size:9px' color = #ffffff >HDMI1</font>") + blue.arg("(") + blue.arg("2") + blue.arg(")"));
    EXPECT_EQ(sourceinfo::get_source_specialstyle1_by_sourceid(5, QStringLiteral("Cam %1"), 0),
              QStringLiteral("<font style = 'font-size:9px' color = #12BB32 >Cam %1</font>") + blue.arg("(") + blue.arg("0") + blue.arg(")"));
    EXPECT_EQ(sourceinfo::get_source_specialstyle1_by_sourceid(9, QStringLiteral("X"), 1), QString());
}

TEST(InputNames, IconsWithAndWithoutSignal)
{
    struct Row {
        int id;
        const char* icon;
        const char* online;
        const char* offline;
    } rows[] = {
        {0, "HDMI", "extlv", "HDMI"},         {1, "DVI", "dvilv", "DVI"},
        {2, "HDMI13", "HDMI13_lv", "HDMI13_1"}, {3, "HDMI13", "HDMI13_lv", "HDMI13_1"},
        {4, "HDMI20", "HDMI20_lv", "HDMI20"},  {5, "HDMI20", "HDMI20_lv", "HDMI20"},
    };
    auto image = [](const char* file) { return QImage(QStringLiteral(":/png/%1.png").arg(QLatin1String(file))); };
    for (const Row& r : rows) {
        ASSERT_FALSE(image(r.icon).isNull()) << r.icon;
        QLabel label;
        sourceinfo::set_source_pixmap(&label, uint8_t(r.id));
        EXPECT_EQ(label.pixmap(Qt::ReturnByValue).toImage(), image(r.icon).convertToFormat(label.pixmap(Qt::ReturnByValue).toImage().format())) << r.id;
        sourceinfo::set_sourceonline_pixmap(&label, uint8_t(r.id), 1);
        EXPECT_EQ(sourceinfo::onlineIconPath(uint8_t(r.id), true), QStringLiteral(":/png/%1.png").arg(QLatin1String(r.online)));
        EXPECT_EQ(label.pixmap(Qt::ReturnByValue).toImage(), image(r.online).convertToFormat(label.pixmap(Qt::ReturnByValue).toImage().format())) << r.id;
        sourceinfo::set_sourceonline_pixmap(&label, uint8_t(r.id), 0);
        EXPECT_EQ(label.pixmap(Qt::ReturnByValue).toImage(), image(r.offline).convertToFormat(label.pixmap(Qt::ReturnByValue).toImage().format())) << r.id;
    }
    // HDMI1 without signal is not its plain icon; an id above 5 leaves the label alone.
    EXPECT_NE(image("HDMI13_1"), image("HDMI13"));
    QLabel label(QStringLiteral("kept"));
    sourceinfo::set_source_pixmap(&label, 6);
    sourceinfo::set_sourceonline_pixmap(&label, 9, 1);
    EXPECT_EQ(label.text(), QStringLiteral("kept"));
    EXPECT_TRUE(label.pixmap(Qt::ReturnByValue).isNull());
}

namespace {

// The colour a label's text is drawn in, as the window shows it: of the label's pixels, the one
// that stands out most from the commonest (its ground), which is the core of a stroke.
QColor inkOf(QWidget* window, QLabel* label)
{
    const QImage picture = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRect area(label->mapTo(window, QPoint(0, 0)), label->size());
    std::map<QRgb, int> count;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++count[picture.pixel(x, y)];
    const QRgb ground = Panel::commonestOf(count);
    QColor ink(ground);
    double best = 1;
    for (const auto& c : count) {
        const double k = PanelWidgets::contrast(QColor(c.first), QColor(ground));
        if (k > best) {
            best = k;
            ink = QColor(c.first);
        }
    }
    return ink;
}

// Within a few steps of the colour: anti-aliasing may leave the core of a thin stroke a shade off.
bool near(const QColor& a, const QColor& b)
{
    return std::abs(a.red() - b.red()) <= 24 && std::abs(a.green() - b.green()) <= 24 && std::abs(a.blue() - b.blue()) <= 24;
}

}

// HDMI3 and HDMI4, the two HDMI 2.0 inputs, are named in green wherever the inputs are listed by
// name: the EDID page's tabs and the device page's input row as on the input-choice and crop tabs.
TEST_F(PanelTest, HdmiThreeAndFourAreNamedInGreenOnEveryInputRow)
{
    const QColor green(0x51, 0xBB, 0x28), white(255, 255, 255);
    std::unique_ptr<EDIDset> edid(new EDIDset);
    std::unique_ptr<MachineState> device(new MachineState);
    std::unique_ptr<InputCut> crops(new InputCut);
    struct Row {
        QWidget* page;
        const char* name; // %1: the position in the row
        const int ids[6];  // input id at each position
    };
    const Row rows[] = {
        {edid.get(), "sourcelistseq%1name", {2, 3, 4, 5, 1, 0}},
        {device.get(), "sourceid%1name", {0, 1, 2, 3, 4, 5}},
    };
    QStringList wrong;
    for (const Row& r : rows) {
        for (int k = 0; k < 6; ++k) {
            auto* label = r.page->findChild<QLabel*>(QString::fromLatin1(r.name).arg(k));
            ASSERT_TRUE(label) << r.name << k;
            const QColor ink = inkOf(r.page, label);
            const bool isGreen = r.ids[k] == 4 || r.ids[k] == 5;
            if (!near(ink, isGreen ? green : white))
                wrong << QStringLiteral("%1 %2 \"%3\": %4").arg(r.page->objectName(), label->objectName(), label->text(), ink.name());
        }
    }
    EXPECT_TRUE(wrong.isEmpty()) << wrong.join(QLatin1Char('\n')).toStdString();
    // The crop tabs, drawn so already, pass the same measure.
    EXPECT_TRUE(near(inkOf(crops.get(), crops->tab_name[2]), QColor(0x12, 0xBB, 0x32)));
    EXPECT_TRUE(near(inkOf(crops.get(), crops->tab_name[0]), white));
    for (int language = 0; language < 5; ++language) {
        g_language = uint8_t(language);
        edid->language_changed();
        device->language_changed();
        Panel::shot(edid.get(), QStringLiteral("edid_tabs_%1").arg(language));
        Panel::shot(device.get(), QStringLiteral("device_info_inputs_%1").arg(language));
    }
}
