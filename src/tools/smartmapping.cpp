// The smart mapping page's frame: construction, the main column and its key navigation, texts,
// refresh codes, leaving, and what the page shows of the jobs it posts.
#include "tools/smartmapping.h"
#include "tools/smartmapping_texts.h"

#include "base/global.h"
#include "fpga/fpga_jobs_block.h"
#include "fpga/fpga_manage.h"
#include "fpga/rcv_recovery_file.h"
#include "ui/numberkeyboard.h"
#include "ui/option.h"
#include "ui/pagenav.h"
#include "ui/panelkeys.h"
#include "ui/panelwidgets.h"
#include "ui/qroundprogressbar.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QtDebug>
#include <algorithm>
#include <cstdio>

QPointer<SmartMapping> g_smartmapping;

std::function<bool(QLineEdit*, const QString&, int, int)> SmartMapping::askNumber =
    [](QLineEdit* field, const QString& title, int min, int max) {
        return g_numberkeyboard && g_numberkeyboard->editField(field, title, min, max);
    };

namespace {
const MapText::Id kNoteText[] = {MapText::Done,    MapText::Done,          MapText::Failed,  MapText::MappingFailed,
                                 MapText::BadSize, MapText::BadGrid,       MapText::TooManyCabinets,
                                 MapText::BadOffset, MapText::NoCards,     MapText::Busy,    MapText::NoFpga,
                                 MapText::NoCardFound, MapText::MoreCards, MapText::CuringFailedOn,
                                 MapText::MappingFailedOn};

// Port numbers of a port mask, counted from 1 as the tiles name them: "4,10"; past three, the
// first three and an ellipsis, so the line keeps its width.
QString portList(int mask)
{
    QStringList ports;
    for (int p = 0; p < 16; ++p)
        if (mask & 1 << p)
            ports << QString::number(p + 1);
    if (ports.size() > 3)
        return ports.mid(0, 3).join(QLatin1Char(',')) + QChar(0x2026);
    return ports.join(QLatin1Char(','));
}
}

SmartMapping::SmartMapping(QWidget* parent)
    : VyrPage(24, "SmartMapping", UiText::TitleSmartMapping, parent),
      note_(Note::None),
      style_button(QStringLiteral("background-color: rgb(33, 36, 53);color:rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);")),
      style_button_focused(QStringLiteral("background-color: rgb(33, 36, 53);color:rgb(255, 255, 255);border:1px solid rgb(255,171,84);")),
      style_main_held(QStringLiteral("color:rgb(255, 255, 255);border:1px solid rgb(71, 119, 255);")),
      style_unavailable(PanelWidgets::boxStyle(PanelWidgets::kUnavailable) + QStringLiteral("border:2px;border-radius:10px;padding:2px 4px;")),
      style_group_chosen(PanelWidgets::boxStyle(PanelWidgets::kHighlight) + QStringLiteral("border:1px solid rgb(255, 255, 255);")),
      style_edit(QStringLiteral("color:rgb(255, 255, 255);background-color:rgb(33, 36, 53);border:1px solid rgb(255,255,255);")),
      style_edit_focused(QStringLiteral("color:rgb(255, 255, 255);background-color: rgb(33, 36, 53);border:1px solid rgb(255,171,84);")),
      style_file_focused(PanelWidgets::boxStyle(PanelWidgets::kHighlight) + QStringLiteral("border:1px solid rgb(255,171,84);")),
      style_file_chosen(PanelWidgets::boxStyle(PanelWidgets::kHighlight) + QStringLiteral("border:1px solid rgb(255,255,255);")),
      style_file(QStringLiteral("background-color: rgb(33, 36, 53);color: #FFFFFF")),
      // Green text does not read on the highlight: there a stick's file keeps its green as a bar.
      style_stick_focused(style_file_focused + QStringLiteral("border-left:4px solid #00FF00;")),
      style_stick_chosen(style_file_chosen + QStringLiteral("border-left:4px solid #00FF00;")),
      style_stick(QStringLiteral("background-color: rgb(33, 36, 53);color: #00FF00"))
{
    buildFrame();
    buildShortcutPages();
    buildScanPages();
    showStack(0);
    // Two groups of eight ports are offered.
    for (QPushButton* b : {Button_wlan3, Button_wlan4, Button_wlan7, Button_wlan8})
        b->hide();
    Button_wlan1->setGeometry(10, 32, 60, 20);
    Button_wlan5->setGeometry(10, 32, 60, 20);
    Button_wlan2->setGeometry(75, 32, 60, 20);
    Button_wlan6->setGeometry(75, 32, 60, 20);

    main_list = {Button_shortcut, Button_loadscan, Button_paraweld, Button_mapping};
    main_focused = Button_shortcut;
    main_index = 0;
    level_ = 0;
    sc_step = 0;
    language_changed();
    for (QPushButton* b : main_list)
        b->setStyleSheet(b == main_focused ? style_button_focused
                                           : (b == Button_loadscan && scan_count == 0 ? style_unavailable : style_button));

    file_list_shown = false;
    scan_step = 0;
    line_type[8] = 0;
    line_type[11] = 1;
    line_select(1);

    for (My_lineEdit* e : {lineEdit_X, lineEdit_Y, lineEdit_line, lineEdit_column, lineEdit_horzion, lineEdit_vert})
        connect(e, &My_lineEdit::send_show, this, &SmartMapping::show_numberkeyboard_ui);
    // The worker's reports arrive queued, in this thread, and only while this page exists.
    connect(CardJobReport::instance(), &CardJobReport::smartMappingProgress, this, &SmartMapping::job_progress,
            Qt::QueuedConnection);
    connect(CardJobReport::instance(), &CardJobReport::jobFinished, this, &SmartMapping::job_finished,
            Qt::QueuedConnection);
}

