#include "ui/pages_picture/edidset.h"

#include "ui/blocksnapshot.h"
#include "ui/numberkeyboard.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "scaler/c331_manage.h"
#include "video_chips/edid_tables.h"
#include "ui/pagenav.h"
#include "ui/pages_picture/inputchoose.h"
#include "ui/panelkeys.h"
#include "ui/panelwidgets.h"
#include "ui/sourceinfo.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

QPointer<EDIDset> g_edidset;
// The panel's keypad; tests put their own in its place.
std::function<bool(const QString&, const QString&, int, int, int*)> EDIDset::askNumber =
    [](const QString& title, const QString& value, int min, int max, int* out) {
        return g_numberkeyboard && g_numberkeyboard->getNumber(title, value, min, max, out);
    };

namespace {

struct Texts {
    const char* source;
    const char* w;
    const char* h;
    const char* freq;
    const char* cancel;
    const char* save;
    const char* del;
    const char* keypadW;
    const char* keypadH;
    const char* refused; // %1-%2 the width range, %3-%4 the height range
    const char* beyond;  // %1 the timing the input's receiver does not take
    const char* elsewhere;
};
const Texts kTexts[5] = {
    {"EDID源:", "宽", "高", "刷新率", "取消", "保存", "删除", "宽度", "高度", "超出范围: 宽 %1-%2, 高 %3-%4",
     "未保存: 此输入不支持 %1", "未保存: 已被其他设备修改, 请确认"},
    {"EDID source:", "W", "H", "Refresh rate", "Cancle", "SAVE", "Delete", "W", "H", "Not saved: W %1-%2, H %3-%4",
     "Not saved: this input cannot take %1", "Not saved: changed elsewhere, check and save"},
    {"Источник EDID:", "Ш", "В", "Частота", "Отмена", "Сохр.", "Удал.", "Ш", "В",
     "Не сохранено: Ш %1-%2, В %3-%4", "Не сохранено: вход не берёт %1", "Не сохранено: изменено извне, проверьте"},
    {"Nguồn EDID:", "R", "C", "Tần số quét", "Hủy", "Lưu", "Xóa", "R", "C", "Chưa lưu: R %1-%2, C %3-%4",
     "Chưa lưu: ngõ vào không nhận %1", "Chưa lưu: đã bị đổi ở nơi khác, hãy kiểm tra"},
    {"EDID源:", "寬", "高", "刷新率", "取消", "保存", "刪除", "寬度", "高度", "超出範圍: 寬 %1-%2, 高 %3-%4",
     "未保存: 此輸入不支援 %1", "未保存: 已被其他設備修改, 請確認"},
};
const Texts& texts() { return kTexts[languageColumn(g_language.load())]; }

const char kMarkerLevel0[] = "border:1px solid;border-bottom-color:rgb(16,16,28);border-left-color:rgb(255,171,84);"
                             "border-right-color:rgb(255,171,84);border-top-color:rgb(255,171,84);";
const char kMarkerOpen[] = "border:1px solid;border-bottom-color:rgb(16,16,28);border-left-color:rgb(71, 119, 255);"
                           "border-right-color:rgb(71, 119, 255);border-top-color:rgb(71, 119, 255);";

using PanelWidgets::pixels;

QLabel* label(QWidget* parent, const char* name, int x, int y, int w, int h)
{
    return PanelWidgets::label(parent, QLatin1String(name), QRect(x, y, w, h), 10);
}

bool record(uint8_t input, int16_t* w, int16_t* h, int16_t* r)
{
    const BlockSnapshot s(VyrRamPara::p_vyrrampara_config); // the protocol writes records under its lock
    if (!s.valid() || input > 5)
        return false;
    *w = int16_t(s.u16(blk::edidWidth(input)));
    *h = int16_t(s.u16(blk::edidHeight(input)));
    *r = int16_t(s.u16(blk::edidRate(input)));
    return true;
}

}

int EDIDset::inputAtTab(int tab)
{
    static const int kIds[6] = {2, 3, 4, 5, 1, 0};
    return tab >= 0 && tab < 6 ? kIds[tab] : 2;
}

QString EDIDset::inputName(int id)
{
    static const char* const kNames[6] = {"EXT", "DVI", "HDMI1", "HDMI2", "HDMI3", "HDMI4"};
    return id >= 0 && id < 6 ? QLatin1String(kNames[id]) : QString();
}

