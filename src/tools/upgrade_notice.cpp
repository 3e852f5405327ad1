#include "tools/upgrade_notice.h"

#include "base/global.h"
#include "base/logMsg.h"
#include "tools/upgrade_engine.h"
#include "ui/pagenav.h"
#include "ui/panelkeys.h"
#include "ui/texts.h"
#include "ui/topwindow.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>

QPointer<UpgradeNotice> g_upgrade_notice;

namespace {
// simplified Chinese, English, Russian, Vietnamese, traditional Chinese
const char* const kText[5] = {
    "FPGA映像不完整：上次写入被中断。\n请重新进行USB升级。",
    "FPGA image incomplete: its last write was cut.\nRun the USB upgrade again.",
    "Образ FPGA неполный: запись была прервана.\nПовторите обновление через USB.",
    "Ảnh FPGA chưa đầy đủ: lần ghi trước bị ngắt.\nHãy chạy lại cập nhật USB.",
    "FPGA映像不完整：上次寫入被中斷。\n請重新進行USB昇級。",
};
}

UpgradeNotice::UpgradeNotice(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("UpgradeNotice"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setGeometry(20, 50, 280, 140);
    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame_notice"));
    frame->setGeometry(0, 0, 280, 140);
    frame->setStyleSheet(QStringLiteral("#frame_notice{background-color: rgb(16, 16, 28);border:2px solid rgb(255, 80, 80);}"));
    label_ = new QLabel(frame);
    label_->setObjectName(QStringLiteral("label_notice"));
    label_->setGeometry(10, 10, 260, 120);
    label_->setAlignment(Qt::AlignCenter);
    label_->setWordWrap(true);
    label_->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);font: 14px;"));
    label_->setText(QString::fromUtf8(kText[languageColumn(g_language.load())]));
}

QString UpgradeNotice::text() const
{
    return label_->text();
}

void UpgradeNotice::showAtStart()
{
    const QString cut = upgrade::cutImageWrite();
    if (cut.isEmpty())
        return;
    writeLogMsg(LOG_ERROR, "FPGA 0 image incomplete, its write was cut (" + cut.toStdString() +
                               "): run the USB upgrade again");
    auto* notice = new UpgradeNotice(nullptr);
    notice->setAttribute(Qt::WA_DeleteOnClose);
    g_upgrade_notice = notice;
    notice->show();
    TopWindow::raise(notice);
}

void UpgradeNotice::keyPressEvent(QKeyEvent* event)
{
    event->accept();
}

void UpgradeNotice::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
    if (event->key() != PanelKey::OK && event->key() != PanelKey::Back)
        return;
    close();
    PageNav::activate(g_page_focus.load()); // the keys back to the page under it
}
