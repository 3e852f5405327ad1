#include "ui/sourceinfo.h"

#include <QLabel>
#include <QPixmap>

namespace {
constexpr uint8_t kInputs = 6;
const char* const kName[kInputs] = {"EXT", "DVI", "HDMI1", "HDMI2", "HDMI3", "HDMI4"};
const uint8_t kIdByPosition[5] = {2, 3, 4, 5, 1}; // position 5 and up: EXT
const uint8_t kPositionById[kInputs] = {5, 4, 0, 1, 2, 3};
const char* const kIcon[kInputs] = {":/png/HDMI.png", ":/png/DVI.png", ":/png/HDMI13.png",
                                    ":/png/HDMI13.png", ":/png/HDMI20.png", ":/png/HDMI20.png"};
const char* const kOnline[kInputs] = {":/png/extlv.png", ":/png/dvilv.png", ":/png/HDMI13_lv.png",
                                      ":/png/HDMI13_lv.png", ":/png/HDMI20_lv.png", ":/png/HDMI20_lv.png"};
const char* const kOffline[kInputs] = {":/png/HDMI.png", ":/png/DVI.png", ":/png/HDMI13_1.png",
                                       ":/png/HDMI13_1.png", ":/png/HDMI20.png", ":/png/HDMI20.png"};
bool green(uint8_t id) { return id == 4 || id == 5; }
}

QString sourceinfo::get_source_name_by_sourceid(uint8_t id)
{
    return id < kInputs ? QLatin1String(kName[id]) : QString();
}

QString sourceinfo::get_source_name_by_listseq(uint8_t position)
{
    return position < kInputs ? get_source_name_by_sourceid(get_source_id_by_listseq(position)) : QString();
}

uint8_t sourceinfo::get_source_id_by_listseq(uint8_t position)
{
    return position < 5 ? kIdByPosition[position] : 0;
}

uint8_t sourceinfo::get_listseq_by_source_id(uint8_t id)
{
    return id < kInputs ? kPositionById[id] : 0;
}

QString sourceinfo::get_source_specialstyle0_by_sourceid(uint8_t id)
{
    return QStringLiteral("<font style = 'font-size:9px' color = %1 >%2</font>")
        .arg(QLatin1String(green(id) ? "#51BB28" : "#ffffff"), QStringLiteral("%1"));
}

QString sourceinfo::get_source_specialstyle1_by_sourceid(uint8_t id, const QString& name, uint8_t count)
{
    if (id >= kInputs)
        return QString();
    const QString blue = QStringLiteral("<font style = 'font-size:9px' color = #4777ff >%1</font>");
    return QStringLiteral("<font style = 'font-size:9px' color = %1 >").arg(QLatin1String(green(id) ? "#12BB32" : "#ffffff"))
        + name + QStringLiteral("</font>") + blue.arg(QStringLiteral("(")) + blue.arg(count) + blue.arg(QStringLiteral(")"));
}

QString sourceinfo::iconPath(uint8_t id)
{
    return id < kInputs ? QLatin1String(kIcon[id]) : QString();
}

QString sourceinfo::onlineIconPath(uint8_t id, bool online)
{
    if (id >= kInputs)
        return QString();
    return QLatin1String(online ? kOnline[id] : kOffline[id]);
}

void sourceinfo::set_source_pixmap(QLabel* label, uint8_t id)
{
    if (label && id < kInputs)
        label->setPixmap(QPixmap(iconPath(id)));
}

void sourceinfo::set_sourceonline_pixmap(QLabel* label, uint8_t id, uint8_t online)
{
    if (label && id < kInputs)
        label->setPixmap(QPixmap(onlineIconPath(id, online != 0)));
}
