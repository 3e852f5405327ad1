#include "ui/pages_picture/inputchoose.h"

#include "base/global.h"
#include "params/alias_names.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "ui/blocksnapshot.h"
#include "ui/inputtexts.h"
#include "ui/pagenav.h"
#include "ui/pages_picture/edidset.h"
#include "ui/pages_picture/inputcut.h"
#include "ui/panelkeys.h"
#include "ui/panelwidgets.h"
#include "ui/sourceinfo.h"
#include "ui/tip.h"

#include <QFontMetrics>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QtDebug>
#include <cstdio>

QPointer<InputChoose> g_inputchoose;

namespace {
constexpr uint8_t kButtonInputCut = 6;
constexpr uint8_t kButtonEdid = 7;
const QColor kBoxColour[6] = {QColor(0x867AE9), QColor(0x005A8D), QColor(0x39A9CB),
                               QColor(0xEBA83A), QColor(0xFF96AD), QColor(0xD5E5FF)};
const QColor kInUse(0x00D65B);
const QString kEntryFocused = QStringLiteral("#source_frame{border:1px solid #FFAB54;border-radius:5px;}");
const QString kEntryInUse = QStringLiteral("#source_frame{border:1px solid #00D65B;border-radius:5px;}");
const QString kEntryGrey = QStringLiteral("#source_frame{border:1px solid #CCCCCC;border-radius:5px;}");

VyrRamPara* store() { return VyrRamPara::p_vyrrampara_config; }

using PanelWidgets::label;
}

InputChoose::InputChoose(QWidget* parent)
    : VyrPage(3, "InputChoose", UiText::TitleInputChoose, parent)
    , style_focus(QStringLiteral("border:2px solid rgb(255,171,84);"))
    , style_focus_level1(QStringLiteral("border:2px solid rgb(71, 119, 255);"))
    , style_focus_hidden(QStringLiteral("border:0px solid rgb(255,171,84);"))
    , style_button(QStringLiteral("color:rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);"))
    , style_button_focused(QStringLiteral("color:rgb(255, 255, 255);border:1px solid rgb(255,171,84);"))
    , style_tab(QStringLiteral("border:1px solid;border-left-color:rgb(71, 119, 255);border-right-color:rgb(71, 119, 255);border-top-color:rgb(71, 119, 255);"))
    , style_tab_focused(QStringLiteral("border:1px solid;border-left-color:rgb(255,171,84);border-right-color:rgb(255,171,84);border-top-color:rgb(255,171,84);"))
    , style_list(QStringLiteral("#frame{border:1px solid rgb(71, 119, 255);}"))
    , style_list_focused(QStringLiteral("#frame{border:1px solid rgb(255,171,84);}"))
{
    label_title->setGeometry(10, 10, 300, 22);
    auto* line = new QLabel(this);
    line->setObjectName(QStringLiteral("line"));
    line->setGeometry(0, 90, 320, 1);
    line->setStyleSheet(QStringLiteral("background-color: rgb(133, 129, 153);"));
    frame1 = new QFrame(this);
    frame1->setObjectName(QStringLiteral("frame1"));
    frame1->setStyleSheet(style_tab);
    const int nameX[6] = {2, 55, 108, 161, 214, 267};
    const int iconX[6] = {7, 60, 113, 165, 219, 272};
    for (int p = 0; p < 6; ++p) {
        tab_name[p] = label(this, QStringLiteral("sourcelistseq%1name").arg(p), QRect(nameX[p], 96, 51, 14), 10);
        tab_name[p]->setAlignment(Qt::AlignCenter);
        tab_name[p]->setTextFormat(Qt::RichText);
        tab_pixmap[p] = new QLabel(this);
        tab_pixmap[p]->setObjectName(QStringLiteral("sourcelistseq%1pixmap").arg(p));
        tab_pixmap[p]->setGeometry(iconX[p], 111, 40, 12);
        tab_pixmap[p]->setScaledContents(true);
    }
    button_inputcut = new QPushButton(this);
    button_inputcut->setObjectName(QStringLiteral("button_inputcut"));
    button_inputcut->setGeometry(53, 206, 99, 24);
    button_EDID = new QPushButton(this);
    button_EDID->setObjectName(QStringLiteral("button_EDID"));
    button_EDID->setGeometry(163, 206, 99, 24);
    for (QPushButton* b : {button_inputcut, button_EDID}) {
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoDefault(false);
        QFont f = b->font();
        f.setPixelSize(11);
        b->setFont(f);
        b->setStyleSheet(style_button);
    }
    connect(button_inputcut, &QPushButton::clicked, this, &InputChoose::vyr_button_inputcut_clicked);
    connect(button_EDID, &QPushButton::clicked, this, &InputChoose::vyr_button_EDID_clicked);
    menulist_init();
    if (store())
        store()->VyrCropSourceInit();
    crop_source_num_update();
    initMenu();
    image_select();
    language_changed();
}