SmartMapping::~SmartMapping() = default;

namespace {
QPushButton* mainButton(QWidget* parent, const char* name, int y)
{
    auto* b = new QPushButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(1, y, 84, 40);
    b->setFocusPolicy(Qt::NoFocus);
    b->setAutoDefault(false);
    return b;
}
}

void SmartMapping::buildFrame()
{
    label_title->setGeometry(5, 4, 310, 24);
    QFont titleFont = label_title->font();
    titleFont.setPixelSize(14);
    label_title->setFont(titleFont);
    Button_shortcut = mainButton(this, "Button_shortcut", 38);
    Button_loadscan = mainButton(this, "Button_loadscan", 86);
    Button_paraweld = mainButton(this, "Button_paraweld", 134);
    Button_mapping = mainButton(this, "Button_mapping", 182);
    Button_mapping->setText(QStringLiteral("Mapping"));
    connect(Button_shortcut, &QPushButton::clicked, this, &SmartMapping::on_Button_shortcut_clicked);
    connect(Button_loadscan, &QPushButton::clicked, this, &SmartMapping::on_Button_loadscan_clicked);
    connect(Button_paraweld, &QPushButton::clicked, this, &SmartMapping::on_Button_paraweld_clicked);
    connect(Button_mapping, &QPushButton::clicked, this, &SmartMapping::on_Button_mapping_clicked);

    frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame"));
    frame->setGeometry(86, 31, 233, 208);
    frame->setStyleSheet(QStringLiteral("#frame{border:1px solid rgb(133, 129, 153);}"));
    stackedWidget = new QStackedWidget(this);
    stackedWidget->setObjectName(QStringLiteral("stackedWidget"));
    stackedWidget->setGeometry(87, 32, 231, 186);
    for (int i = 0; i < 8; ++i) {
        auto* page = new QWidget;
        page->setObjectName(i == 0 ? QStringLiteral("page") : QStringLiteral("page_%1").arg(i + 1));
        stackedWidget->addWidget(page);
    }
    label_result = new QLabel(this);
    label_result->setObjectName(QStringLiteral("label_result"));
    label_result->setGeometry(89, 218, 228, 19);
    label_result->setAlignment(Qt::AlignCenter);
    label_result->hide();
}

