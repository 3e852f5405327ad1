// The quick screen set-up wizard of the smart mapping page: cabinet size, port, rows, columns,
// wiring and offsets, then job 1; and the port tiles the scan-file load uses too.
#include "tools/smartmapping.h"
#include "tools/smartmapping_texts.h"

#include "base/global.h"
#include "fpga/fpga_jobs_block.h"
#include "fpga/fpga_manage.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "ui/numberkeyboard.h"
#include "ui/panelkeys.h"
#include "ui/qroundprogressbar.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QtDebug>
#include <algorithm>
#include <cstdio>

namespace {
QWidget* page(QStackedWidget* s, int i) { return s->widget(i); }

uint16_t lineU16(int at) { return uint16_t(line_type[at].load() | line_type[at + 1].load() << 8); }
void setLineU16(int at, uint16_t v)
{
    line_type[at] = uint8_t(v);
    line_type[at + 1] = uint8_t(v >> 8);
}
// A decimal text as the field keeps it; false when it is not a number within [min, max].
bool number(const QLineEdit* e, uint32_t min, uint32_t max, uint32_t* out)
{
    bool ok = false;
    const uint32_t v = e->text().trimmed().toUInt(&ok);
    if (!ok || v < min || v > max)
        return false;
    *out = v;
    return true;
}
}

void SmartMapping::buildShortcutPages()
{
    QWidget* p0 = page(stackedWidget, 0);
    label_step1 = mapLabel(p0, "label_step1", QRect(5, 4, 222, 22));
    label_boxwidth = mapLabel(p0, "label_boxwidth", QRect(5, 40, 120, 26));
    label_boxheight = mapLabel(p0, "label_boxheight", QRect(5, 78, 120, 26));
    lineEdit_X = mapEdit(p0, "lineEdit_X", QRect(130, 41, 90, 24), "128");
    lineEdit_Y = mapEdit(p0, "lineEdit_Y", QRect(130, 79, 90, 24), "96");
    Button_next = mapButton(p0, "Button_next", QRect(120, 150, 105, 30));
    connect(Button_next, &QPushButton::clicked, this, &SmartMapping::on_Button_next_clicked);

    QWidget* p1 = page(stackedWidget, 1);
    label_step2 = mapLabel(p1, "label_step2", QRect(5, 4, 222, 24));
    Button_wlan1 = mapButton(p1, "Button_wlan1", QRect(10, 32, 60, 20));
    Button_wlan2 = mapButton(p1, "Button_wlan2", QRect(75, 32, 60, 20));
    Button_wlan3 = mapButton(p1, "Button_wlan3", QRect(140, 32, 40, 20));
    Button_wlan4 = mapButton(p1, "Button_wlan4", QRect(185, 32, 40, 20));
    line_2 = new QFrame(p1);
    line_2->setObjectName(QStringLiteral("line_2"));
    line_2->setGeometry(5, 55, 222, 1);
    line_2->setStyleSheet(QStringLiteral("background-color: rgb(133, 129, 153);"));
    Button_front_2 = mapButton(p1, "Button_front_2", QRect(8, 152, 105, 30));
    Button_next_2 = mapButton(p1, "Button_next_2", QRect(120, 152, 105, 30));
    connect(Button_wlan1, &QPushButton::clicked, this, &SmartMapping::on_Button_wlan1_clicked);
    connect(Button_wlan2, &QPushButton::clicked, this, &SmartMapping::on_Button_wlan2_clicked);
    connect(Button_wlan3, &QPushButton::clicked, this, &SmartMapping::on_Button_wlan3_clicked);
    connect(Button_wlan4, &QPushButton::clicked, this, &SmartMapping::on_Button_wlan4_clicked);
    connect(Button_front_2, &QPushButton::clicked, this, &SmartMapping::on_Button_front_2_clicked);
    connect(Button_next_2, &QPushButton::clicked, this, &SmartMapping::on_Button_next_2_clicked);

    QWidget* p2 = page(stackedWidget, 2);
    label_step3 = mapLabel(p2, "label_step3", QRect(5, 1, 222, 20));
    label_boxline = mapLabel(p2, "label_boxline", QRect(5, 22, 126, 26));
    label_boxlcolumn = mapLabel(p2, "label_boxlcolumn", QRect(5, 48, 126, 26));
    label_routeway = mapLabel(p2, "label_routeway", QRect(5, 74, 126, 28));
    label_horizon = mapLabel(p2, "label_horizon", QRect(5, 102, 126, 27));
    label_vert = mapLabel(p2, "label_vert", QRect(5, 129, 126, 27));
    lineEdit_line = mapEdit(p2, "lineEdit_line", QRect(135, 24, 60, 22), "0");
    lineEdit_column = mapEdit(p2, "lineEdit_column", QRect(135, 50, 60, 22), "0");
    Button_route = mapButton(p2, "Button_route", QRect(133, 76, 97, 25));
    lineEdit_horzion = mapEdit(p2, "lineEdit_horzion", QRect(135, 104, 60, 22), "0");
    lineEdit_vert = mapEdit(p2, "lineEdit_vert", QRect(135, 131, 60, 22), "0");
    Button_front_3 = mapButton(p2, "Button_front_3", QRect(8, 156, 105, 29));
    Button_send = mapButton(p2, "Button_send", QRect(120, 156, 105, 29));
    connect(Button_route, &QPushButton::clicked, this, &SmartMapping::on_Button_route_clicked);
    connect(Button_front_3, &QPushButton::clicked, this, &SmartMapping::on_Button_front_3_clicked);
    connect(Button_send, &QPushButton::clicked, this, &SmartMapping::on_Button_send_clicked);

    QWidget* p3 = page(stackedWidget, 3);
    for (int i = 0; i < 16; ++i) {
        auto* t = new QToolButton(p3);
        t->setObjectName(QStringLiteral("Button_route%1").arg(i + 1));
        t->setGeometry(1 + 57 * (i % 4), 1 + 41 * (i / 4), 56, 40);
        t->setFocusPolicy(Qt::NoFocus);
        t->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        t->setStyleSheet(style_edit);
        Button_routes[i] = t;
        connect(t, &QToolButton::clicked, this, [this, i] {
            line_select(char(i + 1));
            picker_open = false;
            sc_step = 2;
            showStack(2);
            language_for_shortcutt_page2();
        });
    }
    Button_cancel = mapButton(p3, "Button_cancel", QRect(150, 166, 78, 19));
    connect(Button_cancel, &QPushButton::clicked, this, &SmartMapping::on_Button_cancel_clicked);
}

