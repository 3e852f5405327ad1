#include "ui/pages_settings/netset.h"

#include "base/global.h"
#include "fpga/fpga_manage.h"
#include "ui/pagenav.h"
#include "ui/panelkeys.h"
#include "ui/panelwidgets.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QtDebug>
#include <mutex>

QPointer<netset> g_netset;

namespace {

struct Texts {
    const char* title;
    const char* w;
    const char* h;
};
const Texts kTexts[5] = {
    {"网口输出", "宽", "高"},
    {"Port output", "W", "H"},
    {"Настройка LAN", "Ширина", "Высота"},
    {"Cài đặt cổng MẠNG", "Rộng", "Cao"},
    {"網口輸出", "寬", "高"},
};

const char kOnline[] = ":/png/online_up.png";
const char kOffline[] = ":/png/offline_up.png";
const char kUnknown[] = "-"; // FPGA 0 is down: its image holds nothing to trust

using PanelWidgets::pixels;

QLabel* label(QWidget* parent, const char* name, const QRect& r, int px)
{
    return PanelWidgets::label(parent, QLatin1String(name), r, px, QStringLiteral("background-color:transparent;border:0px;"));
}

QLineEdit* value(QWidget* parent, const char* name, const QRect& r)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    e->setGeometry(r);
    e->setFont(pixels(e, 13));
    e->setFocusPolicy(Qt::NoFocus);
    e->setReadOnly(true);
    e->setAlignment(Qt::AlignCenter);
    e->setStyleSheet(QStringLiteral("color:rgb(255,255,255);background-color:rgb(33, 36, 53);border:1px solid rgb(255,255,255);"));
    return e;
}

QLabel* picture(QWidget* parent, const char* name, const QRect& r)
{
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(r);
    l->setScaledContents(true);
    l->setStyleSheet(QStringLiteral("background-color:transparent;border:0px;padding:0px;"));
    return l;
}

}

QString netset::portName(int number, int language)
{
    if (language == 0)
        return QStringLiteral("网口LED%1").arg(number);
    if (language == 4)
        return QStringLiteral("網口LED%1").arg(number);
    return QStringLiteral("LED%1").arg(number);
}

netset::netset(QWidget* parent)
    : VyrPage(14, "nsetset", UiText::TitleNetset, parent),
      cell_normal(QStringLiteral("background-color:transparent; border:1px solid rgb(255, 255, 255);border-radius:1px;padding:2px 4px")),
      cell_selected(QStringLiteral("background-color:transparent; border:0px solid rgb(255, 255, 255);border-radius:1px;padding:2px 4px"))
{
    setObjectName(QStringLiteral("netset")); // the key lines name it "nsetset"
    ui_select = 0;
    // The highlight opens onto the detail frame below it, so it lies over the frame's top edge.
    xywh_frame = new QFrame(this);
    xywh_frame->setObjectName(QStringLiteral("xywh_frame"));
    xywh_frame->setGeometry(8, 80, 304, 120);
    xywh_frame->setStyleSheet(QStringLiteral("#xywh_frame{background-color: rgb(16, 16, 28);border:1px solid rgb(255,171,84);\n"
                                             "border-radius:6px;padding:2px 4px}"));
    x_label = label(xywh_frame, "x_label", QRect(6, 24, 60, 24), 13);
    x_lineEdit = value(xywh_frame, "x_lineEdit", QRect(70, 22, 76, 28));
    y_label = label(xywh_frame, "y_label", QRect(152, 24, 60, 24), 13);
    y_lineEdit = value(xywh_frame, "y_lineEdit", QRect(216, 22, 76, 28));
    w_label = label(xywh_frame, "w_label", QRect(6, 70, 60, 24), 13);
    w_lineEdit = value(xywh_frame, "w_lineEdit", QRect(70, 68, 76, 28));
    h_label = label(xywh_frame, "h_label", QRect(152, 70, 60, 24), 13);
    h_lineEdit = value(xywh_frame, "h_lineEdit", QRect(216, 68, 76, 28));
    for (QLabel* l : {x_label, y_label, w_label, h_label})
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    x_label->setText(QStringLiteral("X"));
    y_label->setText(QStringLiteral("Y"));

    net_frame = new QFrame(this);
    net_frame->setObjectName(QStringLiteral("net_frame"));
    net_frame->setStyleSheet(QStringLiteral("background-color: rgb(16, 16, 28);\nborder-top:1px solid rgb(255,171,84);\n"
                                            "border-left:1px solid rgb(255,171,84);\nborder-right:1px solid rgb(255,171,84);\n"
                                            "border-radius:1px;\npadding:2px 4px"));
    for (int c = 0; c < kColumns; ++c) {
        auto* b = new QPushButton(this);
        b->setObjectName(QStringLiteral("LED%1Button").arg(c + 1));
        b->setGeometry(25 + 68 * c, 44, 56, 32);
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoDefault(false);
        b->setStyleSheet(QStringLiteral("background-color:transparent;\nborder:1px solid rgb(255, 255, 255);"));
        cell[c] = b;
        link_icon[c] = picture(b, qPrintable(QStringLiteral("L%1label").arg(c + 1)), QRect(22, 3, 12, 10));
        port_label[c] = label(b, qPrintable(QStringLiteral("LED%1label").arg(c + 1)), QRect(1, 15, 54, 15), 10);
        port_label[c]->setStyleSheet(QStringLiteral("color:rgb(255,255,255);background-color:transparent;border:0px;padding:0px;"));
        port_label[c]->setAlignment(Qt::AlignCenter);
    }
    l_p = picture(this, "l_p", QRect(4, 48, 14, 24));
    l_p->setPixmap(QPixmap(QStringLiteral(":/png/ltri.png")));
    r_p = picture(this, "r_p", QRect(302, 48, 14, 24));
    r_p->setPixmap(QPixmap(QStringLiteral(":/png/rtri.png")));

    refresh_timer = new QTimer(this);
    refresh_timer->setInterval(kRefreshMs);
    connect(refresh_timer, &QTimer::timeout, this, &netset::refreshPorts);

    initMenu();
    para_init();
    language_changed();
    menulist_init();
}

