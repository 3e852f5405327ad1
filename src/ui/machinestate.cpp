#include "ui/machinestate.h"

#include "base/global.h"
#include "fpga/fpga_manage.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "ui/blocksnapshot.h"
#include "ui/option.h"
#include "ui/pagenav.h"
#include "ui/panelwidgets.h"
#include "ui/pictures.h"
#include "ui/sourceinfo.h"

#include <QFrame>
#include <QLabel>
#include <QPixmap>

QPointer<MachineState> g_machinestate;

const char MachineState::kProgramVersion[] = "V11.02.01 2024-10-20";

namespace {

using PanelWidgets::label;

// The three panels (ports, inputs, versions): their top and height inside the frame.
constexpr int kPortsTop = 20, kPortsHeight = 55;
constexpr int kInputsTop = 77, kInputsHeight = 58;
constexpr int kVersionsTop = 137, kVersionsHeight = 62;

QString hex2(int v) { return QStringLiteral("%1").arg(v & 0xFF, 2, 16, QLatin1Char('0')); }

}

MachineState::MachineState(QWidget* parent)
    : VyrPage(2, "MachineState", UiText::TitleMachineState, parent)
{
    initMenuPictures();
    frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame"));
    frame->setGeometry(5, 30, 310, 205);
    frame->setStyleSheet(QStringLiteral("#frame{border:1px solid rgb(133, 129, 153);}"));
    label_2 = label(frame, "label_2", QRect(20, 3, 280, 16), 11);
    // Each panel has a coloured bar on its left that names it in the page's language.
    label_state1 = label(frame, "label_state1", QRect(5, kPortsTop, 15, kPortsHeight), 10);
    label_state2 = label(frame, "label_state2", QRect(5, kInputsTop, 15, kInputsHeight), 10);
    auto* inputs = new QFrame(frame);
    inputs->setObjectName(QStringLiteral("frame_3"));
    inputs->setGeometry(20, kInputsTop, 288, kInputsHeight);
    inputs->setStyleSheet(QStringLiteral("background-color: rgb(33, 36, 53);"));
    static const int kX[6] = {5, 50, 95, 145, 195, 240};
    for (int s = 0; s < 6; ++s) {
        source_name[s] = label(inputs, qPrintable(QStringLiteral("sourceid%1name").arg(s)), QRect(kX[s], 8, 45, 16), 10);
        source_name[s]->setAlignment(Qt::AlignCenter);
        source_name[s]->setTextFormat(Qt::RichText); // the HDMI 2.0 inputs in green
        source_name[s]->setText(sourceinfo::get_source_specialstyle0_by_sourceid(uint8_t(s)).arg(sourceinfo::get_source_name_by_sourceid(uint8_t(s))));
        source_pixmap[s] = label(inputs, qPrintable(QStringLiteral("sourceid%1pixmap").arg(s)), QRect(kX[s] + 2, 28, 40, 20), 10);
    }
    label_state3 = label(frame, "label_state3", QRect(5, kVersionsTop, 15, kVersionsHeight), 10);
    auto* versions = new QFrame(frame);
    versions->setObjectName(QStringLiteral("frame_4"));
    versions->setGeometry(20, kVersionsTop, 288, kVersionsHeight);
    versions->setStyleSheet(QStringLiteral("background-color: rgb(33, 36, 53);"));
    label_MCU = label(versions, "label_MCU", QRect(3, 10, 282, 16), 11);
    label_FPGA1 = label(versions, "label_FPGA1", QRect(3, 34, 282, 16), 11);
    initWlan();
    language_changed();
    version_changed();
    source_check();
    const QString barcode = g_str_barcode.get();
    label_2->setText(barcode != QLatin1String(" ") ? QStringLiteral("SN:") + barcode : QStringLiteral("SN:QZ9999"));
}

void MachineState::language_changed()
{
    VyrPage::language_changed();
    auto bar = [](QLabel* l, const QString& path) {
        l->setPixmap(QPixmap(path).scaled(l->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    };
    bar(label_state1, Pictures::lang("output_state"));
    bar(label_state2, Pictures::lang("input_state"));
    bar(label_state3, Pictures::lang("version_state"));
}

void MachineState::syncUpdate(int code)
{
    if (PageNav::languageChanged())
        language_changed();
    source_check();
    if (code == 11 && fpga_manage::p_fpga_manage)
        initWlan();
}

void MachineState::version_changed()
{
    label_MCU->setText(QStringLiteral("MCU:") + QLatin1String(kProgramVersion));
    uint8_t r28 = 0, r29 = 0, r30 = 0, r31 = 0;
    if (fpga_manage* fpga = fpga_manage::p_fpga_manage) {
        r28 = fpga->reg_cached(0, 28);
        r29 = fpga->reg_cached(0, 29);
        r30 = fpga->reg_cached(0, 30);
        r31 = fpga->reg_cached(0, 31);
    }
    label_FPGA1->setText(QStringLiteral("FPGA:V11.00.%1 %2-%3-%4")
                             .arg(hex2(r28))
                             .arg(0x2000 + r31, 0, 16)
                             .arg(hex2(r30))
                             .arg(hex2(r29)));
}

void MachineState::source_check()
{
    // One moment of the six records: the input drivers and the protocol write them meanwhile.
    const BlockSnapshot b(VyrRamPara::p_vyrrampara_config);
    for (int s = 0; s < 6; ++s) {
        const uint32_t at = blk::inputResolution(uint32_t(s));
        const bool online = b.valid() && b.u16(at) != 0 && b.u16(at + 2) != 0 && b.u16(at + 4) != 0;
        source_online[s] = online;
        PanelWidgets::showPicture(source_pixmap[s], sourceinfo::onlineIconPath(uint8_t(s), online));
    }
}

void MachineState::initWlan()
{
    delete port_panel;
    port_panel = new QFrame(frame);
    port_panel->setObjectName(QStringLiteral("port_panel"));
    port_panel->setGeometry(20, kPortsTop, 288, kPortsHeight);
    port_panel->setStyleSheet(QStringLiteral("background-color: rgb(33, 36, 53);"));
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    port_links = fpga ? uint16_t(fpga->get_wlan_state()) : 0;
    for (int n = 0; n < 16; ++n) {
        const int x = 18 * n; // sixteen columns of 18 fill the panel's 288 pixels
        auto* number = label(port_panel, qPrintable(QStringLiteral("port%1").arg(n + 1)), QRect(x, 8, 18, 14), 10);
        number->setAlignment(Qt::AlignCenter);
        number->setText(QString::number(n + 1));
        // The link pictures of the LED output port view.
        auto* state = label(port_panel, qPrintable(QStringLiteral("port%1state").arg(n + 1)), QRect(x + 1, 27, 16, 14), 10);
        PanelWidgets::showPicture(state, (port_links >> n) & 1 ? QStringLiteral(":/png/online_up.png") : QStringLiteral(":/png/offline_up.png"));
    }
    port_panel->show();
}
