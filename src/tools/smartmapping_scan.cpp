// The smart mapping page's scan-file load (job 2), parameter curing (job 3) and mapping switch
// (job 4). Scan files are offered only from the listing of the two scan folders: the path handed
// to the worker is always one of those the page listed itself.
#include "tools/smartmapping.h"
#include "tools/smartmapping_texts.h"

#include "base/global.h"
#include "base/logMsg.h"
#include "fpga/fpga_jobs_block.h"
#include "fpga/fpga_manage.h"
#include "platform/paths.h"
#include "ui/panelkeys.h"
#include "ui/qroundprogressbar.h"

#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QtDebug>
#include <cstdio>
#include <cstring>

namespace {
constexpr int kMaxFiles = 100;
constexpr int kPerPage = 3;
const char kSmartDir[] = "/data/smartmapping";
const char kStickDir[] = "/mnt/usb1/";

// Scan files of one folder as the box names them: regular files (no links, no hidden ones) that
// SmartMapping::isScanFile takes.
QStringList scanFolder(const char* folder, int room)
{
    QStringList out;
    const QString dir = QString::fromStdString(platform::Paths::resolve(folder));
    const QFileInfoList entries = QDir(dir).entryInfoList(QDir::Files | QDir::NoSymLinks | QDir::NoDotAndDotDot, QDir::Unsorted);
    QString base = QLatin1String(folder);
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    int found = 0;
    for (const QFileInfo& f : entries) {
        if (f.isSymLink() || !f.isFile() || !SmartMapping::isScanFile(f.fileName(), std::strcmp(folder, kSmartDir) == 0))
            continue;
        ++found;
        if (out.size() < room)
            out << base + f.fileName();
    }
    if (found > room)
        writeLogMsg(LOG_WARNING, "scan files beyond the first 100 are not offered (" + std::to_string(found) + " in " +
                                     folder + ")");
    return out;
}
}

bool SmartMapping::isScanFile(const QString& name, bool mappingFolder)
{
    return (!name.startsWith(QLatin1Char('.')) && QFileInfo(name).suffix() == QLatin1String("qzfile")) ||
           (mappingFolder && name == QLatin1String("QZFR"));
}

void SmartMapping::buildScanPages()
{
    QWidget* p4 = stackedWidget->widget(4);
    label_step1_5 = mapLabel(p4, "label_step1_5", QRect(5, 4, 222, 24));
    Button_wlan5 = mapButton(p4, "Button_wlan5", QRect(10, 32, 60, 20));
    Button_wlan6 = mapButton(p4, "Button_wlan6", QRect(75, 32, 60, 20));
    Button_wlan7 = mapButton(p4, "Button_wlan7", QRect(140, 32, 40, 20));
    Button_wlan8 = mapButton(p4, "Button_wlan8", QRect(185, 32, 40, 20));
    line = new QFrame(p4);
    line->setObjectName(QStringLiteral("line"));
    line->setGeometry(5, 55, 222, 1);
    line->setStyleSheet(QStringLiteral("background-color: rgb(133, 129, 153);"));
    Button_next_5 = mapButton(p4, "Button_next_5", QRect(120, 152, 105, 30));
    connect(Button_wlan5, &QPushButton::clicked, this, &SmartMapping::on_Button_wlan5_clicked);
    connect(Button_wlan6, &QPushButton::clicked, this, &SmartMapping::on_Button_wlan6_clicked);
    connect(Button_wlan7, &QPushButton::clicked, this, &SmartMapping::on_Button_wlan7_clicked);
    connect(Button_wlan8, &QPushButton::clicked, this, &SmartMapping::on_Button_wlan8_clicked);
    connect(Button_next_5, &QPushButton::clicked, this, &SmartMapping::on_Button_next_5_clicked);

    QWidget* p5 = stackedWidget->widget(5);
    label_step2_6 = mapLabel(p5, "label_step2_6", QRect(5, 1, 222, 20));
    label_step2_7 = mapLabel(p5, "label_step2_7", QRect(5, 21, 222, 30));
    Button_front_6 = mapButton(p5, "Button_front_6", QRect(8, 152, 105, 30));
    Button_load = mapButton(p5, "Button_load", QRect(120, 152, 105, 30));
    connect(Button_front_6, &QPushButton::clicked, this, &SmartMapping::on_Button_front_6_clicked);
    connect(Button_load, &QPushButton::clicked, this, &SmartMapping::on_Button_load_clicked);

    QWidget* p6 = stackedWidget->widget(6);
    label_step1_6 = mapLabel(p6, "label_step1_6", QRect(5, 20, 222, 44));
    label_step1_6->setAlignment(Qt::AlignCenter);
    Button_confirm = mapButton(p6, "Button_confirm", QRect(66, 100, 100, 30));
    connect(Button_confirm, &QPushButton::clicked, this, &SmartMapping::on_Button_confirm_clicked);

    QWidget* p7 = stackedWidget->widget(7);
    label_step1_7 = mapLabel(p7, "label_step1_7", QRect(5, 20, 222, 44));
    label_step1_7->setAlignment(Qt::AlignCenter);
    Button_mapping_state = mapButton(p7, "Button_mapping_state", QRect(81, 100, 70, 34));
    Button_mapping_state->setIconSize(QSize(40, 20));
    Button_mapping_state->setIcon(MapPictures::onOff(false));
    connect(Button_mapping_state, &QPushButton::clicked, this, &SmartMapping::on_Button_mapping_state_clicked);
}

