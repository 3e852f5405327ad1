#include "tools/rcv_recovery.h"

#include "base/global.h"
#include "fpga/fpga_jobs_block.h"
#include "fpga/fpga_manage.h"
#include "ui/pagenav.h"
#include "ui/pages_picture/advancedoption.h"
#include "ui/panelkeys.h"
#include "ui/panelwidgets.h"
#include "ui/qroundprogressbar.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QtDebug>
#include <algorithm>
#include <cstdio>

QPointer<rcv_recovery> g_rcv_recovery;

namespace {
enum Text { Title, Update, Query, Recovery, NoResult, Found, Screen, Port, Card, QueryFailed, RecoveryFailed, TextCount };
// simplified Chinese, English, Russian, Vietnamese, traditional Chinese
const char* const kTexts[TextCount][5] = {
    {"接收卡自恢复", "Receiving card self recovery", "Самовосстановление приемной карты", "Thẻ nhận tự phục hồi", "接收卡自恢複"},
    {"接收卡更新", "Receiving card update", "Получить обновление карты", "Nhận thông tin cập nhập về thẻ", "接收卡更新"},
    {"查询", "Query", "Считать", "Tìm hiểu", "查詢"},
    {"恢复", "Recovery", "Восстановить", "Phục hồi", "恢複"},
    {"暂无接收卡需要更新!", "No receiving cards that need to be updated!", "Обновление принимающих карт не требуется!",
     "Chưa có thẻ nhận nào để cập nhật!", "暫無接收卡需要更新!"},
    {"发现", "Find", "Find", "Find", "髮現"},
    {"屏幕", "Screen", "Screen", "Screen", "屏幕"},
    {"网口LED", "LED", "LED", "LED", "網口LED"},
    {"接收卡", "Rcv", "Rcv", "Rcv", "接收卡"},
    {"查询失败!", "Query failed!", "Ошибка считывания!", "Tìm hiểu thất bại!", "查詢失敗!"},
    {"恢复失败!", "Recovery failed!", "Ошибка восстановления!", "Phục hồi thất bại!", "恢複失敗!"},
};
QString text(Text t) { return QString::fromUtf8(kTexts[t][languageColumn(g_language.load())]); }

const char* const kRowStyle = "background-color: rgb(33, 36, 53);color: #FFFFFF";
const char* const kRowUnselected = "background-color: rgb(33, 36, 53);color: #FFFFFF;";
constexpr int kShownLines = 4;
// Wider than the lines need, so that the longest no-result text fits at a readable size.
constexpr int kRowWidth = 268;
constexpr int kLeastPixels = 10; // smaller does not read on the panel

// The point size asked for, never below kLeastPixels, made smaller (down to kLeastPixels) where a
// long translation would not fit its widget.
void fitFont(QWidget* w, int points, const QString& shown, int room)
{
    QFont f = w->font();
    f.setPointSize(points);
    if (QFontInfo(f).pixelSize() < kLeastPixels)
        f.setPixelSize(kLeastPixels);
    while (QFontMetrics(f).horizontalAdvance(shown) > room && QFontInfo(f).pixelSize() > kLeastPixels)
        f.setPixelSize(QFontInfo(f).pixelSize() - 1);
    w->setFont(f);
}

QPushButton* formButton(QWidget* parent, const char* name, const QRect& place)
{
    auto* b = new QPushButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(place);
    b->setFocusPolicy(Qt::NoFocus);
    b->setProperty("autoDefault", false);
    b->setStyleSheet(QStringLiteral("color:rgb(255,255,255);\nborder:1px solid rgb(255, 255, 255);"));
    return b;
}
}

rcv_recovery::rcv_recovery(QWidget* parent)
    : VyrPage(25, "rcv_recovery", UiText::TitleRcvRecovery, parent)
{
    label_title->setGeometry(33, 10, 254, 22);
    frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame"));
    frame->setGeometry(10, 42, 300, 190);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Raised);
    frame->setStyleSheet(QStringLiteral(
        "#frame{\nbackground-color: rgb(16, 16, 28);\nborder:1px solid rgb(255, 255, 255);\nborder-radius:6px;padding:2px 4px\n}"));
    label_para_file = new QLabel(QStringLiteral("T"), frame);
    label_para_file->setObjectName(QStringLiteral("label_para_file"));
    label_para_file->setGeometry(10, 5, 141, 17);
    label_para_file->hide();
    Button_closetest = formButton(frame, "Button_closetest", QRect(210, 10, 80, 20));
    Button_closetest->setText(QStringLiteral("P"));
    Button_closetest->hide();
    label_rcv_update = new QLabel(frame);
    label_rcv_update->setObjectName(QStringLiteral("label_rcv_update"));
    label_rcv_update->setGeometry(10, 30, 240, 17);
    label_rcv_update->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label_rcv_update->setStyleSheet(QStringLiteral("color:rgb(255,255,255);"));
    // The page acts through the keys; a tap on these buttons does nothing.
    Button_check = formButton(frame, "Button_check", QRect(60, 153, 80, 30));
    Button_self_covery = formButton(frame, "Button_self_covery", QRect(190, 153, 80, 30));
    style_normal = QStringLiteral("color:rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);");
    style_focused = QStringLiteral("color:rgb(255, 255, 255);border:1px solid rgb(255,171,84);");

    // Queued whatever thread emits: the worker never calls into the page, and what is still on
    // its way when the page closes is dropped with the page's connections.
    CardJobReport* report = CardJobReport::instance();
    connect(report, &CardJobReport::recoveryProgress, this, &rcv_recovery::sig_qround_bar_update, Qt::QueuedConnection);
    connect(report, &CardJobReport::recoveryResult, this, &rcv_recovery::onResult, Qt::QueuedConnection);
    connect(report, &CardJobReport::recoveryResultCleared, this, &rcv_recovery::onResultCleared, Qt::QueuedConnection);
    connect(report, &CardJobReport::jobFinished, this, &rcv_recovery::onJobFinished, Qt::QueuedConnection);

    menulist_init();
    language_changed();
}

