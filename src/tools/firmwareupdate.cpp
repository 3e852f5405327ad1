#include "tools/firmwareupdate.h"

#include "base/global.h"
#include "ui/texts.h"

#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QTimerEvent>
#include <QtDebug>

QPointer<FirmwareUpdate> g_move_update;

namespace {
QString baseText(int column)
{
    if (column == 0)
        return QString::fromUtf8("升级中，请勿断电 ");
    if (column == 4)
        return QString::fromUtf8("昇級中，請勿斷電 ");
    return QStringLiteral("Updating ");
}

QPixmap picture()
{
    // Drawn here: a stick with an upward arrow.
    QPixmap pm(64, 64);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 171, 84));
    p.drawRoundedRect(QRectF(20, 30, 24, 30), 4, 4);
    p.setBrush(QColor(81, 187, 40));
    QPolygonF up;
    up << QPointF(32, 4) << QPointF(48, 22) << QPointF(38, 22) << QPointF(38, 28) << QPointF(26, 28)
       << QPointF(26, 22) << QPointF(16, 22);
    p.drawPolygon(up);
    return pm;
}
}

FirmwareUpdate::FirmwareUpdate(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FirmwareUpdate"));
    setWindowTitle(QStringLiteral("Dialog"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setGeometry(0, 0, 320, 240);
    setStyleSheet(QStringLiteral("background-color: rgb(16, 16, 28);"));
    label_picture = new QLabel(this);
    label_picture->setObjectName(QStringLiteral("label_picture"));
    label_picture->setScaledContents(true);
    label_picture->setPixmap(picture());
    label_picture->setGeometry(128, 60, 64, 64);
    x_ = label_picture->x();
    y_ = label_picture->y();
    label_text = new QLabel(this);
    label_text->setObjectName(QStringLiteral("label_text"));
    label_text->setAlignment(Qt::AlignCenter);
    label_text->setStyleSheet(QStringLiteral("color: #FFFFFF;font: 13px"));
    placeText(QString::fromUtf8("升级中，请勿断电"), 10);
    language_changed();
}

void FirmwareUpdate::placeText(const QString& text, int factor)
{
    const int width = factor * text.size();
    label_text->setText(text);
    label_text->setGeometry((320 - width) / 2, 200, width, 17);
}

void FirmwareUpdate::language_changed()
{
    const int column = languageColumn(g_language.load());
    placeText(baseText(column), column == 0 || column == 4 ? 13 : 15);
}

void FirmwareUpdate::handleTimerID1()
{
    if (down_) {
        if (label_picture->y() != 116) {
            y_ = y_ + 1;
        } else {
            y_ = 115;
            down_ = 0;
        }
    } else {
        if (label_picture->y() != 60) {
            y_ = y_ - 1;
        } else {
            y_ = 61;
            down_ = 1;
        }
    }
    label_picture->setGeometry(x_, y_, 64, 64);
}

void FirmwareUpdate::handleTimerID2()
{
    ++dots_;
    const int n = dots_ % 3 == 0 ? 3 : int(dots_ % 3);
    placeText(baseText(languageColumn(g_language.load())) + QString(n, QLatin1Char('.')), 13);
}

void FirmwareUpdate::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == timer1_ && timer1_ != 0)
        handleTimerID1();
    else if (event->timerId() == timer2_ && timer2_ != 0)
        handleTimerID2();
}

void FirmwareUpdate::update_time_deal()
{
    if (!g_move_update)
        return;
    const uint32_t now = G_timeTicks.load();
    if (now % 2 == 0)
        handleTimerID1();
    if (now % 100 == 0)
        handleTimerID2();
    update();
}

void firmware_update_start()
{
    if (!g_move_update)
        g_move_update = new FirmwareUpdate(nullptr);
    g_move_update->show();
}

void firmware_update_over()
{
    if (!g_move_update)
        return;
    g_move_update->setAttribute(Qt::WA_DeleteOnClose);
    g_move_update->close();
    g_move_update = nullptr;
    qDebug("\n update_over !!!");
}
