#include "tools/firmwareupdate.h"

#include "ui/texts.h"

#include <QLabel>

QPointer<FirmwareUpdate> g_move_update;

namespace {
constexpr int kTicksPerDot = 25;
constexpr int kDots = 6;
}

FirmwareUpdate::FirmwareUpdate(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("FirmwareUpdate"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setGeometry(40, 70, 240, 100);
    setStyleSheet(QStringLiteral("background-color: rgb(33, 36, 53);"));
    label_ = new QLabel(this);
    label_->setGeometry(10, 10, 220, 80);
    label_->setAlignment(Qt::AlignCenter);
    label_->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
    label_->setText(uiText(UiText::Upgrading));
}

void FirmwareUpdate::update_time_deal()
{
    ++frame_;
    const int dots = (frame_ / kTicksPerDot) % (kDots + 1);
    label_->setText(uiText(UiText::Upgrading) + QLatin1Char('\n') + QString(dots, QLatin1Char('.')));
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
    if (g_move_update)
        g_move_update->close();
}
