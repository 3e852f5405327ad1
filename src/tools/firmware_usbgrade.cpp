#include "tools/firmware_usbgrade.h"

#include "base/global.h"
#include "tools/upgrade_engine.h"
#include "tools/upgrade_package.h"
#include "ui/pagenav.h"
#include "ui/panelkeys.h"
#include "ui/panelwidgets.h"

#include <QFileInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QtDebug>

QPointer<firmware_usbgrade> g_firmware_usbgrade;

namespace {
enum Text { Title, Grade, Empty, Failed, Summary, Busy, NoSecondFpga, Nothing, TextCount };
// simplified Chinese, English, Russian, Vietnamese, traditional Chinese
const char* const kTexts[TextCount][5] = {
    {"USB升级", "USB UPDATE", "Обновление через USB", "Sử dụng ổ USB  để cập nhập", "USB昇級"},
    {"确定", "OK", "OK", "Đồng ý", "確定"},
    {"无加载文件!", "No loaded file!", "Нет файлов для загрузки!", "Không có tập tin để tải!", "無加載文件!"},
    {"升级失败", "Update failed", "Ошибка обновления", "Cập nhật thất bại", "昇級失敗"},
    {"写入 %1 跳过 %2 失败 %3", "written %1 skipped %2 failed %3", "записано %1 пропущено %2 ошибок %3",
     "ghi %1 bỏ qua %2 lỗi %3", "寫入 %1 跳過 %2 失敗 %3"},
    {"忙，请稍后", "Busy, try later", "Занято, позже", "Đang bận, thử lại sau", "忙，請稍後"},
    {"无 FPGA 1：映像已跳过", "No FPGA 1: image skipped", "Нет FPGA 1: образ пропущен", "Không có FPGA 1: bỏ qua", "無 FPGA 1：映像已跳過"},
    {"未安装任何内容", "Nothing installed", "Не установлено", "Không cài đặt gì", "未安裝任何內容"},
};
QString text(Text t) { return QString::fromUtf8(kTexts[t][languageColumn(g_language.load())]); }

const char* const kRed12 = "<font style = 'font-size:12px' color = #FF0000 >%1</font>";
const char* const kGreen12 = "<font style = 'font-size:12px' color = #51BB28 >%1</font>";
const char* const kGreen13 = "<font style = 'font-size:13px' color = #51BB28 >%1</font>";
const char* const kRowStyle = "background-color: rgb(33, 36, 53);color: #FFFFFF";
const char* const kRowTapped = "background-color: rgb(33, 36, 53);color: #FFFFFF;";
constexpr int kRows = 4;
// Rows inside the 90-pixel list frame and its 1-pixel border: 4, 25, 46, 67, each 20 high.
constexpr int kRowTop = 4, kRowPitch = 21, kRowHeight = 20;

QIcon arrow(bool left)
{
    QPixmap pm(20, 20);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(255, 171, 84));
    p.setPen(Qt::NoPen);
    QPolygonF poly;
    if (left)
        poly << QPointF(14, 3) << QPointF(14, 17) << QPointF(5, 10);
    else
        poly << QPointF(6, 3) << QPointF(6, 17) << QPointF(15, 10);
    p.drawPolygon(poly);
    return QIcon(pm);
}
}