EDIDset::EDIDset(QWidget* parent)
    : VyrPage(8, "EDIDset", UiText::TitleEDIDset, parent),
      field_normal(QStringLiteral("color:rgb(255,255,255);background-color: rgb(33, 36, 53) ; border:1px solid rgb(255,255,255);")),
      field_focused(QStringLiteral("color:rgb(255,255,255);background-color: rgb(33, 36, 53); border:1px solid rgb(255,171,84);")),
      field_changing(QStringLiteral("color:rgb(255,255,255);background-color: rgb(33, 36, 53); border:1px solid rgb(255,0,0);")),
      button_normal(QStringLiteral("color: rgb(255, 255, 255);background-color: rgb(33, 36, 53) ; border:1px solid rgb(255,255,255);;")),
      button_focused(QStringLiteral("color: rgb(255, 255, 255);background-color: rgb(33, 36, 53); border:1px solid rgb(255,171,84);"))
{
    // Each tab: the input's name over its connector picture, both centred in the marker's place.
    for (int k = 0; k < 6; ++k) {
        tab_name[k] = label(this, qPrintable(QStringLiteral("sourcelistseq%1name").arg(k)), 5 + 52 * k, 41, 48, 14);
        tab_name[k]->setAlignment(Qt::AlignCenter);
        // The HDMI 2.0 inputs in green, as on the input-choice and crop tabs.
        tab_name[k]->setTextFormat(Qt::RichText);
        tab_name[k]->setText(sourceinfo::get_source_specialstyle0_by_sourceid(uint8_t(inputAtTab(k))).arg(inputName(inputAtTab(k))));
        QLabel* icon = label(this, qPrintable(QStringLiteral("sourcelistseq%1pixmap").arg(k)), 9 + 52 * k, 60, 40, 14);
        PanelWidgets::showPicture(icon, sourceinfo::iconPath(uint8_t(inputAtTab(k))));
    }
    tab_marker = new QFrame(this);
    tab_marker->setObjectName(QStringLiteral("tab_marker"));
    tab_marker->setGeometry(4, 38, 50, 43);
    tab_marker->setStyleSheet(QLatin1String(kMarkerLevel0));
    tab_marker->lower();

    frame_add = new QFrame(this);
    frame_add->setObjectName(QStringLiteral("frame_add"));
    frame_add->setGeometry(10, 155, 300, 44);
    frame_add->setFrameShape(QFrame::StyledPanel);
    label_edid_source = label(frame_add, "label_edid_source", 10, 0, 280, 14);
    label_W = label(frame_add, "label_W", 4, 22, 34, 14);
    label_W->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lineEdit_W = new QLineEdit(frame_add);
    lineEdit_W->setObjectName(QStringLiteral("lineEdit_W"));
    lineEdit_W->setGeometry(40, 20, 44, 18);
    label_H = label(frame_add, "label_H", 86, 22, 32, 14);
    label_H->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lineEdit_H = new QLineEdit(frame_add);
    lineEdit_H->setObjectName(QStringLiteral("lineEdit_H"));
    lineEdit_H->setGeometry(120, 20, 44, 18);
    label_freq = label(frame_add, "label_freq", 166, 22, 76, 14);
    label_freq->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label_rate = label(frame_add, "label_rate", 246, 20, 40, 18);
    for (QLineEdit* e : {lineEdit_W, lineEdit_H}) {
        e->setFocusPolicy(Qt::NoFocus);
        e->setReadOnly(true); // edited only through the keypad
        e->setFont(pixels(e, 10));
    }
    frame_add->hide();
    label_note = label(this, "label_note", 4, 199, 312, 13);
    label_note->setAlignment(Qt::AlignCenter);
    label_note->setStyleSheet(QStringLiteral("color:rgb(255,96,96);"));
    label_note->hide();

    auto button = [this](const char* name, int x) {
        auto* b = new QPushButton(this);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(x, 212, 56, 22);
        b->setFont(pixels(b, 10));
        b->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);"));
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoDefault(false);
        b->hide();
        return b;
    };
    button_delete = button("button_delete", 62);
    button_cancel = button("button_cancel", 132);
    button_save = button("button_save", 202);

    current_input = uint8_t(inputAtTab(0));
    current_name = inputName(current_input);
    source_init();
    language_changed();
}