void rcv_recovery::menulist_init()
{
    setFocusList({Button_check, Button_self_covery});
    rcv_self_recovery_file_list();
}

void rcv_recovery::language_changed()
{
    label_title->setText(text(Title));
    fitFont(label_title, 11, label_title->text(), label_title->width() - 2);
    label_rcv_update->setText(text(Update));
    fitFont(label_rcv_update, 9, label_rcv_update->text(), label_rcv_update->width() - 2);
    Button_check->setText(text(Query));
    Button_self_covery->setText(text(Recovery));
    const int column = languageColumn(g_language.load());
    if (column == 0 || column == 4)
        Button_closetest->setText(text(Query));
    const int points = column == 3 ? 7 : 9;
    for (QPushButton* b : {Button_check, Button_self_covery})
        fitFont(b, points, b->text(), b->width() - 8);
}

void rcv_recovery::rcv_self_recovery_file_list()
{
    delete frame_file;
    label_failed = nullptr;
    for (QLabel*& l : line_labels)
        l = nullptr;
    frame_file = new QFrame(frame);
    frame_file->setObjectName(QStringLiteral("frame_file"));
    frame_file->setGeometry(10, 50, 280, 90);
    frame_file->setStyleSheet(QStringLiteral("#frame_file{background-color: rgb(33, 36, 53);border:1px solid #FFFFFF;}"));
    auto rowLabel = [this](const QString& name, int row) {
        auto* l = new QLabel(frame_file);
        l->setObjectName(name);
        l->setGeometry(5, 5 + 25 * row, kRowWidth, 20);
        l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        return l;
    };
    // The worker never reports more lines than it wrote; the count is bounded here all the same.
    const int count = std::min<int>(result_count, std::min<int>(rcv_lines.size(), kShownLines));
    int shown = 0;
    if (count == 0) {
        refused = 0;
        auto* empty = rowLabel(QStringLiteral("label_empty"), 0);
        empty->setStyleSheet(QLatin1String(kRowStyle));
        empty->setText(text(NoResult));
        fitFont(empty, 7, empty->text(), empty->width() - 2);
        shown = 1;
    }
    for (int j = 0; j < count; ++j) {
        const QStringList f = rcv_lines[j].split(QLatin1Char('/'));
        if (f.size() < 4)
            continue;
        const int cc = f[2].toInt(), nn = f[3].toInt();
        refused = cc > nn ? 1 : 0;
        const QString head = text(Found) + QLatin1Char(' ') + text(Screen) + f[0] + QStringLiteral(", ") + text(Port) + f[1] +
                             QStringLiteral(", ") + text(Card);
        // A refused count is white on a red box: red text would not read on the highlight.
        const QString digits = refused ? QChar(0xA0) + f[2] + QChar(0xA0) : f[2];
        const QString cards = refused ? QStringLiteral("<span style='background-color:%1;color:#FFFFFF'>%2</span>")
                                            .arg(PanelWidgets::kWarningBox.name(), digits.toHtmlEscaped())
                                      : QStringLiteral("<font color = #FFFFFF >%1</font>").arg(digits.toHtmlEscaped());
        const QString line = head.toHtmlEscaped() + cards;
        QLabel* l = rowLabel(QStringLiteral("label_line%1").arg(j), j);
        l->setTextFormat(Qt::RichText);
        l->setStyleSheet(j == selected_line ? PanelWidgets::boxStyle(PanelWidgets::kHighlight) : QLatin1String(kRowStyle));
        l->setText(line);
        fitFont(l, 7, head + digits, l->width() - 2);
        line_labels[j] = l;
        line_texts[j] = line;
        auto* tap = new QPushButton(frame_file);
        tap->setObjectName(QString::number(j));
        tap->setGeometry(l->geometry());
        tap->setFlat(true);
        tap->setFocusPolicy(Qt::NoFocus);
        tap->setProperty("autoDefault", false);
        tap->setStyleSheet(QStringLiteral("background-color: transparent;border:0px;"));
        connect(tap, &QPushButton::clicked, this, &rcv_recovery::vyr_button_file_clicked);
        shown = j + 1;
    }
    if (failed_job == 5 || failed_job == 6) {
        label_failed = rowLabel(QStringLiteral("label_failed"), shown);
        label_failed->setStyleSheet(QStringLiteral("background-color: rgb(33, 36, 53);color:") + PanelWidgets::kWarning.name());
        label_failed->setText(text(failed_job == 5 ? QueryFailed : RecoveryFailed));
        fitFont(label_failed, 7, label_failed->text(), label_failed->width() - 2);
    }
    frame_file->show();
}