firmware_usbgrade::firmware_usbgrade(QWidget* parent)
    : VyrPage(26, "firmware_usbgrade", UiText::TitleUsbUpgrade, parent)
{
    label_title->setGeometry(33, 10, 254, 22);
    QFont titleFont = label_title->font();
    titleFont.setPointSize(11);
    label_title->setFont(titleFont);
    frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame"));
    frame->setGeometry(10, 42, 300, 190);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Raised);
    frame->setStyleSheet(QStringLiteral("#frame{\nbackground-color: rgb(16, 16, 28);\nborder:1px solid rgb(255, 255, 255);\nborder-radius:6px;padding:2px 4px\n}"));
    label_log = new QLabel(frame);
    label_log->setObjectName(QStringLiteral("label_log"));
    label_log->setGeometry(20, 5, 260, 40);
    label_log->setAlignment(Qt::AlignCenter);
    label_log->setWordWrap(true);
    label_log->setStyleSheet(QStringLiteral("color:rgb(255,255,255);"));
    label_result = new QLabel(frame); // the run's counts, beside the button
    label_result->setObjectName(QStringLiteral("label_result"));
    label_result->setGeometry(10, 153, 175, 25);
    label_result->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label_result->setStyleSheet(QStringLiteral("color:rgb(255,255,255);"));
    Button_grade = new QPushButton(frame);
    Button_grade->setObjectName(QStringLiteral("Button_grade"));
    Button_grade->setGeometry(190, 153, 80, 25);
    Button_grade->setFocusPolicy(Qt::NoFocus);
    Button_grade->setProperty("autoDefault", false);
    Button_grade->setStyleSheet(QStringLiteral("color:rgb(255, 255, 255);border:1px solid rgb(255,171,84);"));
    connect(Button_grade, &QPushButton::clicked, this, &firmware_usbgrade::on_Button_grade_clicked);
    focus_widget = Button_grade;

    get_file_list_smartpath();
    upgrade_file_list();
    language_changed();
    // A run still going, or one that ended: its report belongs to whoever looks now.
    const upgrade::RunResult r = upgrade::Engine::instance().result();
    if (g_usb_grade.load() != 0) {
        run_ = r.run;
        file_downing = 1;
        label_log->setText(QString::fromLatin1(kRed12).arg(QStringLiteral("downing ,Dont power off !!\r\n")));
    } else if (r.finished) {
        run_ = r.run;
        showResult();
    }
}

void firmware_usbgrade::language_changed()
{
    label_title->setText(text(Title));
    Button_grade->setText(text(Grade));
    upgrade_file_list();
}

void firmware_usbgrade::get_file_list_smartpath()
{
    files_ = upgrade::listPackages();
    selected_.fill(false, files_.size());
    bool firstVyr = true;
    for (int i = 0; i < files_.size(); ++i) {
        const bool zk = files_[i].endsWith(QLatin1String(".VYRZK"));
        selected_[i] = zk || firstVyr;
        firstVyr = firstVyr && zk;
    }
    current_page = 0;
    last_page = files_.isEmpty() ? 0 : (files_.size() + kRows - 1) / kRows - 1;
    for (const QString& f : files_)
        qDebug() << "usb package" << f;
}

