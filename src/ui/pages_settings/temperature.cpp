#include "ui/pages_settings/temperature.h"

#include "base/global.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "scaler/c331_manage.h"
#include "ui/pagenav.h"
#include "ui/pages_settings/quality.h"
#include "ui/panelkeys.h"
#include "ui/panelwidgets.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QtDebug>
#include <algorithm>

QPointer<temperature> g_temperature;

namespace {

struct Texts {
    const char* title;
    const char* type;
    const char* red;
    const char* green;
    const char* blue;
    const char* entries[4];
};
const Texts kTexts[5] = {
    {"色温", "色温类型", "红色", "绿色", "蓝色", {"自定义", "偏暖", "自然", "偏冷"}},
    {"Temperature", "temperature type", "Red", "Green", "Blue", {"custom", "warm", "nature", "cool"}},
    {"Температура Оттенок", "Выбор цвета", "Красный", "Зеленый", "Синий", {"Свой", "Теплый", "Природный", "Холодный"}},
    {"Độ màu", "Lựa chọn độ màu", "Màu đỏ", "Màu xanh lá cây", "Màu xanh da trời",
     {"Tùy chỉnh", "Màu ấm", "Tự nhiên", "Lạnh hơn"}},
    {"色溫", "色溫類型", "紅色", "綠色", "藍色", {"自定義", "偏暖", "自然", "偏冷"}},
};

constexpr int kItems = 4; // the type selector and three gains
constexpr int kTypes = 4;

using PanelWidgets::pixels;

QString lineStyle(const char* style) { return QString::fromLatin1(style); }

}

const char temperature::kComboNormal[] = "QComboBox{\ncolor:rgb(255,255,255);\nbackground-color: rgb(33, 36, 53);"
                                         "border:1px solid rgb(255,255,255);\n}\nQComboBox:drop-down{\nborder-style:none\n}";
const char temperature::kComboFocused[] = "QComboBox{\ncolor:rgb(255,255,255);\nbackground-color: rgb(33, 36, 53);"
                                          "border:1px solid rgb(255,171,84);\n}\nQComboBox:drop-down{\nborder-style:none\n}";
const char temperature::kComboChoosing[] = "QComboBox{\ncolor:rgb(255,255,255);\nbackground-color: rgb(33, 36, 53);"
                                           "border:1px solid rgb(255,0,0);\n}\nQComboBox:drop-down{\nborder-style:none\n}";

uint32_t temperature::fieldOf(int item)
{
    static const uint32_t kFields[3] = {blk::kColourRed, blk::kColourGreen, blk::kColourBlue};
    return item >= 1 && item <= 3 ? kFields[item - 1] : 0;
}

int temperature::storedType()
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    // The scaler takes the low byte and of it the two low bits: a stored 5 is warm on the wall,
    // so the page says warm too.
    if (!store)
        return 0;
    ScalerHandOver lock; // the protocol writes the field under it from its own thread
    return store->view()[blk::kColourTemp] & 3;
}