void rcv_recovery::vyr_button_file_clicked()
{
    QObject* from = sender();
    if (!from)
        return;
    bool ok = false;
    const int j = from->objectName().toInt(&ok);
    if (!ok || j < 0 || j >= kShownLines || !line_labels[j])
        return;
    if (selected_line < kShownLines && line_labels[selected_line])
        line_labels[selected_line]->setStyleSheet(QLatin1String(kRowUnselected));
    selected_line = uint8_t(j);
    if (traceOn())
        printf("\n rcv_recovery select line %d \n", j);
    line_labels[j]->setStyleSheet(PanelWidgets::boxStyle(PanelWidgets::kHighlight));
}

void rcv_recovery::menulist_sel_left()
{
    if (!g_qround_bar)
        moveFocus(false);
}

void rcv_recovery::menulist_sel_right()
{
    if (!g_qround_bar)
        moveFocus(true);
}

void rcv_recovery::post(uint8_t job)
{
    QRoundProgressBar::create_qround_bar(this);
    if (g_qround_bar)
        connect(this, &rcv_recovery::sig_qround_bar_update, g_qround_bar.data(), &QRoundProgressBar::para_sync);
    posted_job_ = job;
    failed_job = 0;
    JobBlock::set(JobBlock::Step, 0);
    JobBlock::set(JobBlock::Job, job);
    fpga_manage::wake();
}

void rcv_recovery::menulist_button_ok_page()
{
    // Without the worker a posted job would never end, and its bar would hold the page for ever.
    const bool worker = fpga_manage::p_fpga_manage != nullptr;
    if (ui_select == 0) {
        if (JobBlock::slotTaken() || g_qround_bar || !worker)
            return;
        result_count = 0;
        failed_job = 0;
        rcv_self_recovery_file_list();
        post(5);
    } else {
        if (JobBlock::slotTaken() || refused || g_qround_bar || !worker)
            return;
        if (rcv_lines.isEmpty() || result_count == 0) {
            moveFocus(false);
            return;
        }
        failed_job = 0;
        if (label_failed)
            rcv_self_recovery_file_list();
        post(6);
    }
    focus_widget->setStyleSheet(style_focused);
}

void rcv_recovery::onResult(const QString& line)
{
    rcv_lines = QStringList{line};
    result_count = 1;
    rcv_self_recovery_file_list();
}

void rcv_recovery::onResultCleared()
{
    rcv_lines.clear();
    result_count = 0;
    rcv_self_recovery_file_list();
}

void rcv_recovery::onJobFinished(int job, bool ok)
{
    if (job != posted_job_)
        return;
    posted_job_ = 0;
    if (!ok) {
        failed_job = job;
        rcv_self_recovery_file_list();
    }
}

void rcv_recovery::syncUpdate(int code)
{
    const uint16_t status = JobBlock::get16(JobBlock::Result);
    if (code == 99 || (status != JobBlock::ResultNone && status != JobBlock::ResultAllGood))
        rcv_self_recovery_file_list();
    VyrPage::syncUpdate(code);
}

void rcv_recovery::menulist_back_page()
{
    if (g_qround_bar)
        return;
    PageNav::back(this);
}

void rcv_recovery::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
    switch (event->key()) {
    case PanelKey::OK:
        qDebug("this is OK button(rcv_recovery)[Release]\n");
        menulist_button_ok_page();
        break;
    case PanelKey::Left:
        qDebug("this is left-code [rcv_recovery][Release] ui_select=%#x", ui_select);
        menulist_sel_left();
        break;
    case PanelKey::Right:
        qDebug("this is right-code [rcv_recovery][Release] ui_select=%#x", ui_select);
        menulist_sel_right();
        break;
    case PanelKey::Back:
        qDebug("this is back button(rcv_recovery)[Release]\n");
        menulist_back_page();
        break;
    case PanelKey::Mode:
        // The bar lives on this page: the page stays until the job's end has closed it.
        qDebug("this is mode-code [rcv_recovery][Release] bar=%d", g_qround_bar ? 1 : 0);
        if (!g_qround_bar)
            PageNav::modeShortcut();
        break;
    default:
        break;
    }
}

// A deleted file may be the one the page shows: it steps back to the file list. The advanced
// menu's texts name the files too.
void rcv_recovery::cardFilesChanged(bool fromDelete)
{
    if (fromDelete && g_page_focus.load() == 25 && g_rcv_recovery)
        g_rcv_recovery->menulist_back_page();
    AdvancedOption::requestRetext();
}