void InputChoose::menulist_init()
{
    ui_select = 0;
    ui_seltype = 0;
    current_page = 0;
    current_window = 0;
    window_source = 0;
}

void InputChoose::language_changed()
{
    VyrPage::language_changed();
    button_inputcut->setText(inText(InText::ButtonInputCut));
    button_EDID->setText(inText(InText::ButtonEdid));
    initSource();
}

bool InputChoose::hasSignal(uint8_t input) const
{
    const BlockSnapshot s(store());
    if (!s.valid() || input > 5)
        return false;
    return s.u16(blk::inputResolution(input)) && s.u16(blk::inputResolution(input) + 2)
        && s.u16(blk::inputResolution(input) + 4);
}

void InputChoose::initMenu()
{
    delete container;
    bar_count = 0;
    container = new QFrame(this);
    container->setObjectName(QStringLiteral("container"));
    container->setGeometry(0, 42, 320, 47);
    focus_frame = new QFrame(container);
    focus_frame->setObjectName(QStringLiteral("focus_frame"));
    focus_frame->setStyleSheet(style_focus);
    for (auto& l : window_name)
        l = nullptr;
    const BlockSnapshot s(store());
    for (uint8_t k = 0; k < 6; ++k) {
        if (k > 0 && !blk::windowShown(s.block(), k))
            continue;
        const int c = bar_count;
        bar_window[c] = k;
        auto* box = new QLabel(QString::number(k + 1), container);
        box->setObjectName(QStringLiteral("window_box%1").arg(k + 1));
        box->setGeometry(50 * c + 9, 2, 47, 43);
        box->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
        box->setStyleSheet(PanelWidgets::boxStyle(kBoxColour[k]) + QStringLiteral("font: 11px"));
        // The name takes the top of the box, wrapped before a crop suffix; the number sits below.
        window_name[k] = label(box, QStringLiteral("window_name%1").arg(k + 1), QRect(0, 0, 47, 29), 10);
        QFont tight = window_name[k]->font();
        tight.setLetterSpacing(QFont::AbsoluteSpacing, -0.5); // "_Crop40" in the box's width
        window_name[k]->setFont(tight);
        window_name[k]->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        window_name[k]->setWordWrap(true);
        window_name[k]->setStyleSheet(QStringLiteral("color: %1;background: transparent;")
                                          .arg(PanelWidgets::textColourOn(kBoxColour[k]).name()));
        auto* icon = new QLabel(box);
        icon->setGeometry(38, 34, 7, 7);
        icon->setPixmap(QPixmap(QStringLiteral(":/png/state_on.png")));
        icon->setScaledContents(true);
        TextCreate(k);
        if (k == current_window)
            focus_frame->setGeometry(50 * c + 7, 0, 51, 47);
        ++bar_count;
    }
    focus_frame->lower();
    container->show();
}

void InputChoose::TextCreate(uint8_t window)
{
    VyrRamPara* para = store();
    if (!para || window > 5 || !window_name[window])
        return;
    const BlockSnapshot s(para);
    int16_t isCrop = 0;
    int8_t index = 0;
    const uint8_t input = uint8_t(para->VyrGetImageSource(s.block(), window, &isCrop, &index, 0));
    QString text = sourceinfo::get_source_name_by_sourceid(input);
    if (isCrop) {
        // The crop's own number from its entry, as every page names it.
        const uint16_t id = s.u16(blk::cropField(uint8_t(index), blk::crop::kId));
        text += QChar(0x200B) + QStringLiteral("_Crop%1").arg(blk::crop::number(id));
    }
    window_name[window]->setText(text);
}