// ---- texts ----

void SmartMapping::language_for_loadscan_page4()
{
    label_step1_5->setText(MapText::text(MapText::LsStep1));
    Button_next_5->setText(MapText::text(MapText::Next));
    const QString g = MapText::text(MapText::Group);
    Button_wlan5->setText(g.arg(1).arg(8));
    Button_wlan6->setText(g.arg(9).arg(16));
    Button_wlan7->setText(g.arg(17).arg(24));
    Button_wlan8->setText(g.arg(25).arg(32));
    for (QWidget* w : std::initializer_list<QWidget*>{label_step1_5, Button_next_5, Button_wlan5, Button_wlan6, Button_wlan7, Button_wlan8})
        mapFont(w);
}

void SmartMapping::language_for_loadscan_page5()
{
    label_step2_6->setText(MapText::text(MapText::LsStep2));
    label_step2_7->setText(MapText::text(MapText::Detected));
    Button_front_6->setText(MapText::text(MapText::Previous));
    Button_load->setText(MapText::text(MapText::Load));
    for (QWidget* w : std::initializer_list<QWidget*>{label_step2_6, label_step2_7, Button_front_6, Button_load})
        mapFont(w);
    if (frame_file)
        if (auto* empty = frame_file->findChild<QLabel*>(QStringLiteral("label_empty"))) {
            empty->setText(MapText::text(MapText::NoFile));
            mapFont(empty);
        }
}

void SmartMapping::language_for_paraweld_page6()
{
    label_step1_6->setText(MapText::text(MapText::CuringLabel));
    Button_confirm->setText(MapText::text(MapText::Confirm));
    mapFont(label_step1_6, 13, 11);
    mapFont(Button_confirm);
}

void SmartMapping::language_for_mapping_onoff_page7()
{
    label_step1_7->setText(MapText::text(MapText::MappingLabel));
    mapFont(label_step1_7, 13, 11);
}

// ---- load scan, step 1 ----

void SmartMapping::on_Button_loadscan_clicked()
{
    if (jobRunning())
        return;
    button_select(Button_loadscan);
    ls_step = 0;
    ls_tile_choice = false;
    ls_tile_confirmed = false;
    group = line_type[8].load() >= 8 ? 1 : 0;
    tile_index = 0;
    wlan_init(1);
    showStack(4);
    language_for_loadscan_page4();
    file_list_shown = false;
    scan_step = 0;
}

void SmartMapping::on_Button_wlan5_clicked() { chooseGroup(0, true); }
void SmartMapping::on_Button_wlan6_clicked() { chooseGroup(1, true); }
void SmartMapping::on_Button_wlan7_clicked() { chooseGroup(2, true); }
void SmartMapping::on_Button_wlan8_clicked() { chooseGroup(3, true); }

// ---- load scan, step 2: the file list ----

void SmartMapping::get_file_list_smartpath()
{
    files = scanFolder(kSmartDir, kMaxFiles);
    local_count = files.size();
    total = local_count;
}

void SmartMapping::get_file_list_usbpath()
{
    files += scanFolder(kStickDir, kMaxFiles - local_count);
    total = files.size();
}