temperature::temperature(QWidget* parent)
    : VyrPage(20, "temperature", UiText::TitleTemperature, parent), writer(new PictureWriter(this)), gain_value(writer)
{
    frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame"));
    frame->setGeometry(10, 38, 300, 196);
    frame->setStyleSheet(QStringLiteral("#frame{background-color: rgb(16, 16, 28);border:1px solid rgb(255, 255, 255);"
                                        "\nborder-radius:6px;padding:2px 4px}"));
    const char* const labels[kItems] = {"label_type", "label_name_red", "label_name_green", "label_name_blue"};
    QLabel* rowLabels[kItems];
    for (int i = 0; i < kItems; ++i) {
        auto* l = new QLabel(frame);
        l->setObjectName(QLatin1String(labels[i]));
        l->setGeometry(8, 12 + 46 * i, 150, 34);
        l->setWordWrap(true);
        l->setFont(pixels(l, 12));
        l->setStyleSheet(QStringLiteral("color:rgb(255,255,255);"));
        rowLabels[i] = l;
    }
    label_type = rowLabels[0];
    label_name_red = rowLabels[1];
    label_name_green = rowLabels[2];
    label_name_blue = rowLabels[3];

    comboBox_type = new QComboBox(frame);
    comboBox_type->setObjectName(QStringLiteral("comboBox_type"));
    comboBox_type->setGeometry(164, 16, 126, 26);
    comboBox_type->setFont(pixels(comboBox_type, 12));
    comboBox_type->setFocusPolicy(Qt::NoFocus);
    comboBox_type->setStyleSheet(QStringLiteral("QComboBox{\n\tbackground-color: rgb(36, 36, 53);\ncolor:rgb(255,255,255);"
                                                "\nborder:1px solid rgb(255,255,255);\n}\nQComboBox:drop-down{\n"
                                                "border-style:none\n}"));
    const char* const edits[3] = {"lineEdit_name_red", "lineEdit_name_green", "lineEdit_name_blue"};
    QLineEdit* rowEdits[3];
    for (int i = 0; i < 3; ++i) {
        auto* e = new QLineEdit(frame);
        e->setObjectName(QLatin1String(edits[i]));
        e->setGeometry(164, 16 + 46 * (i + 1), 126, 26);
        e->setFont(pixels(e, 12));
        e->setAlignment(Qt::AlignCenter);
        e->setReadOnly(true); // worked by the keys only
        e->setFocusPolicy(Qt::NoFocus);
        e->setStyleSheet(lineStyle(quality::kStyleNormal));
        rowEdits[i] = e;
    }
    lineEdit_name_red = rowEdits[0];
    lineEdit_name_green = rowEdits[1];
    lineEdit_name_blue = rowEdits[2];
    para_init();
    menulist_init();
    language_changed();
}

QLineEdit* temperature::gain(int i) const
{
    QLineEdit* const gains[3] = {lineEdit_name_red, lineEdit_name_green, lineEdit_name_blue};
    return i >= 1 && i <= 3 ? gains[i - 1] : nullptr;
}

void temperature::showGains()
{
    for (int i = 1; i <= 3; ++i) {
        if (writer->waitingFor(fieldOf(i)) || (edit_flag && i == ui_select))
            continue;
        gain(i)->setText(QString::number(PictureWriter::shown(PictureWriter::stored(fieldOf(i)))));
    }
}

void temperature::followType()
{
    const int stored = storedType();
    if (!(edit_flag && ui_select == 0)) {
        type_index = saved_type_index = uint8_t(stored);
    } else if (type_origin.changedElsewhere({stored})) {
        // Another writer's type while the operator chooses: it is the new start; a type the
        // operator has already moved to stays theirs.
        type_index = uint8_t(type_origin.rebase({int(type_index)}, {stored}).at(0).toInt());
        saved_type_index = uint8_t(stored);
    }
    comboBox_type->setCurrentIndex(type_index);
}

void temperature::para_init()
{
    showGains();
    const Texts& t = kTexts[languageColumn(g_language.load())];
    for (const char* entry : t.entries)
        comboBox_type->addItem(QString::fromUtf8(entry));
    type_index = uint8_t(storedType());
    comboBox_type->setCurrentIndex(type_index);
}

void temperature::menulist_init()
{
    focus_list = {comboBox_type, lineEdit_name_red, lineEdit_name_green, lineEdit_name_blue};
    saved_type_index = type_index;
    ui_select = 0;
    edit_flag = 0;
    focused_edit = lineEdit_name_red;
    focused_edit->setStyleSheet(lineStyle(quality::kStyleNormal));
    comboBox_type->setStyleSheet(QString::fromLatin1(kComboFocused));
    focus_widget = comboBox_type;
}

void temperature::language_changed()
{
    // The selector's entries keep the language the page was opened in.
    const Texts& t = kTexts[languageColumn(g_language.load())];
    label_title->setText(QString::fromUtf8(t.title));
    label_type->setText(QString::fromUtf8(t.type));
    label_name_red->setText(QString::fromUtf8(t.red));
    label_name_green->setText(QString::fromUtf8(t.green));
    label_name_blue->setText(QString::fromUtf8(t.blue));
}

void temperature::syncUpdate(int)
{
    if (PageNav::languageChanged())
        language_changed();
    writer->flush();
    // What the block holds now: a PC tool may have changed a value, also the one being edited.
    showGains();
    followType();
    int shown = 0;
    if (edit_flag && ui_select != 0 && gain_value.follow(&shown))
        focused_edit->setText(QString::number(shown));
}