// ---- texts ----

void SmartMapping::language_for_shortcutt_page0()
{
    label_step1->setText(MapText::text(MapText::Step1));
    label_boxwidth->setText(MapText::text(MapText::BoxWidth));
    label_boxheight->setText(MapText::text(MapText::BoxHeight));
    Button_next->setText(MapText::text(MapText::Next));
    for (QWidget* w : std::initializer_list<QWidget*>{label_step1, label_boxwidth, label_boxheight, lineEdit_X, lineEdit_Y, Button_next})
        mapFont(w);
}

void SmartMapping::language_for_shortcutt_page1()
{
    label_step2->setText(MapText::text(MapText::Step2));
    Button_front_2->setText(MapText::text(MapText::Previous));
    Button_next_2->setText(MapText::text(MapText::Next));
    const QString g = MapText::text(MapText::Group);
    Button_wlan1->setText(g.arg(1).arg(8));
    Button_wlan2->setText(g.arg(9).arg(16));
    Button_wlan3->setText(g.arg(17).arg(24));
    Button_wlan4->setText(g.arg(25).arg(32));
    for (QWidget* w : std::initializer_list<QWidget*>{label_step2, Button_front_2, Button_next_2, Button_wlan1, Button_wlan2,
                                                      Button_wlan3, Button_wlan4})
        mapFont(w);
}