void InputChoose::input_source_changed(uint8_t window)
{
    TextCreate(window);
}

void InputChoose::imagemenu()
{
    if (!container)
        return;
    auto place = [this](uint8_t c) { focus_frame->setGeometry(50 * c + 7, 0, 51, 47); };
    if (ui_seltype == 0) {
        if (ui_select < bar_count) {
            saved_select = ui_select;
            current_window = bar_window[ui_select];
            button_inputcut->setStyleSheet(style_button);
            button_EDID->setStyleSheet(style_button);
            focus_frame->setStyleSheet(style_focus);
            place(ui_select);
        } else {
            focus_frame->setStyleSheet(style_focus_hidden);
            button_inputcut->setStyleSheet(ui_select == kButtonInputCut ? style_button_focused : style_button);
            button_EDID->setStyleSheet(ui_select == kButtonEdid ? style_button_focused : style_button);
        }
    } else if (ui_seltype == 1) {
        focus_frame->setStyleSheet(style_focus_level1);
        place(saved_select < bar_count ? saved_select : 0);
    }
}

void InputChoose::readWindowSource()
{
    VyrRamPara* para = store();
    if (!para)
        return;
    const BlockSnapshot s(para);
    int16_t isCrop = 0;
    int8_t index = 0;
    window_source = uint8_t(para->VyrGetImageSource(s.block(), current_window, &isCrop, &index, 0));
    window_is_crop = uint16_t(isCrop);
    window_crop_index = isCrop ? uint8_t(index) : 0;
}

void InputChoose::image_select()
{
    current_page = 0;
    if (ui_seltype == 0) {
        readWindowSource();
        current_tab = sourceinfo::get_listseq_by_source_id(window_source);
        current_source = window_source;
        current_name = sourceinfo::get_source_name_by_sourceid(current_source);
    } else if (ui_seltype == 1) {
        current_tab = ui_select;
    }
    on_Button_source_clicked();
}

void InputChoose::on_Button_source_clicked()
{
    initSource();
    frame1->setGeometry(53 * current_tab + 1, 95, 53, 33);
    frame1->setStyleSheet(ui_seltype == 1 ? style_tab_focused : style_tab);
    frame1->lower();
}

uint8_t InputChoose::entryInUse(uint8_t input) const
{
    if (input != window_source)
        return 0xFF;
    if (!window_is_crop)
        return 0;
    const BlockSnapshot s(store());
    if (!s.valid())
        return 0xFF;
    // The rank of the window's crop number among the input's crops, which is how lists are ordered.
    const uint16_t own = s.u16(blk::cropField(window_crop_index, blk::crop::kId));
    if (!blk::crop::used(own) || blk::crop::source(own) != input)
        return 0xFF;
    uint8_t rank = 0;
    for (uint32_t k = 0; k < kCropCount; ++k) {
        const uint16_t id = s.u16(blk::cropField(k, blk::crop::kId));
        if (blk::crop::used(id) && blk::crop::source(id) == input && blk::crop::number(id) <= blk::crop::number(own))
            ++rank;
    }
    return rank;
}