void temperature::get_sel_value()
{
    focused_edit->setText(QString::number(gain_value.begin(fieldOf(ui_select))));
    focused_edit->setStyleSheet(lineStyle(quality::kStyleEditing));
}

void temperature::updownset_sel_value(char mode)
{
    if (ui_select >= 1 && ui_select <= 3) // written at once, or once the scaler is free
        focused_edit->setText(QString::number(gain_value.key(mode)));
}

void temperature::on_button_type_clicked()
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store)
        return;
    ScalerHandOver handOver;
    // The whole word, so a type stored out of range by the protocol is repaired; a type the block
    // already holds is not written again.
    if (store->u16(blk::kColourTemp) == type_index)
        return;
    store->setU16(blk::kColourTemp, type_index);
    handOver.commit();
}

void temperature::slot_Button_back_clicked()
{
    writer->flush(true);
    PageNav::back(this);
}

void temperature::closeEvent(QCloseEvent* event)
{
    writer->flush(true); // also when MODE closes the page in the middle of an edit
    VyrPage::closeEvent(event);
}

void temperature::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
    const int key = event->key();
    switch (key) {
    case PanelKey::OK:
        qDebug("this is OK button(temperature)[Release]\n");
        if (ui_select == 0) {
            if (!edit_flag) {
                edit_flag = 1;
                followType(); // the choice starts from the type the block holds
                saved_type_index = type_index;
                type_origin.start({int(type_index)});
                comboBox_type->setStyleSheet(QString::fromLatin1(kComboChoosing));
            } else {
                followType(); // another writer's type: the operator's choice is still theirs
                edit_flag = 0;
                type_origin.close();
                comboBox_type->setStyleSheet(QString::fromLatin1(kComboFocused));
                on_button_type_clicked();
                saved_type_index = type_index;
            }
        } else if (!edit_flag) {
            edit_flag = 1;
            get_sel_value();
        } else {
            updownset_sel_value(2);
            edit_flag = 0;
            focused_edit->setStyleSheet(lineStyle(quality::kStyleFocused));
        }
        break;
    case PanelKey::Right:
    case PanelKey::Left: {
        const bool right = key == PanelKey::Right;
        if (right)
            qDebug("this is right-code [temperature][Release] ui_select=%#x", ui_select);
        else
            qDebug("this is left-code [temperature][Release] ui_select=%#x", ui_select);
        if (edit_flag && ui_select == 0) {
            type_index = right ? uint8_t(type_index + 1 >= kTypes ? 0 : type_index + 1)
                               : uint8_t(type_index == 0 ? kTypes - 1 : type_index - 1);
            comboBox_type->setCurrentIndex(type_index); // shown only; written by OK
            break;
        }
        if (edit_flag) {
            updownset_sel_value(right ? 0 : 1);
            break;
        }
        if (ui_select == 0)
            comboBox_type->setStyleSheet(QString::fromLatin1(kComboNormal));
        else
            focused_edit->setStyleSheet(lineStyle(quality::kStyleNormal));
        if (right)
            ui_select = uint8_t(ui_select + 1 >= kItems ? 0 : ui_select + 1);
        else
            ui_select = uint8_t(ui_select == 0 ? kItems - 1 : ui_select - 1);
        if (ui_select == 0) {
            comboBox_type->setStyleSheet(QString::fromLatin1(kComboFocused));
            focus_widget = comboBox_type;
        } else {
            focused_edit = gain(ui_select);
            focused_edit->setStyleSheet(lineStyle(quality::kStyleFocused));
            focus_widget = focused_edit;
        }
        break;
    }
    case PanelKey::Back:
        qDebug("this is back button(temperature)[Release]\n");
        if (!edit_flag) {
            slot_Button_back_clicked();
        } else if (ui_select == 0) {
            // Nothing was written while choosing: the type shown goes back to the block's.
            edit_flag = 0;
            type_origin.close();
            comboBox_type->setStyleSheet(QString::fromLatin1(kComboFocused));
            followType();
        } else {
            updownset_sel_value(3);
            edit_flag = 0;
            focused_edit->setStyleSheet(lineStyle(quality::kStyleFocused));
        }
        break;
    case PanelKey::Mode:
        qDebug("this is mode-code [temperature][Release]");
        PageNav::modeShortcut();
        break;
    default:
        break;
    }
}