void SmartMapping::language_for_shortcutt_page2()
{
    label_step3->setText(MapText::text(MapText::Step3));
    label_boxline->setText(MapText::text(MapText::Rows));
    label_boxlcolumn->setText(MapText::text(MapText::Columns));
    label_routeway->setText(MapText::text(MapText::RouteWay));
    label_horizon->setText(MapText::text(MapText::Horizontal));
    label_vert->setText(MapText::text(MapText::Vertical));
    Button_send->setText(MapText::text(MapText::Send));
    Button_front_3->setText(MapText::text(MapText::Previous));
    for (QWidget* w : std::initializer_list<QWidget*>{label_step3, label_boxline, label_boxlcolumn, label_routeway, label_horizon,
                                                      label_vert, Button_send, Button_front_3, lineEdit_line, lineEdit_column,
                                                      lineEdit_horzion, lineEdit_vert})
        mapFont(w);
    line_select(char(line_type[11].load()));
}

void SmartMapping::language_for_shortcutt_page3()
{
    for (int i = 0; i < 16; ++i) {
        QToolButton* t = Button_routes[i];
        t->setIcon(MapPictures::routing(i + 1));
        t->setIconSize(QSize(40, 22));
        t->setText(routingText(i + 1));
        mapFont(t);
        QFont narrow = t->font(); // four to a row: "Routing 16" needs the narrow cut
        narrow.setStretch(QFont::Condensed);
        t->setFont(narrow);
    }
    Button_cancel->setText(MapText::text(MapText::Cancel));
    mapFont(Button_cancel);
}

QString SmartMapping::routingText(int mode) const
{
    return MapText::text(MapText::Routing).arg(mode);
}

// ---- slots ----

void SmartMapping::on_Button_shortcut_clicked()
{
    if (jobRunning())
        return;
    button_select(Button_shortcut);
    sc_step = 0;
    picker_open = false;
    sc_tile_choice = false;
    showStack(0);
    file_list_shown = false;
    scan_step = 0;
    language_for_shortcutt_page0();
}

void SmartMapping::on_Button_next_clicked()
{
    uint32_t w = 0, h = 0;
    if (!number(lineEdit_X, 1, 0xFFFF, &w) || !number(lineEdit_Y, 1, 0xFFFF, &h)) {
        showNote(Note::BadSize);
        return;
    }
    clearNote();
    setLineU16(0, uint16_t(w));
    setLineU16(2, uint16_t(h));
    chooseGroup(0, false);
    sc_step = 1;
    language_for_shortcutt_page1();
    showStack(1);
}

void SmartMapping::chooseGroup(int g, bool loadScan)
{
    QPushButton* const buttons[2][4] = {{Button_wlan1, Button_wlan2, Button_wlan3, Button_wlan4},
                                        {Button_wlan5, Button_wlan6, Button_wlan7, Button_wlan8}};
    if (g < 0 || g > 3)
        return;
    if (group_chosen)
        group_chosen->setStyleSheet(style_button);
    group_chosen = buttons[loadScan ? 1 : 0][g];
    group_chosen->setStyleSheet(style_group_chosen);
    group = g;
    tile_index = 0;
    wlan_init(loadScan ? 1 : 0);
}

void SmartMapping::on_Button_wlan1_clicked() { chooseGroup(0, false); }
void SmartMapping::on_Button_wlan2_clicked() { chooseGroup(1, false); }
void SmartMapping::on_Button_wlan3_clicked() { chooseGroup(2, false); }
void SmartMapping::on_Button_wlan4_clicked() { chooseGroup(3, false); }