void SmartMapping::on_Button_next_5_clicked()
{
    files.clear();
    total = 0;
    get_file_list_smartpath();
    get_file_list_usbpath();
    file_page = 0;
    last_page = total == 0 ? 255 : (total % kPerPage == 0 ? total / kPerPage - 1 : total / kPerPage);
    selection = 0;
    file_list_shown = true;
    ls_step = 1;
    ++scan_step;
    if (traceOn())
        printf("\n scan files: %d local, %d in all, step %d\n", local_count, total, scan_step);
    scan_file_list();
    language_for_loadscan_page5();
}

QStringList SmartMapping::shownFileNames() const
{
    QStringList out;
    for (QLabel* l : file_labels)
        if (l)
            out << l->text();
    return out;
}

void SmartMapping::scan_file_list()
{
    delete frame_file;
    previous = next = nullptr;
    for (QLabel*& l : file_labels)
        l = nullptr;
    frame_file = new QFrame(stackedWidget->widget(5));
    frame_file->setObjectName(QStringLiteral("frame_file"));
    frame_file->setGeometry(5, 53, 222, 95);
    frame_file->setStyleSheet(QStringLiteral("#frame_file{background-color: rgb(33, 36, 53);border:1px solid #FFFFFF;}"));
    if (total == 0) {
        auto* empty = new QLabel(frame_file);
        empty->setObjectName(QStringLiteral("label_empty"));
        empty->setGeometry(5, 5, 200, 40);
        empty->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        empty->setStyleSheet(QStringLiteral("background-color: rgb(33, 36, 53);color: #FFFFFF"));
        empty->setText(MapText::text(MapText::NoFile));
        mapFont(empty);
        g_qzfile_name = QString();
    } else {
        const int count = total >= (file_page + 1) * kPerPage ? kPerPage : total % kPerPage;
        if (selection >= count)
            selection = count - 1;
        for (int j = 0; j < count; ++j) {
            const int k = file_page * kPerPage + j;
            shown_paths[j] = files[k];
            QString name = QFileInfo(files[k]).fileName();
            name.remove(QLatin1Char('\n'));
            auto* l = new QLabel(frame_file);
            l->setObjectName(QStringLiteral("file%1").arg(j));
            l->setGeometry(5, 5 + 25 * j, 190, 20);
            l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            mapFont(l);
            l->setTextFormat(Qt::PlainText); // names come from a stick: never markup
            // A long name is cut with an ellipsis rather than beyond the label's edge.
            l->setText(QFontMetrics(l->font()).elidedText(name, Qt::ElideMiddle, 184));
            l->setProperty("stick", k >= local_count);
            file_labels[j] = l;
            auto* tap = new QPushButton(frame_file);
            tap->setObjectName(QString::number(j));
            tap->setGeometry(5, 5 + 25 * j, 190, 20);
            tap->setFlat(true);
            tap->setFocusPolicy(Qt::NoFocus);
            tap->setStyleSheet(QStringLiteral("background-color: transparent;"));
            connect(tap, &QPushButton::clicked, this, &SmartMapping::vyr_button_file_clicked);
            if (j == selection)
                g_qzfile_name = files[k];
        }
        if (file_page >= 1) {
            previous = new QPushButton(frame_file);
            previous->setObjectName(QStringLiteral("previous"));
            previous->setGeometry(200, 5, 15, 20);
            previous->setIcon(MapPictures::arrow(true));
            previous->setIconSize(QSize(15, 20));
            previous->setFocusPolicy(Qt::NoFocus);
            previous->setStyleSheet(QStringLiteral("background-color: rgb(33, 36, 53);"));
            connect(previous, &QPushButton::clicked, this, &SmartMapping::vyr_Button_previous_clicked);
        }
        if (file_page < last_page) {
            next = new QPushButton(frame_file);
            next->setObjectName(QStringLiteral("next"));
            next->setGeometry(200, 55, 15, 20);
            next->setIcon(MapPictures::arrow(false));
            next->setIconSize(QSize(15, 20));
            next->setFocusPolicy(Qt::NoFocus);
            next->setStyleSheet(QStringLiteral("background-color: rgb(33, 36, 53);"));
            connect(next, &QPushButton::clicked, this, &SmartMapping::vyr_Button_next_clicked);
        }
        file_focus = selection;
        restyleFiles();
    }
    frame_file->show();
    showStack(5);
}