void InputChoose::initSource()
{
    VyrRamPara* s = store();
    if (ui_seltype == 0) {
        readWindowSource();
        current_source = window_source;
    } else {
        current_source = sourceinfo::get_source_id_by_listseq(current_tab);
    }
    current_name = sourceinfo::get_source_name_by_sourceid(current_source);
    const uint8_t count = source_current_check();
    const int shown = qMin(int(count) - 3 * current_page, 3);
    const uint8_t inUse = entryInUse(current_source);
    if (traceOn())
        printf("initSource [source_type = %d] , [crop_id = %d] [select_sorce = %d],[current_page=%d],[source_id=%d],[source_number=%d],[ui_select=%d]\n",
               window_is_crop, window_crop_index, inUse + 1, current_page, window_source, current_source, ui_select);
    delete list_frame;
    list_frame = new QFrame(this);
    list_frame->setObjectName(QStringLiteral("frame"));
    list_frame->setGeometry(1, 127, 318, 70);
    list_frame->setStyleSheet(ui_seltype == 1 ? style_list_focused : style_list);
    list_frame->lower();
    for (int i = 0; i < shown; ++i) {
        const uint8_t e = uint8_t(3 * current_page + i);
        auto* entry = new QFrame(list_frame);
        entry->setObjectName(QStringLiteral("source_frame"));
        entry->setProperty("entry", int(e));
        entry->setGeometry(4 + 104 * i, 10, 102, 50);
        auto* state = new QLabel(entry);
        state->setObjectName(QStringLiteral("entry_state"));
        state->setGeometry(3, 5, 7, 7);
        state->setScaledContents(true);
        auto* type = new QLabel(entry);
        type->setObjectName(QStringLiteral("entry_type"));
        type->setGeometry(12, 5, 25, 8);
        type->setScaledContents(true);
        sourceinfo::set_source_pixmap(type, current_source);
        QLabel* name = label(entry, QStringLiteral("entry_name"), QRect(3, 17, 96, 14), 10);
        QLabel* timing = label(entry, QStringLiteral("entry_timing"), QRect(3, 32, 97, 14), 10);
        if (e == 0) {
            name->setText(current_name);
            const BlockSnapshot b(s);
            const uint32_t at = blk::inputResolution(current_source);
            if (b.valid() && hasSignal(current_source))
                timing->setText(QStringLiteral("%1x%2@%3Hz")
                                    .arg(int16_t(b.u16(at)))
                                    .arg(int16_t(b.u16(at + 2)))
                                    .arg(int16_t(b.u16(at + 4))));
            else
                timing->setText(inText(InText::NoSignal));
        } else if (s) {
            CROP_PARA crop = {};
            int j = int(kCropCount);
            s->VyrGetCropPara(current_source, e, &crop, &j);
            ALIAS_PARA alias;
            name->setTextFormat(Qt::PlainText); // an alias from an uploaded file is shown as written
            if (j < int(kCropCount) && get_json_alias_para(&alias, "crop", j))
                name->setText(QFontMetrics(name->font()).elidedText(QString::fromStdString(alias.name), Qt::ElideRight, name->width()));
            else
                name->setText(current_name + QStringLiteral("_crop%1").arg(blk::crop::number(uint16_t(crop.id))));
            timing->setText(QStringLiteral("%1x%2").arg(crop.width).arg(crop.height));
        }
        const bool used = e == inUse;
        if (ui_seltype == 2 && ui_select == i)
            entry->setStyleSheet(kEntryFocused);
        else if (used)
            entry->setStyleSheet(kEntryInUse);
        else
            entry->setStyleSheet(kEntryGrey);
        state->setPixmap(QPixmap(used ? QStringLiteral(":/png/state_on.png") : QStringLiteral(":/png/state_off.png")));
        if (used) {
            auto* badge = new QLabel(uiText(UiText::Using), entry);
            badge->setObjectName(QStringLiteral("badge_using"));
            badge->setGeometry(54, 1, 46, 14);
            badge->setAlignment(Qt::AlignCenter);
            badge->setStyleSheet(PanelWidgets::boxStyle(kInUse) + QStringLiteral("font: 10px;border-radius:5px;"));
        }
    }
    list_frame->show();
}

void InputChoose::crop_source_num_update()
{
    VyrRamPara* s = store();
    for (uint8_t p = 0; p < 6; ++p) {
        const uint8_t input = sourceinfo::get_source_id_by_listseq(p);
        source_count[p] = uint8_t((s ? s->VyrGetSourceNum(input, int(kCropCount)) : 0) + 1);
    }
    source_name_update();
    source_check_update();
}

void InputChoose::source_name_update()
{
    for (uint8_t p = 0; p < 6; ++p) {
        const uint8_t input = sourceinfo::get_source_id_by_listseq(p);
        ALIAS_PARA alias;
        QString name;
        if (get_json_alias_para(&alias, "source", input)) {
            QFont f = tab_name[p]->font();
            f.setPixelSize(9);
            name = QFontMetrics(f).elidedText(QString::fromStdString(alias.name), Qt::ElideRight, tab_name[p]->width() - 16);
            name = name.toHtmlEscaped();
        } else {
            name = sourceinfo::get_source_name_by_listseq(p);
        }
        tab_name[p]->setText(sourceinfo::get_source_specialstyle1_by_sourceid(input, name, source_count[p]));
    }
}