void firmware_usbgrade::upgrade_file_list()
{
    delete frame_file;
    previous = next = nullptr;
    frame_file = new QFrame(frame);
    frame_file->setObjectName(QStringLiteral("frame_file"));
    frame_file->setGeometry(10, 50, 280, 90);
    frame_file->setStyleSheet(QStringLiteral("#frame_file{background-color: rgb(33, 36, 53);border:1px solid #FFFFFF;}"));
    QFont small = font();
    small.setPointSize(7);
    if (files_.isEmpty()) {
        auto* empty = new QLabel(frame_file);
        empty->setObjectName(QStringLiteral("label_empty"));
        empty->setGeometry(5, 5, 220, 20);
        empty->setFont(small);
        empty->setStyleSheet(QLatin1String(kRowStyle));
        empty->setText(text(Empty));
    } else {
        const int first = current_page * kRows;
        for (int i = first; i < std::min<int>(files_.size(), first + kRows); ++i) {
            auto* row = new QLabel(frame_file);
            row->setObjectName(QStringLiteral("row%1").arg(i - first));
            row->setGeometry(5, kRowTop + kRowPitch * (i - first), 220, kRowHeight);
            row->setFont(small);
            row->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            row->setStyleSheet(selected_[i] ? PanelWidgets::boxStyle(PanelWidgets::kHighlight) : QLatin1String(kRowStyle));
            row->setTextFormat(Qt::PlainText); // names come from the stick
            row->ensurePolished();
            // A long name gives way in its middle: its start and its ".VYR" end stay readable.
            const QFontMetrics fm(row->font());
            row->setText(fm.elidedText(QFileInfo(files_[i]).fileName(), Qt::ElideMiddle, row->contentsRect().width() - 4));
            auto* tap = new QPushButton(frame_file);
            tap->setObjectName(QString::number(i - first));
            tap->setGeometry(row->geometry());
            tap->setFlat(true);
            tap->setFocusPolicy(Qt::NoFocus);
            tap->setStyleSheet(QStringLiteral("background-color: transparent;"));
            connect(tap, &QPushButton::clicked, this, &firmware_usbgrade::vyr_button_file_clicked);
        }
    }
    auto makeArrow = [this](bool left, int y) {
        auto* b = new QPushButton(frame_file);
        b->setObjectName(left ? QStringLiteral("previous") : QStringLiteral("next"));
        b->setGeometry(250, y, 20, 20);
        b->setFocusPolicy(Qt::NoFocus);
        b->setIcon(arrow(left));
        b->setIconSize(QSize(20, 20));
        b->setStyleSheet(QStringLiteral("background-color: rgb(33, 36, 53);"));
        return b;
    };
    if (current_page >= 1) {
        previous = makeArrow(true, 5);
        connect(previous, &QPushButton::clicked, this, &firmware_usbgrade::vyr_Button_previous_clicked);
    }
    if (current_page < last_page) {
        next = makeArrow(false, 65);
        connect(next, &QPushButton::clicked, this, &firmware_usbgrade::vyr_Button_next_clicked);
    }
    frame_file->show();
}

void firmware_usbgrade::vyr_button_file_clicked()
{
    // Only the highlight moves: every package found is written whatever is highlighted.
    bool ok = false;
    const int tapped = sender() ? sender()->objectName().toInt(&ok) : -1;
    if (!ok || tapped < 0 || tapped > kRows - 1 || !frame_file)
        return;
    if (auto* old = frame_file->findChild<QLabel*>(QStringLiteral("row%1").arg(file_select)))
        old->setStyleSheet(QLatin1String(kRowTapped));
    file_select = uint8_t(tapped);
    if (auto* row = frame_file->findChild<QLabel*>(QStringLiteral("row%1").arg(tapped))) {
        qDebug("\n vyr_button_file_clicked ...file_select = %d\n", tapped);
        qDebug() << row->text();
        row->setStyleSheet(PanelWidgets::boxStyle(PanelWidgets::kHighlight));
    }
}

void firmware_usbgrade::vyr_Button_previous_clicked()
{
    current_page = std::max(0, current_page - 1);
    upgrade_file_list();
}

void firmware_usbgrade::vyr_Button_next_clicked()
{
    current_page = current_page + 1 > last_page ? 0 : current_page + 1;
    upgrade_file_list();
}

void firmware_usbgrade::menulist_button_ok_page()
{
    if (file_downing)
        return;
    QString why;
    uint32_t run = 0;
    if (!upgrade::Engine::instance().start(&why, &run)) {
        qDebug() << "usb upgrade refused:" << why;
        label_log->setText(QString::fromLatin1(kRed12).arg(text(Busy).toHtmlEscaped()));
        return;
    }
    file_downing = 1;
    run_ = run;
    start_time = upgrade::clockText();
    label_log->setText(QString::fromLatin1(kRed12).arg(QStringLiteral("downing ,Dont power off !!\r\n") + start_time));
}

void firmware_usbgrade::on_Button_grade_clicked()
{
    // Reports only; the run is started by OK.
    if (file_downing) {
        if (start_time.isEmpty())
            start_time = upgrade::clockText();
        label_log->setText(QString::fromLatin1(kRed12).arg(QStringLiteral("downing ,Dont power off !!\r\n") + start_time));
    } else {
        label_log->setText(QString::fromLatin1(kGreen12).arg(QStringLiteral("downing over \r\n") + start_time +
                                                             QStringLiteral("\r\n") + upgrade::clockText()));
    }
}