void SmartMapping::showStack(int index)
{
    stackedWidget->setCurrentIndex(index);
}

void SmartMapping::button_select(QPushButton* button)
{
    if (main_focused)
        main_focused->setStyleSheet(main_focused == Button_loadscan && scan_count == 0 ? style_unavailable : style_button);
    main_focused = button;
    main_focused->setStyleSheet(style_button_focused);
}

// ---- texts ----

void SmartMapping::language_changed()
{
    const int shown = stackedWidget->currentIndex();
    if (main_focused == Button_shortcut || !main_focused) {
        if (shown == 1)
            language_for_shortcutt_page1();
        else if (shown == 2)
            language_for_shortcutt_page2();
        else if (shown == 3)
            language_for_shortcutt_page3();
        else
            language_for_shortcutt_page0();
    } else if (main_focused == Button_loadscan) {
        if (shown == 4)
            language_for_loadscan_page4();
        else if (shown == 5)
            language_for_loadscan_page5();
    } else if (shown == 6) {
        language_for_paraweld_page6();
    } else if (shown == 7) {
        language_for_mapping_onoff_page7();
    }
    countScanFiles();
    label_title->setText(uiText(UiText::TitleSmartMapping));
    Button_shortcut->setText(MapText::text(MapText::Shortcut));
    Button_loadscan->setText(MapText::text(MapText::LoadScan));
    Button_paraweld->setText(MapText::text(MapText::Curing));
    for (QPushButton* b : {Button_shortcut, Button_loadscan, Button_paraweld, Button_mapping})
        mapFont(b, 13, 10);
    if (scan_count == 0)
        Button_loadscan->setStyleSheet(style_unavailable);
    else
        Button_loadscan->setStyleSheet(main_focused == Button_loadscan ? (level_ ? style_main_held : style_button_focused)
                                                                       : style_button);
    if (note_shown_)
        showNote(note_, note_value_, note_second_);
}

// Scan files listed by the card-file reader in the mapping folder; without any there, the scan
// files of the folder and the stick that the load function would offer. Only what the list would
// show counts, so load scan is never offered over an empty list.
void SmartMapping::countScanFiles()
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (fpga && fpga->rcvrecovery && fpga->rcvrecovery->get_dir_file(QStringLiteral("/data/smartmapping")) == 0) {
        const QStringList names = fpga->rcvrecovery->scan_files();
        scan_count = int(std::count_if(names.begin(), names.end(), [](const QString& n) { return isScanFile(n, true); }));
    }
    if (scan_count == 0) {
        const QStringList kept = files;
        const int keptLocal = local_count, keptTotal = total;
        files.clear();
        total = 0;
        get_file_list_smartpath();
        get_file_list_usbpath();
        scan_count = total;
        if (file_list_shown) { // the list on show stays as it is
            files = kept;
            local_count = keptLocal;
            total = keptTotal;
        }
    }
}

void SmartMapping::syncUpdate(int code)
{
    switch (code) {
    case 100:
        if (traceOn())
            printf("\n smartmapping: usb in");
        break;
    case 101:
    case 102:
        selection = 0;
        if (code == 101)
            scan_step = 0;
        // A stick changes what load scan can offer: count again, so the column skips it or not.
        scan_count = 0;
        countScanFiles();
        if (main_focused == Button_loadscan)
            Button_loadscan->setStyleSheet(level_ ? style_main_held : style_button_focused);
        else
            Button_loadscan->setStyleSheet(scan_count == 0 ? style_unavailable : style_button);
        if (file_list_shown)
            enterFileStep();
        break;
    default:
        if (PageNav::languageChanged())
            language_changed();
        break;
    }
}

// ---- leaving ----

void SmartMapping::slot_Button_back_clicked()
{
    if (jobRunning())
        return; // a running job keeps its page
    PageNav::back(this);
}

// ---- keys ----