void SmartMapping::restyleFiles()
{
    for (int j = 0; j < kPerPage; ++j) {
        QLabel* l = file_labels[j];
        if (!l)
            continue;
        const bool stick = l->property("stick").toBool();
        if (!in_row && j == file_focus)
            l->setStyleSheet(stick ? style_stick_focused : style_file_focused);
        else if (in_row && j == selection)
            l->setStyleSheet(stick ? style_stick_chosen : style_file_chosen);
        else
            l->setStyleSheet(stick ? style_stick : style_file);
    }
}

void SmartMapping::vyr_Button_previous_clicked()
{
    if (jobRunning() || file_page <= 0)
        return;
    --file_page;
    scan_file_list();
}

void SmartMapping::vyr_Button_next_clicked()
{
    if (jobRunning())
        return;
    file_page = file_page + 1 > last_page ? 0 : file_page + 1;
    scan_file_list();
}

void SmartMapping::vyr_button_file_clicked()
{
    if (jobRunning() || !sender())
        return;
    bool ok = false;
    const int j = sender()->objectName().toInt(&ok);
    if (!ok || j < 0 || j >= kPerPage || !file_labels[j])
        return;
    selection = j;
    file_focus = j;
    g_qzfile_name = shown_paths[j];
    if (traceOn())
        printf("\n chosen scan file %s\n", qPrintable(shown_paths[j]));
    in_row = true;
    restyleFiles();
}

void SmartMapping::on_Button_front_6_clicked()
{
    if (jobRunning())
        return;
    ls_step = 0;
    in_row = false;
    showStack(4);
    language_for_loadscan_page4();
}

void SmartMapping::on_Button_load_clicked()
{
    const QString chosen = g_qzfile_name.get();
    // Only a path this page listed itself goes to the worker.
    if (chosen.isEmpty() || jobRunning() || !files.contains(chosen))
        return;
    postJob(2);
}

// ---- curing and the mapping switch ----

void SmartMapping::on_Button_paraweld_clicked()
{
    if (jobRunning())
        return;
    button_select(Button_paraweld);
    showStack(6);
    language_for_paraweld_page6();
    file_list_shown = false;
    scan_step = 0;
}

void SmartMapping::on_Button_confirm_clicked()
{
    postJob(3);
}

void SmartMapping::readMapping()
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (fpga) {
        fpga->read_from_register(FpgaReg::ScreenControl, 0);
        mapping_on_icon = (fpga->reg_cached(0, FpgaReg::ScreenControl) & 0x80) != 0;
    }
    Button_mapping_state->setIcon(MapPictures::onOff(mapping_on_icon));
    Button_mapping_state->setIconSize(QSize(40, 20));
}

void SmartMapping::on_Button_mapping_clicked()
{
    if (jobRunning())
        return;
    button_select(Button_mapping);
    readMapping();
    showStack(7);
    language_for_mapping_onoff_page7();
    file_list_shown = false;
    scan_step = 0;
}

void SmartMapping::on_Button_mapping_state_clicked()
{
    if (jobRunning())
        return;
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (!fpga) {
        showNote(Note::NoFpga);
        return;
    }
    if (JobBlock::slotTaken()) {
        showNote(Note::Busy);
        return;
    }
    fpga->read_from_register(FpgaReg::ScreenControl, 0);
    const bool on = (fpga->reg_cached(0, FpgaReg::ScreenControl) & 0x80) == 0;
    fpga->write_to_register(FpgaReg::ScreenControl, 0x80, on ? 0x80 : 0, 0);
    mapping_on_icon = on;
    Button_mapping_state->setIcon(MapPictures::onOff(on));
    JobBlock::set32(JobBlock::Mapping, on ? 9 : 0);
    postJob(4);
}

// ---- keys of load scan ----

void SmartMapping::enterFileStep()
{
    on_Button_next_5_clicked();
    in_row = total == 0;
    row_index = total > 0 ? 1 : 0;
    file_focus = 0;
    Button_front_6->setStyleSheet(total == 0 ? style_button_focused : style_button);
    Button_load->setStyleSheet(style_button);
    focus_item = total == 0 ? Button_front_6 : nullptr;
    restyleFiles();
}

