#include "tools/upgrade_notice.h"

#include "base/global.h"
#include "base/logMsg.h"
#include "tools/upgrade_engine.h"
#include "ui/texts.h"

#include <QCoreApplication>

QPointer<PanelNotice> g_upgrade_notice;
QPointer<PanelNotice> g_refusal_notice;

namespace {
// simplified Chinese, English, Russian, Vietnamese, traditional Chinese
const char* const kCutText[5] = {
    "FPGA映像不完整：上次写入被中断。\n请重新进行USB升级。",
    "FPGA image incomplete: its last write was cut.\nRun the USB upgrade again.",
    "Образ FPGA неполный: запись была прервана.\nПовторите обновление через USB.",
    "Ảnh FPGA chưa đầy đủ: lần ghi trước bị ngắt.\nHãy chạy lại cập nhật USB.",
    "FPGA映像不完整：上次寫入被中斷。\n請重新進行USB昇級。",
};
const char* const kRefusedText[5] = {
    "升级被拒绝，程序未更换：\n%1",
    "Update refused, the program stays:\n%1",
    "Обновление отклонено, программа прежняя:\n%1",
    "Cập nhật bị từ chối, giữ chương trình cũ:\n%1",
    "昇級被拒絕，程式未更換：\n%1",
};
QString inLanguage(const char* const (&texts)[5]) { return QString::fromUtf8(texts[languageColumn(g_language.load())]); }
}

void UpgradeNotice::showAtStart()
{
    const QString cut = upgrade::cutImageWrite();
    if (cut.isEmpty())
        return;
    writeLogMsg(LOG_ERROR, "FPGA 0 image incomplete, its write was cut (" + cut.toStdString() +
                               "): run the USB upgrade again");
    PanelNotice::show(g_upgrade_notice, inLanguage(kCutText));
}

void UpgradeNotice::showRefusal(const std::string& reason)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    const QString why = QString::fromStdString(reason);
    QMetaObject::invokeMethod(app, [why] { PanelNotice::show(g_refusal_notice, inLanguage(kRefusedText).arg(why)); },
                              Qt::QueuedConnection);
}