void EDIDset::language_changed()
{
    VyrPage::language_changed();
    const Texts& t = texts();
    label_edid_source->setText(QString::fromUtf8(t.source) + (frame_add->isVisible() ? current_name : QString()));
    label_W->setText(QString::fromUtf8(t.w));
    label_H->setText(QString::fromUtf8(t.h));
    label_freq->setText(QString::fromUtf8(t.freq));
    button_cancel->setText(QString::fromUtf8(t.cancel));
    button_save->setText(QString::fromUtf8(t.save));
    button_delete->setText(QString::fromUtf8(t.del));
    setNoteText();
}

void EDIDset::setNoteText()
{
    const Texts& t = texts();
    if (changed_elsewhere)
        label_note->setText(QString::fromUtf8(t.elsewhere));
    else if (refused_timing.isEmpty())
        label_note->setText(QString::fromUtf8(t.refused).arg(kMinWidth).arg(kMaxWidth).arg(kMinHeight).arg(kMaxHeight));
    else
        label_note->setText(QString::fromUtf8(t.beyond).arg(refused_timing));
}

void EDIDset::syncUpdate(int)
{
    if (PageNav::languageChanged())
        language_changed();
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store || ui_seltype != 0)
        return;
    const uint32_t at = blk::edidWidth(current_input);
    bool differs = false;
    {
        ScalerHandOver lock; // the protocol writes block and shadow under it
        for (uint32_t i = 0; i < blk::kEdidTimingSize; ++i)
            differs |= store->view()[at + i] != store->shadow[at + i];
    }
    if (differs)
        source_init();
}

void EDIDset::source_init()
{
    delete frame_source;
    frame_source = new QFrame(this);
    frame_source->setObjectName(QStringLiteral("frame_source"));
    frame_source->setGeometry(4, 80, 310, 70);
    // By the row, not the level: a closing row redraws the tile before the level goes back to 0.
    frame_source->setStyleSheet(!frame_add->isVisibleTo(this) ? QStringLiteral("#frame_source{border:1px solid rgb(255,171,84);}")
                                                              : QStringLiteral("#frame_source{border:1px solid rgb(71, 119, 255);}"));
    auto* tile = new QFrame(frame_source);
    tile->setGeometry(10, 10, 120, 50);
    tile->setStyleSheet(QStringLiteral("background-color: #212435;border:1px solid #CCCCCC;"));
    const QString tileStyle = QStringLiteral("background-color:#212435;color:#FFFFFF");
    // The tile's head: the state dot and the connector, DVI's own or the common one.
    QLabel* state = label(frame_source, "tile_state", 15, 13, 7, 7);
    state->setScaledContents(true);
    state->setPixmap(QPixmap(QStringLiteral(":/png/state_on.png")));
    QLabel* icon = label(frame_source, "tile_picture", 25, 11, 25, 10);
    icon->setStyleSheet(tileStyle);
    PanelWidgets::showPicture(icon, sourceinfo::iconPath(current_input == 1 ? 1 : 0));
    tile_name = label(frame_source, "tile_name", 15, 23, 100, 14);
    tile_name->setStyleSheet(tileStyle);
    tile_name->setText(current_name);
    tile_timing = label(frame_source, "tile_timing", 15, 40, 100, 14);
    tile_timing->setStyleSheet(tileStyle);
    int16_t w = 0, h = 0, r = 0;
    if (record(current_input, &w, &h, &r))
        tile_timing->setText(QStringLiteral("%1x%2@%3Hz").arg(w).arg(h).arg(r));
    frame_source->show();
}

void EDIDset::vyr_button_input_clicked()
{
    tab_marker->move(4 + 52 * ui_select, 38);
    current_input = uint8_t(inputAtTab(ui_select));
    current_name = inputName(current_input);
    source_init();
}