void netset::initMenu()
{
    wlan_para_get(0);
    initWlan();
}

void netset::menulist_init()
{
    ui_select = 0;
    ui_sel = 0;
    ui_min_select = 0;
    placeHighlight();
}

void netset::placeHighlight()
{
    for (int c = 0; c < kColumns; ++c)
        cell[c]->setStyleSheet(c == ui_sel ? cell_selected : cell_normal);
    focus_widget = cell[ui_sel];
    net_frame->setGeometry(24 + 68 * ui_sel, 40, 58, 41);
    net_frame->raise();
    for (QPushButton* b : cell)
        b->raise();
}

void netset::wlan_para_get(unsigned short port)
{
    const int p = port < kPorts ? port : 0;
    QString shown[4] = {QLatin1String(kUnknown), QLatin1String(kUnknown), QLatin1String(kUnknown), QLatin1String(kUnknown)};
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (fpga && fpga->fpgaUp(0)) {
        uint32_t at[4];
        fpga_manage::get_eth_param_addr(p, &at[0], &at[1], &at[2], &at[3]);
        std::lock_guard<std::mutex> lock(fpga->image_mutex);
        const uint8_t* image = fpga->MCU_RAM_PARA_func[0];
        for (int i = 0; i < 4; ++i)
            if (at[i] + 1 < fpga_manage::kRamSize)
                shown[i] = QString::number(image[at[i]] | image[at[i] + 1] << 8);
    }
    x_lineEdit->setText(shown[0]);
    y_lineEdit->setText(shown[1]);
    w_lineEdit->setText(shown[2]);
    h_lineEdit->setText(shown[3]);
    for (int c = 0; c < kColumns; ++c)
        port_label[c]->setText(portName(ui_min_select + c + 1, g_language.load()));
}

void netset::initWlan()
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    const int links = fpga ? fpga->get_wlan_state() : 0;
    for (int c = 0; c < kColumns; ++c) {
        const int port = ui_min_select + c;
        const QString path = QLatin1String(links & (1 << port) ? kOnline : kOffline);
        if (path == link_picture[c])
            continue;
        link_picture[c] = path;
        link_icon[c]->setPixmap(QPixmap(path));
    }
}

void netset::refreshPorts()
{
    wlan_para_get(ui_select);
    initWlan();
}

void netset::language_changed()
{
    const Texts& t = kTexts[languageColumn(g_language.load())];
    label_title->setText(QString::fromUtf8(t.title));
    w_label->setText(QString::fromUtf8(t.w));
    h_label->setText(QString::fromUtf8(t.h));
    // The names follow the language at once, not only after the next move.
    for (int c = 0; c < kColumns; ++c)
        port_label[c]->setText(portName(ui_min_select + c + 1, g_language.load()));
}

void netset::syncUpdate(int)
{
    if (PageNav::languageChanged())
        language_changed();
    refreshPorts(); // a link report (code 11) among others
}

void netset::showEvent(QShowEvent* event)
{
    VyrPage::showEvent(event);
    refresh_timer->start();
}

void netset::hideEvent(QHideEvent* event)
{
    refresh_timer->stop();
    VyrPage::hideEvent(event);
}

void netset::moveSelection(bool right)
{
    if (right) {
        if (ui_sel < kColumns - 1) {
            ++ui_sel;
            ++ui_select;
        } else {
            if (ui_select < kPorts - 1)
                ++ui_select;
            ui_min_select = uint8_t(ui_select - (kColumns - 1));
        }
    } else {
        if (ui_sel > 0) {
            --ui_sel;
            if (ui_select > 0)
                --ui_select;
        } else {
            if (ui_min_select > 0)
                --ui_min_select;
            if (ui_select > 0)
                --ui_select;
        }
    }
    placeHighlight();
    qDebug("\n ui_min_select=%d,ui_select=%d ui_sel=%d\n", ui_min_select, ui_select, ui_sel);
    wlan_para_get(ui_select);
    initWlan();
}

void netset::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
    switch (event->key()) {
    case PanelKey::Left:
        qDebug("this is left-code [nsetset][Release] ui_select=%#x", ui_select);
        moveSelection(false);
        break;
    case PanelKey::Right:
        qDebug("this is right-code [nsetset][Release] ui_select=%#x", ui_select);
        moveSelection(true);
        break;
    case PanelKey::OK:
        qDebug("this is OK button(nsetset)[Release]\n");
        break;
    default:
        VyrPage::keyReleaseEvent(event); // BACK and MODE
        break;
    }
}
