// Names, list order, rich-text styles and icons of the six inputs.
#include "ui/sourceinfo.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <gtest/gtest.h>

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