void InputChoose::source_check_update()
{
    for (uint8_t p = 0; p < 6; ++p) {
        const uint8_t input = sourceinfo::get_source_id_by_listseq(p);
        sourceinfo::set_sourceonline_pixmap(tab_pixmap[p], input, hasSignal(input) ? 1 : 0);
    }
}

uint8_t InputChoose::get_source_num(uint8_t input) const
{
    return input > 5 ? 0 : source_count[sourceinfo::get_listseq_by_source_id(input)];
}

uint8_t InputChoose::source_current_check()
{
    const uint8_t count = get_source_num(current_source);
    max_page = count == 0 ? 0 : uint8_t((count + 2) / 3 - 1);
    if (current_page > max_page)
        current_page = max_page;
    return count;
}

void InputChoose::para_source_index_init()
{
    ui_select = current_tab;
    current_page = 0;
}

void InputChoose::para_uiselect_init()
{
    ui_select = 0;
    const uint8_t inUse = entryInUse(current_source);
    if (inUse != 0xFF && inUse < 3)
        ui_select = inUse;
}

void InputChoose::vyr_source_button_clicked()
{
    VyrRamPara* s = store();
    if (!s)
        return;
    const uint8_t e = uint8_t(3 * current_page + ui_select);
    if (e == 0) {
        window_is_crop = 0;
        window_crop_index = 0;
    } else {
        // The crop may have gone since the list was drawn (protocol, another page): look again.
        s->VyrCropSourceInit();
        CROP_PARA crop = {};
        int j = int(kCropCount);
        s->VyrGetCropPara(current_source, e, &crop, &j);
        if (j >= int(kCropCount)) {
            crop_source_num_update();
            initSource();
            return;
        }
        window_is_crop = 1;
        window_crop_index = uint8_t(j);
    }
    s->VyrSetImageSource(e, current_source, current_window);
    window_source = current_source;
    initSource();
    if (g_tip)
        g_tip->tip_create(1);
}

void InputChoose::vyr_button_inputcut_clicked()
{
    QPointer<InputChoose> self(this);
    PageNav::openModal(new InputCut);
    if (!self)
        return;
    crop_source_num_update();
    language_changed();
    initSource();
}

void InputChoose::vyr_button_EDID_clicked()
{
    QPointer<InputChoose> self(this);
    PageNav::openModal(new EDIDset);
    if (!self)
        return;
    language_changed();
    initSource();
}

void InputChoose::syncUpdate(int code)
{
    VyrRamPara* para = store();
    if (!para)
        return;
    if (PageNav::languageChanged())
        language_changed();
    const BlockSnapshot s(para);
    bool firstWordChanged = false;
    for (uint8_t k = 0; k < 6; ++k) {
        if (s.changed(blk::window(k, blk::win::kSource)))
            input_source_changed(k);
        if (s.changed(blk::window(k, blk::win::kState)))
            firstWordChanged = true;
    }
    if (firstWordChanged || s.changed(blk::window(current_window, blk::win::kSource))) {
        // The operator stays on the window chosen, unless it was switched off.
        if (current_window > 0 && !blk::windowShown(s.block(), current_window)) {
            current_window = 0;
            saved_select = 0;
        }
        if (ui_seltype == 0)
            image_select();
        else
            initSource();
        initMenu();
        if (ui_seltype == 0 && ui_select < kButtonInputCut && ui_select >= bar_count)
            ui_select = uint8_t(bar_count - 1);
        for (uint8_t c = 0; c < bar_count; ++c)
            if (bar_window[c] == current_window)
                saved_select = c;
        if (ui_seltype == 0 && ui_select < bar_count)
            ui_select = saved_select;
        imagemenu();
    } else {
        const uint32_t t = blk::inputResolution(current_source);
        if (s.changed(t, blk::kInputResolutionSize))
            initSource();
    }
    if (code == 103 || s.changed(kCropBase, kCropCount * blk::kCropEntrySize)) {
        para->VyrCropSourceInit();
        initSource();
        crop_source_num_update();
    }
    // Signal icons follow every input, not only the one listed.
    source_check_update();
}