void SmartMapping::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == PanelKey::OK)
        qDebug("this is OK button(SmartMapping)[Press]\n");
    else if (event->key() == PanelKey::Back)
        qDebug("this is back button(SmartMapping)[Press]\n");
    event->accept();
}

void SmartMapping::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
    const int key = event->key();
    if (key == PanelKey::OK)
        qDebug("this is OK button(SmartMapping)[Release]\n");
    if (key == PanelKey::Mode) {
        qDebug("this is mode-code [smartmapping][Release]");
        // The bar belongs to a job in flight: the page stays until the job has ended.
        if (!jobRunning())
            PageNav::modeShortcut();
        return;
    }
    if (key != PanelKey::OK && key != PanelKey::Left && key != PanelKey::Right && key != PanelKey::Back)
        return;
    if (level_ == 0)
        mainKey(key);
    else if (main_index == 0)
        shortcutKey(key);
    else if (main_index == 1)
        loadscanKey(key);
    else if (key == PanelKey::OK)
        (main_index == 2 ? Button_confirm : Button_mapping_state)->click();
    else if (key == PanelKey::Back)
        backToMain();
}

void SmartMapping::mainKey(int key)
{
    switch (key) {
    case PanelKey::Right:
        clearNote();
        main_index = main_index + 1;
        if (main_index == 1 && scan_count == 0)
            ++main_index;
        if (main_index > 3)
            main_index = 0;
        button_select(main_list[size_t(main_index)]);
        menulist_main_sel();
        break;
    case PanelKey::Left:
        clearNote();
        if (main_index == 0) {
            main_index = 3;
        } else {
            --main_index;
            if (main_index == 1 && scan_count == 0)
                main_index = 0;
        }
        button_select(main_list[size_t(main_index)]);
        menulist_main_sel();
        break;
    case PanelKey::OK:
        if (jobRunning())
            return; // the functions open again once the job has ended
        clearNote();
        switch (main_index) {
        case 0:
            on_Button_shortcut_clicked();
            focusShortcut(0, 0);
            break;
        case 1:
            on_Button_loadscan_clicked();
            ls_step = 0;
            ls_focus = line_type[8].load() >= 8 ? 1 : 0;
            chooseGroup(ls_focus, true);
            focus_item = nullptr;
            setItem(ls_focus ? Button_wlan6 : Button_wlan5, true);
            break;
        case 2:
            on_Button_paraweld_clicked();
            focus_item = nullptr;
            setItem(Button_confirm, true);
            break;
        default:
            on_Button_mapping_clicked();
            focus_item = nullptr;
            setItem(Button_mapping_state, true);
            break;
        }
        main_focused->setStyleSheet(style_main_held);
        level_ = 1;
        break;
    case PanelKey::Back:
        Button_back_clicked();
        break;
    default:
        break;
    }
}

void SmartMapping::menulist_main_sel()
{
    switch (main_index) {
    case 0:
        sc_step = 0;
        showStack(0);
        language_for_shortcutt_page0();
        break;
    case 1:
        ls_step = 0;
        group = line_type[8].load() >= 8 ? 1 : 0;
        tile_index = 0;
        wlan_init(1);
        for (QPushButton* b : {Button_wlan5, Button_wlan6, Button_next_5})
            b->setStyleSheet(style_button);
        showStack(4);
        language_for_loadscan_page4();
        break;
    case 2:
        showStack(6);
        language_for_paraweld_page6();
        break;
    default:
        on_Button_mapping_clicked();
        break;
    }
}

// Each function's back at its first step: the main column again.
void SmartMapping::backToMain()
{
    if (focus_item)
        setItem(focus_item, false);
    focus_item = nullptr;
    picker_open = false;
    sc_tile_choice = false;
    ls_tile_choice = false;
    in_row = false;
    main_focused->setStyleSheet(style_button_focused);
    level_ = 0;
}