void SmartMapping::wlan_init(unsigned char mode, unsigned char)
{
    delete tile_box;
    for (QFrame*& t : tiles)
        t = nullptr;
    QWidget* host = page(stackedWidget, mode == 0 ? 1 : 4);
    tile_box = new QFrame(host);
    tile_box->setObjectName(QStringLiteral("frame_wlan"));
    tile_box->setGeometry(0, 59, 231, 88);
    // The plug shows each port's link as the worker last reported it.
    const fpga_manage* fpga = fpga_manage::p_fpga_manage;
    const uint16_t links = fpga ? fpga->wlan_state_word.load() : 0;
    const QIcon online = MapPictures::tile(true), offline = MapPictures::tile(false);
    const int port = line_type[8].load();
    for (int i = 0; i < 8; ++i) {
        const int c = i % 4, r = i / 4;
        auto* f = new QFrame(tile_box);
        f->setObjectName(QStringLiteral("tile%1").arg(i));
        f->setGeometry(10 + 55 * c, 2 + 45 * r, 50, 40);
        f->setStyleSheet(group * 8 + i == port ? QStringLiteral("background-color: #212435;border:1px solid #00D65B;")
                                               : QStringLiteral("background-color: #212435;border:1px solid #FFFFFF;"));
        tiles[i] = f;
        const int n = group * 8 + i;
        const bool up = n < 16 && (links >> n & 1) != 0;
        auto* picture = new QLabel(tile_box);
        picture->setObjectName(QStringLiteral("tile_link%1").arg(i));
        picture->setProperty("online", up);
        picture->setGeometry(25 + 55 * c, 5 + 45 * r, 22, 15);
        picture->setPixmap((up ? online : offline).pixmap(22, 15));
        picture->setStyleSheet(QStringLiteral("background-color: #212435;"));
        auto* name = new QLabel(tile_box);
        name->setObjectName(QStringLiteral("tile_label%1").arg(i));
        name->setGeometry(14 + 55 * c, 20 + 45 * r, 42, 19);
        name->setAlignment(Qt::AlignCenter);
        name->setStyleSheet(QStringLiteral("background-color: #212435;color: #FFFFFF"));
        name->setText(QStringLiteral("LED%1").arg(group * 8 + i + 1));
        QFont font = name->font();
        font.setPixelSize(10);
        name->setFont(font);
        auto* tap = new QPushButton(tile_box);
        tap->setObjectName(QString::number(i));
        tap->setGeometry(11 + 55 * c, 3 + 45 * r, 48, 38);
        tap->setFlat(true);
        tap->setFocusPolicy(Qt::NoFocus);
        tap->setStyleSheet(QStringLiteral("background-color: transparent;"));
        connect(tap, &QPushButton::clicked, this, &SmartMapping::vyr_button_wlan_clicked);
    }
    tile_box->show();
}

QFrame* SmartMapping::tileFrame(int i) const
{
    return i >= 0 && i < 8 ? tiles[i] : nullptr;
}

void SmartMapping::vyr_button_wlan_clicked()
{
    bool ok = false;
    const int i = sender() ? sender()->objectName().toInt(&ok) : -1;
    if (!ok || i < 0 || i > 7)
        return;
    tile_index = i;
    const int port = group * 8 + i;
    saved_port = uint8_t(port);
    line_type[8] = uint8_t(port);
    // One green tile: the port's.
    for (int k = 0; k < 8; ++k)
        if (tiles[k])
            tiles[k]->setStyleSheet(k == i ? QStringLiteral("background-color: #212435;border:1px solid #00D65B;")
                                           : QStringLiteral("background-color: #212435;border:1px solid #FFFFFF;"));
}

void SmartMapping::moveTile(bool right)
{
    tile_index = right ? (tile_index + 1) % 8 : (tile_index + 7) % 8;
    line_type[8] = uint8_t(group * 8 + tile_index);
    wlan_init(main_index == 1 ? 1 : 0);
}

void SmartMapping::on_Button_front_2_clicked()
{
    sc_step = 0;
    showStack(0);
    language_for_shortcutt_page0();
}

void SmartMapping::on_Button_next_2_clicked()
{
    sc_step = 2;
    showStack(2);
    language_for_shortcutt_page2();
}

void SmartMapping::on_Button_front_3_clicked()
{
    if (jobRunning())
        return;
    sc_step = 1;
    showStack(1);
    language_for_shortcutt_page1();
}

void SmartMapping::on_Button_route_clicked()
{
    picker_open = true;
    showStack(3);
    language_for_shortcutt_page3();
}

void SmartMapping::on_Button_cancel_clicked()
{
    picker_open = false;
    sc_step = 2;
    showStack(2);
    language_for_shortcutt_page2();
}