void EDIDset::vyr_button_source_clicked()
{
    tab_marker->setStyleSheet(QLatin1String(kMarkerOpen));
    frame_source->setStyleSheet(QStringLiteral("#frame_source{border:1px solid rgb(71, 119, 255);}"));
    label_edid_source->setText(QString::fromUtf8(texts().source) + current_name);
    int16_t w = 0, h = 0, r = 0;
    record(current_input, &w, &h, &r);
    lineEdit_W->setText(QString::number(w));
    lineEdit_H->setText(QString::number(h));
    label_rate->setText(QString::number(r));
    refresh_choice = r == 60 ? 1 : 0;
    origin_.start({int(w), int(h), int(r)});
    for (int i = 0; i < 6; ++i)
        styleLineEntry(i, i == 0);
    frame_add->show();
    button_delete->show();
    button_cancel->show();
    button_save->show();
}

void EDIDset::vyr_button_cancel_clicked()
{
    tab_marker->setStyleSheet(QLatin1String(kMarkerLevel0));
    frame_source->setStyleSheet(QStringLiteral("#frame_source{border:1px solid rgb(255,171,84);}"));
    frame_add->hide();
    button_delete->hide();
    button_cancel->hide();
    button_save->hide();
    label_note->hide();
    changed_elsewhere = false;
    origin_.close();
    source_init(); // the stored timing, also one written elsewhere while the row was open
}

QVariantList EDIDset::rowValues() const
{
    return {lineEdit_W->text().toInt(), lineEdit_H->text().toInt(), int(int16_t(label_rate->text().toInt()))};
}

void EDIDset::showNote()
{
    setNoteText();
    label_note->show();
    label_note->raise();
}

// A size outside what the box can announce is not stored: the row stays open with the allowed
// ranges, so the operator sees why and can correct it (a stored 4096 wide record gets here).
bool EDIDset::vyr_button_ok_clicked()
{
    int16_t sw = 0, sh = 0, sr = 0;
    record(current_input, &sw, &sh, &sr);
    const QVariantList stored = {int(sw), int(sh), int(sr)};
    if (origin_.changedElsewhere(stored)) {
        // A PC tool or a user mode wrote the record while the row was open: what the operator did
        // not type shows the new timing, and nothing is stored until they have seen it.
        const QVariantList shown = origin_.rebase(rowValues(), stored);
        lineEdit_W->setText(QString::number(shown.at(0).toInt()));
        lineEdit_H->setText(QString::number(shown.at(1).toInt()));
        label_rate->setText(QString::number(shown.at(2).toInt()));
        refresh_choice = shown.at(2).toInt() == 60 ? 1 : 0;
        writeLogMsg(LOG_INFO, "EDID of input " + std::to_string(current_input) + " written elsewhere while its row was open");
        if (!origin_.changedByOperator(shown)) {
            vyr_button_cancel_clicked();
            return true;
        }
        changed_elsewhere = true;
        showNote();
        return false;
    }
    changed_elsewhere = false;
    bool okW = false, okH = false;
    const int w = lineEdit_W->text().toInt(&okW);
    const int h = lineEdit_H->text().toInt(&okH);
    // The rate label shows the stored rate until the operator changes the choice, so a stored
    // rate other than 30 or 60 is written back unchanged.
    const int16_t rate = int16_t(label_rate->text().toInt());
    const bool inRange = okW && okH && w >= kMinWidth && w <= kMaxWidth && h >= kMinHeight && h <= kMaxHeight;
    // Only what the input's receiver takes: a timing it refuses would never reach the source.
    const std::string beyond = inRange ? edid::timingRefusal(uint32_t(w), uint32_t(h), uint32_t(uint16_t(rate)), current_input)
                                       : std::string();
    if (!inRange || !beyond.empty()) {
        writeLogMsg(LOG_WARNING, "EDID of input " + std::to_string(current_input) + " refused: " +
                                     lineEdit_W->text().toStdString() + "x" + lineEdit_H->text().toStdString() + "@" +
                                     std::to_string(rate) + (beyond.empty() ? "" : " " + beyond));
        refused_timing = beyond.empty() ? QString() : QStringLiteral("%1x%2@%3").arg(w).arg(h).arg(rate);
        showNote();
        return false;
    }
    // Only a change of the operator's is stored: a Save of the row as opened writes nothing.
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (store && origin_.changedByOperator({w, h, int(rate)}))
        store->VyrSetEDIDPara(current_input, int16_t(w), int16_t(h), rate);
    refresh_choice = rate == 60 ? 1 : 0;
    vyr_button_cancel_clicked();
    return true;
}