// The sheet of an item of a function: focused or its normal counterpart.
void SmartMapping::setItem(QWidget* w, bool focused, bool lineEditStyle)
{
    if (!w)
        return;
    const bool edit = qobject_cast<QLineEdit*>(w) != nullptr;
    const bool groupButton = w == Button_wlan1 || w == Button_wlan2 || w == Button_wlan5 || w == Button_wlan6;
    if (focused) {
        w->setStyleSheet(edit || lineEditStyle ? style_edit_focused : style_button_focused);
        focus_item = w;
    } else if (groupButton && w == group_chosen) {
        w->setStyleSheet(style_group_chosen);
    } else {
        w->setStyleSheet(edit ? style_edit : style_button);
    }
}

// ---- jobs ----

bool SmartMapping::jobRunning() const
{
    return !g_qround_bar.isNull();
}

// The job word is written only when no bar is up and the worker is idle; the bar goes up first,
// so no report of the job can come before it.
bool SmartMapping::postJob(int job)
{
    if (jobRunning())
        return false;
    if (!fpga_manage::p_fpga_manage) {
        showNote(Note::NoFpga);
        return false;
    }
    if (JobBlock::slotTaken()) {
        showNote(Note::Busy);
        return false;
    }
    clearNote();
    QRoundProgressBar::create_qround_bar(this);
    if (QRoundProgressBar* bar = g_qround_bar.data())
        connect(this, &SmartMapping::sig_qround_bar_update, bar, &QRoundProgressBar::para_sync);
    posted_job = job;
    JobBlock::set(JobBlock::Step, 0);
    JobBlock::set(JobBlock::Job, uint8_t(job));
    fpga_manage::wake();
    return true;
}

void SmartMapping::job_progress(int percent)
{
    emit sig_qround_bar_update(percent);
}

void SmartMapping::job_finished(int job, bool ok, uint detail)
{
    if (job != posted_job || posted_job == 0)
        return;
    posted_job = 0;
    // The bar always goes with its job, whatever the last percentage was.
    if (QRoundProgressBar* bar = g_qround_bar.data())
        if (bar->parent() == this)
            bar->para_sync(100);
    if (job == 4)
        readMapping();
    const int ports = int(detail & JobBlock::kPortBits);
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (detail & JobBlock::kNoCardFound)
        showNote(job == 1 ? Note::NoCards : Note::NoCardFound);
    else if (detail & JobBlock::kMoreCardsThanCells)
        showNote(Note::MoreCards, fpga ? fpga->get_port_card_num(line_type[8].load()) : 0, line_type[9] * line_type[10]);
    else if (ok)
        showNote(Note::Done);
    else if (ports && (job == 3 || job == 4))
        showNote(job == 4 ? Note::MappingFailedOn : Note::CuringFailedOn, ports);
    else
        showNote(job == 4 ? Note::MappingFailed : Note::Failed);
}

void SmartMapping::showNote(Note note, int value, int second)
{
    note_ = note;
    note_value_ = value;
    note_second_ = second;
    note_shown_ = note != Note::None;
    if (!note_shown_) {
        label_result->hide();
        return;
    }
    QString t = MapText::text(kNoteText[int(note)]);
    if (note == Note::TooMany)
        t = t.arg(value);
    else if (note == Note::MoreCards)
        t = t.arg(value).arg(second);
    else if (note == Note::CuringFailedOn || note == Note::MappingFailedOn)
        t = t.arg(portList(value));
    label_result->setText(t);
    mapFont(label_result, 12, 11);
    label_result->setStyleSheet(note == Note::Done ? QStringLiteral("color: rgb(81, 187, 40);")
                                                   : QStringLiteral("color: rgb(255, 60, 60);"));
    label_result->show();
    label_result->raise();
}

void SmartMapping::clearNote()
{
    showNote(Note::None);
}

QString SmartMapping::resultText() const
{
    return note_shown_ ? label_result->text() : QString();
}

// The open mapping page was built from the old files: it is left. Otherwise the option menu's
// texts name the files.
void SmartMapping::cardFilesChanged(bool fromDelete)
{
    if (g_page_focus.load() == 24 && g_smartmapping)
        g_smartmapping->Button_back_clicked();
    else if (fromDelete)
        Option::requestRetext();
}