void SmartMapping::line_select(char mode)
{
    const int n = uint8_t(mode);
    if (n < 1 || n > 16)
        return;
    Button_route->setIcon(MapPictures::routing(n));
    Button_route->setIconSize(QSize(30, 20));
    Button_route->setText(routingText(n));
    mapFont(Button_route);
    line_type[11] = uint8_t(n);
}

// Send: the wall must fit the port's cards and the screen, or nothing is sent.
void SmartMapping::on_Button_send_clicked()
{
    if (jobRunning())
        return;
    uint32_t rows = 0, columns = 0, dx = 0, dy = 0;
    if (lineU16(0) == 0 || lineU16(2) == 0) {
        showNote(Note::BadSize);
        return;
    }
    if (!number(lineEdit_line, 1, 255, &rows) || !number(lineEdit_column, 1, 255, &columns)) {
        showNote(Note::BadGrid);
        return;
    }
    const int port = line_type[8].load();
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    const uint32_t cards = fpga && port < fpga_manage::kPorts ? fpga->get_port_card_num(port) : 0;
    if (fpga && cards == 0) {
        showNote(Note::NoCards);
        return;
    }
    if (fpga && rows * columns > cards) {
        showNote(Note::TooMany, int(cards));
        return;
    }
    if (fpga && cards > rows * columns) {
        // Every card past the last cell would take that cell's place.
        showNote(Note::MoreCards, int(cards), int(rows * columns));
        return;
    }
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    const uint32_t ledW = store ? store->u16(blk::kLedWidth) : 0xFFFF;
    const uint32_t ledH = store ? store->u16(blk::kLedHeight) : 0xFFFF;
    if (!number(lineEdit_horzion, 0, 0xFFFF, &dx) || !number(lineEdit_vert, 0, 0xFFFF, &dy) || dx >= ledW || dy >= ledH) {
        showNote(Note::BadOffset);
        return;
    }
    line_type[9] = uint8_t(rows);
    line_type[10] = uint8_t(columns);
    setLineU16(4, uint16_t(dx));
    setLineU16(6, uint16_t(dy));
    if (postJob(1) && traceOn())
        printf("\n set the route_way = %d \n", line_type[11].load());
}

void SmartMapping::show_numberkeyboard_ui(QString)
{
    auto* field = qobject_cast<QLineEdit*>(sender());
    if (!field)
        return;
    struct Range {
        QLineEdit* field;
        MapText::Id title;
        int min, max;
    };
    const Range ranges[] = {
        {lineEdit_X, MapText::KeyWidth, 1, 0xFFFF},        {lineEdit_Y, MapText::KeyHeight, 1, 0xFFFF},
        {lineEdit_line, MapText::KeyRows, 1, 255},         {lineEdit_column, MapText::KeyColumns, 1, 255},
        {lineEdit_horzion, MapText::KeyHorizontal, 0, 0xFFFF}, {lineEdit_vert, MapText::KeyVertical, 0, 0xFFFF},
    };
    for (const Range& r : ranges)
        if (r.field == field) {
            g_lineedit = field;
            if (askNumber)
                askNumber(field, MapText::text(r.title), r.min, r.max);
            return;
        }
}

// ---- keys of the wizard ----

namespace {
std::vector<QWidget*> stepItems(SmartMapping* m, int step)
{
    if (step == 0)
        return {m->lineEdit_X, m->lineEdit_Y, m->Button_next};
    if (step == 1)
        return {m->Button_wlan1, m->Button_wlan2, m->Button_front_2, m->Button_next_2};
    return {m->lineEdit_line, m->lineEdit_column, m->Button_route, m->lineEdit_horzion, m->lineEdit_vert, m->Button_front_3,
            m->Button_send};
}
}

// Shows a step of the wizard with the focus on one of its items, the others normal.
void SmartMapping::focusShortcut(int step, int index)
{
    sc_step = step;
    picker_open = false;
    sc_tile_choice = false;
    showStack(step);
    if (step == 0)
        language_for_shortcutt_page0();
    else if (step == 1)
        language_for_shortcutt_page1();
    else
        language_for_shortcutt_page2();
    if (step == 1 && index < 2)
        chooseGroup(index, false);
    const std::vector<QWidget*> items = stepItems(this, step);
    for (QWidget* w : items)
        setItem(w, false);
    sc_focus[step] = index;
    setItem(items[size_t(index)], true, step == 1);
}

