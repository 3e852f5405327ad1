#include "ui/machinestate.h"

#include "base/global.h"
#include "fpga/fpga_manage.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "ui/option.h"
#include "ui/pagenav.h"
#include "ui/pictures.h"

#include <QFrame>
#include <QLabel>
#include <QPixmap>

QPointer<MachineState> g_machinestate;

const char MachineState::kProgramVersion[] = "V11.02.01 2024-10-20";

namespace {

QLabel* label(QWidget* parent, const char* name, QRect r, int px)
{
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(r);
    QFont f = l->font();
    f.setPixelSize(px);
    l->setFont(f);
    l->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
    return l;
}

QPixmap picture(const QString& path, QSize size)
{
    return QPixmap(path).scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

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
    label_state1 = label(frame, "label_state1", QRect(5, 20, 15, 65), 10);
    label_state1->setPixmap(picture(QStringLiteral(":/png/output_state.png"), QSize(15, 65)));
    label_state2 = label(frame, "label_state2", QRect(5, 88, 15, 55), 10);
    label_state2->setPixmap(picture(QStringLiteral(":/png/input_state.png"), QSize(15, 55)));
    auto* inputs = new QFrame(frame);
    inputs->setObjectName(QStringLiteral("frame_3"));
    inputs->setGeometry(20, 85, 288, 60);
    inputs->setStyleSheet(QStringLiteral("background-color: rgb(33, 36, 53);"));
    static const char* const kNames[6] = {"EXT", "DVI", "HDMI1", "HDMI2", "HDMI3", "HDMI4"};
    static const int kX[6] = {5, 50, 95, 145, 195, 240};
    for (int s = 0; s < 6; ++s) {
        source_name[s] = label(inputs, qPrintable(QStringLiteral("sourceid%1name").arg(s)), QRect(kX[s], 8, 45, 16), 10);
        source_name[s]->setAlignment(Qt::AlignCenter);
        source_name[s]->setText(QLatin1String(kNames[s]));
        source_pixmap[s] = label(inputs, qPrintable(QStringLiteral("sourceid%1pixmap").arg(s)), QRect(kX[s] + 2, 30, 35, 15), 10);
    }
    label_state3 = label(frame, "label_state3", QRect(5, 150, 15, 40), 10);
    auto* versions = new QFrame(frame);
    versions->setObjectName(QStringLiteral("frame_4"));
    versions->setGeometry(20, 150, 288, 48);
    versions->setStyleSheet(QStringLiteral("background-color: rgb(33, 36, 53);"));
    label_MCU = label(versions, "label_MCU", QRect(3, 6, 282, 16), 11);
    label_FPGA1 = label(versions, "label_FPGA1", QRect(3, 26, 282, 16), 11);
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
    const int column = languageColumn(g_language.load());
    const QString caption = column == 0 || column == 4 ? QStringLiteral(":/png/version_state.png")
                                                       : QStringLiteral(":/png/en_version_state.png");
    label_state3->setPixmap(picture(caption, QSize(15, 40)));
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
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    for (int s = 0; s < 6; ++s) {
        const uint32_t at = blk::kInputResolution + 6 * uint32_t(s);
        const bool online = store && store->u16(at) != 0 && store->u16(at + 2) != 0 && store->u16(at + 4) != 0;
        source_online[s] = online;
        source_pixmap[s]->setPixmap(
            picture(online ? QStringLiteral(":/png/online.png") : QStringLiteral(":/png/offline.png"), QSize(35, 15)));
    }
}

void MachineState::initWlan()
{
    delete port_panel;
    port_panel = new QFrame(frame);
    port_panel->setObjectName(QStringLiteral("port_panel"));
    port_panel->setGeometry(20, 20, 288, 65);
    port_panel->setStyleSheet(QStringLiteral("background-color: rgb(33, 36, 53);"));
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    port_links = fpga ? uint16_t(fpga->get_wlan_state()) : 0;
    for (int n = 0; n < 16; ++n) {
        const int x = 2 + 18 * n;
        auto* number = label(port_panel, qPrintable(QStringLiteral("port%1").arg(n + 1)), QRect(x, 13, 18, 14), 10);
        number->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
        number->setText(QString::number(n + 1));
        auto* state = label(port_panel, qPrintable(QStringLiteral("port%1state").arg(n + 1)), QRect(x, 29, 16, 14), 10);
        state->setPixmap(picture((port_links >> n) & 1 ? QStringLiteral(":/png/online.png") : QStringLiteral(":/png/offline.png"),
                                 QSize(16, 14)));
    }
    port_panel->show();
}