void InputChoose::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
    switch (event->key()) {
    case PanelKey::OK:
        qDebug("this is OK button(InputChoose)[Release] ui_select=%#x ,ui_seltype=%#x", ui_select, ui_seltype);
        if (ui_seltype == 0) {
            if (ui_select < bar_count) {
                ui_seltype = 1;
                imagemenu();
                para_source_index_init();
                on_Button_source_clicked();
            } else if (ui_select == kButtonInputCut) {
                vyr_button_inputcut_clicked();
            } else if (ui_select == kButtonEdid) {
                vyr_button_EDID_clicked();
            }
        } else if (ui_seltype == 1) {
            ui_seltype = 2;
            para_uiselect_init();
            on_Button_source_clicked();
        } else {
            vyr_source_button_clicked();
            TextCreate(current_window);
        }
        break;
    case PanelKey::Left:
        qDebug("this is left-code [InputChoose][Release] ui_select=%#x ,ui_seltype=%#x ,current_page=%#x", ui_select, ui_seltype, current_page);
        if (ui_seltype == 0) {
            if (ui_select == 0)
                ui_select = kButtonEdid;
            else if (ui_select == kButtonEdid)
                ui_select = kButtonInputCut;
            else if (ui_select == kButtonInputCut || ui_select >= bar_count)
                ui_select = uint8_t(bar_count - 1);
            else
                --ui_select;
            imagemenu();
            image_select();
        } else if (ui_seltype == 1) {
            ui_select = ui_select == 0 ? 5 : uint8_t(ui_select - 1);
            image_select();
        } else {
            const uint8_t count = source_current_check();
            if (traceOn())
                printf("[max_source_info = %#x], [ui_select = %#x], [current_page=%#x]\n", count, ui_select, current_page);
            if (ui_select == 0 && current_page == 0) {
                current_page = max_page;
                ui_select = uint8_t(count - 1 - 3 * max_page);
            } else if (ui_select == 0) {
                --current_page;
                ui_select = 2;
            } else {
                --ui_select;
            }
            initSource();
        }
        break;
    case PanelKey::Right:
        qDebug("this is right-code [InputChoose][Release] ui_select=%#x ,ui_seltype=%#x ,current_page=%#x", ui_select, ui_seltype, current_page);
        if (ui_seltype == 0) {
            if (ui_select == kButtonInputCut)
                ui_select = kButtonEdid;
            else if (ui_select == kButtonEdid)
                ui_select = 0;
            else if (ui_select + 1 >= bar_count)
                ui_select = kButtonInputCut;
            else
                ++ui_select;
            imagemenu();
            image_select();
        } else if (ui_seltype == 1) {
            ui_select = ui_select >= 5 ? 0 : uint8_t(ui_select + 1);
            image_select();
        } else {
            const uint8_t count = source_current_check();
            ++ui_select;
            if (3 * current_page + ui_select >= count) {
                current_page = 0;
                ui_select = 0;
            }
            qDebug("this is right-code [InputChoose][Release] ui_select=%#x ,current_page=%#x,max_source_info=%#x", ui_select, current_page, count);
            if (ui_select > 2) {
                ui_select = 0;
                if (current_page < max_page)
                    ++current_page;
            }
            qDebug("This is right-code [InputChoose][Release] ui_select=%#x ,current_page=%#x,max_source_info=%#x", ui_select, current_page, count);
            initSource();
        }
        break;
    case PanelKey::Back:
        qDebug("this is back button(InputChoose)[Release] ui_select=%#x ,ui_seltype=%#x", ui_select, ui_seltype);
        if (ui_seltype == 0) {
            slot_Button_back_clicked();
        } else if (ui_seltype == 1) {
            ui_seltype = 0;
            ui_select = saved_select;
            imagemenu();
            on_Button_source_clicked();
        } else {
            ui_seltype = 1;
            para_source_index_init();
            on_Button_source_clicked();
        }
        break;
    case PanelKey::Mode:
        qDebug("this is mode-code [InputChoose][Release]");
        PageNav::modeShortcut();
        break;
    default:
        break;
    }
}