void SmartMapping::loadscanKey(int key)
{
    const bool left = key == PanelKey::Left, right = key == PanelKey::Right;
    if (ls_step == 1) {
        fileKey(key);
        return;
    }
    QPushButton* const items[3] = {Button_wlan5, Button_wlan6, Button_next_5};
    if (ls_tile_choice) {
        if (left || right) {
            moveTile(right);
        } else if (key == PanelKey::OK) {
            saved_port = line_type[8].load();
            ls_tile_choice = false;
            ls_tile_confirmed = true;
            if (group_chosen)
                group_chosen->setStyleSheet(style_button_focused);
        } else if (key == PanelKey::Back) {
            ls_tile_choice = false;
            if (ls_tile_confirmed)
                line_type[8] = saved_port;
            tile_index = 0;
            wlan_init(1);
            if (group_chosen)
                group_chosen->setStyleSheet(style_button_focused);
        }
        return;
    }
    if (left || right) {
        setItem(items[ls_focus], false);
        ls_focus = right ? (ls_focus + 1) % 3 : (ls_focus + 2) % 3;
        if (ls_focus < 2)
            chooseGroup(ls_focus, true);
        setItem(items[ls_focus], true);
    } else if (key == PanelKey::OK) {
        if (ls_focus < 2) {
            saved_port = line_type[8].load();
            tile_index = 0;
            wlan_init(1);
            ls_tile_choice = true;
        } else {
            setItem(Button_next_5, false);
            enterFileStep();
        }
    } else if (key == PanelKey::Back) {
        backToMain();
    }
}

void SmartMapping::fileKey(int key)
{
    const bool left = key == PanelKey::Left, right = key == PanelKey::Right;
    const int count = total == 0 ? 0 : (total >= (file_page + 1) * kPerPage ? kPerPage : total % kPerPage);
    auto rowFocus = [this] {
        Button_front_6->setStyleSheet(row_index == 0 ? style_button_focused : style_button);
        Button_load->setStyleSheet(row_index == 1 ? style_button_focused : style_button);
        focus_item = row_index == 0 ? Button_front_6 : Button_load;
    };
    if (total > 0 && !in_row) {
        if (right) {
            if (file_focus + 1 >= count) {
                file_page = file_page + 1 > last_page ? 0 : file_page + 1;
                selection = 0;
                scan_file_list();
            } else {
                selection = ++file_focus;
                g_qzfile_name = shown_paths[selection];
                restyleFiles();
            }
        } else if (left) {
            if (file_focus > 0) {
                --file_focus;
                restyleFiles();
            } else if (file_page == 0) {
                selection = 0;
                g_qzfile_name = shown_paths[0];
                restyleFiles();
            } else {
                --file_page;
                selection = count - 1; // the count of the page that was left
                scan_file_list();
            }
        } else if (key == PanelKey::OK) {
            if (jobRunning())
                return;
            selection = file_focus;
            g_qzfile_name = shown_paths[selection];
            in_row = true;
            row_index = 1;
            restyleFiles();
            rowFocus();
        } else if (key == PanelKey::Back) {
            if (jobRunning())
                return;
            on_Button_front_6_clicked();
            ls_focus = 2;
            setItem(Button_next_5, true);
        }
        return;
    }
    if (left || right) {
        row_index = 1 - row_index;
        rowFocus();
    } else if (key == PanelKey::OK) {
        if (row_index == 0) {
            if (jobRunning())
                return;
            Button_front_6->setStyleSheet(style_button);
            on_Button_front_6_clicked();
            ls_focus = 2;
            setItem(Button_next_5, true);
        } else {
            on_Button_load_clicked();
            Button_load->setStyleSheet(style_button);
            if (total > 0) {
                in_row = false;
                file_focus = selection;
                focus_item = nullptr;
                restyleFiles();
            } else {
                rowFocus();
            }
        }
    } else if (key == PanelKey::Back) {
        if (total > 0) {
            Button_front_6->setStyleSheet(style_button);
            Button_load->setStyleSheet(style_button);
            in_row = false;
            file_focus = selection;
            focus_item = nullptr;
            restyleFiles();
        } else if (!jobRunning()) {
            Button_front_6->setStyleSheet(style_button);
            on_Button_front_6_clicked();
            ls_focus = 2;
            setItem(Button_next_5, true);
        }
    }
}