void firmware_usbgrade::showResult()
{
    const upgrade::RunResult r = upgrade::Engine::instance().result();
    if (!r.finished || r.run != run_)
        return;
    const QString counts = text(Summary).arg(r.count(upgrade::Outcome::Written)).arg(r.count(upgrade::Outcome::Skipped)).arg(r.count(upgrade::Outcome::Failed));
    const QString time = r.time.toHtmlEscaped().replace(QLatin1Char(' '), QStringLiteral("&nbsp;"));
    // Packages found and nothing written (another model's, only unknown entries, all installed):
    // said in red with the first reason, as a failure is, never as "downing over".
    const bool nothing = !r.anyFailed() && r.packages > 0 && r.count(upgrade::Outcome::Written) == 0;
    const char* colour = r.anyFailed() || nothing ? "#FF0000" : "#51BB28";
    label_result->setText(QStringLiteral("<font style = 'font-size:10px' color = %1 >%2</font>").arg(QLatin1String(colour), counts));
    if (r.anyFailed() || nothing) {
        const upgrade::Outcome shown = nothing ? upgrade::Outcome::Skipped : upgrade::Outcome::Failed;
        QString reason;
        QFont small = label_log->font();
        small.setPixelSize(12);
        const QFontMetrics fm(small);
        const int room = label_log->width() - 4;
        for (const upgrade::Item& i : r.items)
            if (i.outcome == shown) {
                // The reason is what the operator must read (e.g. to run the upgrade again): a long
                // package name gives way first.
                const QString tail = i.package.isEmpty() ? i.reason : QStringLiteral(": ") + i.reason;
                const int left = room - fm.horizontalAdvance(tail);
                if (left > fm.horizontalAdvance(QStringLiteral("a...b")))
                    reason = fm.elidedText(i.package, Qt::ElideMiddle, left) + tail;
                else if (fm.horizontalAdvance(i.reason) <= room)
                    reason = i.reason;
                else
                    reason = i.package + tail; // neither fits: cut at the end
                break;
            }
        reason = fm.elidedText(reason, Qt::ElideRight, room);
        label_log->setText(QString::fromLatin1(kRed12).arg(text(nothing ? Nothing : Failed) + QStringLiteral("&nbsp;&nbsp;") +
                                                           time + QStringLiteral("<br>") + reason.toHtmlEscaped()));
    } else {
        bool skippedFpga1 = false;
        for (const upgrade::Item& i : r.items)
            skippedFpga1 = skippedFpga1 || i.reason == QLatin1String(upgrade::kNoSecondFpga);
        if (skippedFpga1) // one line for the times, one for what was left out
            label_log->setText(QString::fromLatin1(kGreen12).arg(QStringLiteral("downing over&nbsp;&nbsp;") + time +
                                                                 QStringLiteral("<br>") + text(NoSecondFpga).toHtmlEscaped()));
        else
            label_log->setText(QString::fromLatin1(kGreen13).arg(QStringLiteral("downing over<br>") + time));
    }
}

void firmware_usbgrade::syncUpdate(int code)
{
    if (code == 101 || code == 102) {
        file_select = 0;
        get_file_list_smartpath();
        upgrade_file_list();
        return;
    }
    if (code == 100)
        return;
    VyrPage::syncUpdate(code);
    if (code == 104)
        showResult();
}

void firmware_usbgrade::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
    switch (event->key()) {
    case PanelKey::OK:
        qDebug("this is OK button(firmware_usbgrade)[Release]\n");
        menulist_button_ok_page();
        break;
    case PanelKey::Back:
        qDebug("this is back button(firmware_usbgrade)[Release] file_downing = %#x\n", file_downing);
        slot_Button_back_clicked();
        break;
    case PanelKey::Mode:
        qDebug("this is mode-code [firmware_usbgrade][Release]");
        if (!file_downing)
            PageNav::modeShortcut();
        break;
    case PanelKey::Left:
    case PanelKey::Right:
    default:
        break;
    }
}