void EDIDset::on_Button_freq_clicked()
{
    label_rate->setText(refresh_choice ? QStringLiteral("60") : QStringLiteral("30"));
}

QWidget* EDIDset::lineEntry(int i) const
{
    QWidget* const entries[6] = {lineEdit_W, lineEdit_H, label_rate, button_delete, button_cancel, button_save};
    return i >= 0 && i < 6 ? entries[i] : nullptr;
}

void EDIDset::styleLineEntry(int i, bool focused)
{
    QWidget* w = lineEntry(i);
    if (i < 3)
        w->setStyleSheet(focused ? field_focused : field_normal);
    else
        w->setStyleSheet(focused ? button_focused : button_normal);
}

void EDIDset::editField(QLineEdit* field)
{
    if (!askNumber) {
        writeLogMsg(LOG_WARNING, "EDID page: no keypad");
        return;
    }
    const bool width = field == lineEdit_W;
    const Texts& t = texts();
    int value = 0;
    QPointer<EDIDset> self(this);
    const bool ok = width ? askNumber(QString::fromUtf8(t.keypadW), field->text(), kMinWidth, kMaxWidth, &value)
                          : askNumber(QString::fromUtf8(t.keypadH), field->text(), kMinHeight, kMaxHeight, &value);
    if (!self || !ok)
        return; // closed meanwhile (MODE), or nothing confirmed: the field keeps its value
    if (value < (width ? kMinWidth : kMinHeight) || value > (width ? kMaxWidth : kMaxHeight))
        return;
    field->setText(QString::number(value));
}

void EDIDset::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
    const int key = event->key();
    if (key == PanelKey::Mode) {
        PageNav::modeShortcut();
        return;
    }
    if (ui_seltype == 0) {
        if (key == PanelKey::Left || key == PanelKey::Right) {
            ui_select = key == PanelKey::Left ? uint8_t(ui_select == 0 ? 5 : ui_select - 1) : uint8_t(ui_select >= 5 ? 0 : ui_select + 1);
            vyr_button_input_clicked();
        } else if (key == PanelKey::OK) {
            ui_seltype = 1;
            ui_line_select = 0;
            vyr_button_source_clicked();
        } else if (key == PanelKey::Back) {
            slot_Button_back_clicked();
        }
        return;
    }
    if (ui_seltype == 1) {
        if (key == PanelKey::Left || key == PanelKey::Right) {
            styleLineEntry(ui_line_select, false);
            ui_line_select = key == PanelKey::Left ? uint8_t(ui_line_select == 0 ? 5 : ui_line_select - 1)
                                                   : uint8_t(ui_line_select >= 5 ? 0 : ui_line_select + 1);
            styleLineEntry(ui_line_select, true);
        } else if (key == PanelKey::OK) {
            switch (ui_line_select) {
            case 0: editField(lineEdit_W); break;
            case 1: editField(lineEdit_H); break;
            case 2:
                ui_seltype = 2;
                label_rate->setStyleSheet(field_changing);
                saved_choice = refresh_choice;
                saved_rate_text = label_rate->text();
                break;
            case 5:
                if (vyr_button_ok_clicked()) {
                    ui_seltype = 0;
                    ui_line_select = 0;
                }
                break;
            default: // Cancel, and Delete, which removes nothing
                ui_seltype = 0;
                ui_line_select = 0;
                vyr_button_cancel_clicked();
                break;
            }
        } else if (key == PanelKey::Back) {
            ui_seltype = 0;
            ui_line_select = 0;
            vyr_button_cancel_clicked();
        }
        return;
    }
    // Level 2: the rate.
    if (key == PanelKey::Left || key == PanelKey::Right) {
        refresh_choice = refresh_choice ? 0 : 1;
        on_Button_freq_clicked();
    } else if (key == PanelKey::OK) {
        label_rate->setStyleSheet(field_focused);
        ui_seltype = 1;
    } else if (key == PanelKey::Back) {
        // Back to what was shown before, a stored rate other than 30 or 60 included.
        refresh_choice = saved_choice;
        label_rate->setText(saved_rate_text);
        label_rate->setStyleSheet(field_focused);
        ui_seltype = 1;
    }
}

void EDIDset::slot_Button_back_clicked()
{
    PageNav::back(this);
}