void SmartMapping::shortcutKey(int key)
{
    const bool left = key == PanelKey::Left, right = key == PanelKey::Right;
    if (picker_open) {
        auto item = [this](int i) -> QWidget* { return i < 16 ? static_cast<QWidget*>(Button_routes[i]) : Button_cancel; };
        if (left || right) {
            item(picker_focus)->setStyleSheet(style_edit);
            picker_focus = right ? (picker_focus + 1) % 17 : (picker_focus + 16) % 17;
            item(picker_focus)->setStyleSheet(style_edit_focused);
        } else if (key == PanelKey::OK && picker_focus < 16) {
            line_select(char(picker_focus + 1));
            focusShortcut(2, 2);
        } else { // OK on cancel, or BACK: no change
            focusShortcut(2, 2);
        }
        return;
    }
    const std::vector<QWidget*> items = stepItems(this, sc_step);
    int& at = sc_focus[sc_step];
    if (sc_step == 1 && sc_tile_choice) {
        qDebug("this is shortcut_page2 net sel %s-code [smartmapping][Release],%#x\n", left ? "left" : "right", tile_index);
        if (left || right) {
            moveTile(right);
        } else if (key == PanelKey::OK) {
            saved_port = line_type[8].load();
            sc_tile_choice = false;
            if (group_chosen)
                group_chosen->setStyleSheet(style_button_focused);
        } else if (key == PanelKey::Back) {
            sc_tile_choice = false;
            line_type[8] = saved_port;
            tile_index = 0;
            wlan_init(0);
            if (group_chosen)
                group_chosen->setStyleSheet(style_button_focused);
        }
        return;
    }
    if (left || right) {
        qDebug("this is shortcut_page%d %s-code [smartmapping][Release],%#x\n", sc_step + 1, right ? "right" : "left", at);
        setItem(items[size_t(at)], false);
        const int n = int(items.size());
        at = right ? (at + 1) % n : (at + n - 1) % n;
        if (sc_step == 1 && at < 2)
            chooseGroup(at, false);
        setItem(items[size_t(at)], true, sc_step == 1);
        return;
    }
    if (key == PanelKey::OK) {
        qDebug("this is shortcut_page1 ok [smartmapping][Release],%#x,%#x\n", sc_focus[0], sc_step);
        QWidget* w = items[size_t(at)];
        if (auto* e = qobject_cast<My_lineEdit*>(w)) {
            emit e->send_show(e->text());
        } else if (w == Button_next) {
            on_Button_next_clicked();
            if (sc_step == 1)
                focusShortcut(1, 0);
        } else if (w == Button_wlan1 || w == Button_wlan2) {
            saved_port = line_type[8].load();
            line_type[8] = uint8_t(group * 8);
            tile_index = 0;
            wlan_init(0);
            if (group_chosen)
                group_chosen->setStyleSheet(style_group_chosen);
            sc_tile_choice = true;
        } else if (w == Button_front_2) {
            focusShortcut(0, 0);
        } else if (w == Button_next_2) {
            focusShortcut(2, 0);
        } else if (w == Button_route) {
            setItem(Button_route, false);
            on_Button_route_clicked();
            picker_focus = std::max(1, int(line_type[11].load())) - 1;
            if (picker_focus > 15)
                picker_focus = 0;
            for (int i = 0; i < 16; ++i)
                Button_routes[i]->setStyleSheet(i == picker_focus ? style_edit_focused : style_edit);
            Button_cancel->setStyleSheet(style_edit);
        } else if (w == Button_front_3) {
            if (!jobRunning())
                focusShortcut(1, 0);
        } else if (w == Button_send) {
            on_Button_send_clicked();
        }
        return;
    }
    if (key == PanelKey::Back) {
        if (sc_step == 0) {
            backToMain();
        } else if (sc_step == 1) {
            focusShortcut(0, 0);
        } else if (!jobRunning()) {
            qDebug("this is back page3 to page2");
            focusShortcut(1, 0);
        }
    }
}
