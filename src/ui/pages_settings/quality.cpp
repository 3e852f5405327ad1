#include "ui/pages_settings/quality.h"

#include "base/global.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "scaler/c331_manage.h"
#include "ui/numberkeyboard.h"
#include "ui/pagenav.h"
#include "ui/pages_picture/imagequality.h"
#include "ui/panelkeys.h"
#include "ui/panelwidgets.h"

#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QtDebug>
#include <algorithm>
#include <cstring>

QPointer<quality> g_quality;

// ---- the page ----------------------------------------------------------------------------------------

namespace {

struct Texts {
    const char* title;
    const char* bright;
    const char* sharpness;
    const char* contrast;
    const char* saturation;
    const char* reset;
    const char* press;
};
const Texts kTexts[5] = {
    {"图像效果", "亮度", "锐度", "对比度", "饱和度", "画质复位", "点击OK应用"},
    {"Image quality", "Brightness", "Sharpness", "Contrast", "Saturation", "Reset", "Press Ok"},
    {"Изображение", "Яркость", "Резкость", "Контраст", "Насыщенность", "Сбросить", "Нажмите ОК"},
    {"Chất lượng hình ảnh", "Độ cao", "Độ sắc nét", "Độ tương phản", "Độ bão hòa", "Đặt lại chất lượng hình ảnh",
     "Đồng ý"},
    {"圖像效果", "亮度", "銳度", "對比度", "飽和度", "畫質複位", "點擊OK應用"},
};

constexpr int kItems = 5;     // four values and the reset
constexpr int kResetItem = 4;
constexpr uint32_t kPictureFieldsEnd = blk::kColourBlue + 2; // the reset covers 0x880 up to here

using PanelWidgets::pixels;

}

const char quality::kStyleNormal[] =
    "color:rgb(255,255,255);\nbackground-color: rgb(33, 36, 53);\nborder:1px solid rgb(255, 255, 255);";
const char quality::kStyleFocused[] =
    "color:rgb(255,255,255);\nbackground-color: rgb(33, 36, 53);\nborder:1px solid rgb(255,171,84);";
const char quality::kStyleEditing[] =
    "color:rgb(255,255,255);\nbackground-color: rgb(33, 36, 53);\nborder:1px solid rgb(255,0,0);";

uint32_t quality::fieldOf(int item)
{
    static const uint32_t kFields[4] = {blk::kBrightness, blk::kSharpness, blk::kContrast, blk::kSaturation};
    return item >= 0 && item < 4 ? kFields[item] : 0;
}

quality::quality(QWidget* parent)
    : VyrPage(19, "quality", UiText::TitleQuality, parent), writer(new PictureWriter(this)), value(writer)
{
    frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame"));
    frame->setGeometry(10, 38, 300, 196);
    frame->setStyleSheet(QStringLiteral("#frame{background-color: rgb(16, 16, 28);border:1px solid rgb(255, 255, 255);"
                                        "\nborder-radius:6px;padding:2px 4px}"));
    const char* const labels[kItems] = {"label_bright", "label_Sharpness", "label_Contrast", "label_Saturation",
                                        "label_reset"};
    const char* const edits[kItems] = {"lineEdit_bright", "lineEdit_Sharpness", "lineEdit_Contrast",
                                       "lineEdit_Saturation", "lineEdit_Reset"};
    QLabel* rowLabels[kItems];
    QLineEdit* rowEdits[kItems];
    for (int i = 0; i < kItems; ++i) {
        const int y = 6 + 38 * i;
        auto* l = new QLabel(frame);
        l->setObjectName(QLatin1String(labels[i]));
        l->setGeometry(8, y - 2, 150, 34);
        l->setWordWrap(true);
        l->setFont(pixels(l, 12));
        l->setStyleSheet(QStringLiteral("color:rgb(255,255,255);"));
        rowLabels[i] = l;
        QLineEdit* e = i == kResetItem ? new My_lineEdit(frame) : new QLineEdit(frame);
        e->setObjectName(QLatin1String(edits[i]));
        e->setGeometry(164, y + 1, 126, 26);
        e->setFont(pixels(e, 12));
        e->setAlignment(Qt::AlignCenter);
        e->setReadOnly(true); // worked by the keys only
        e->setFocusPolicy(Qt::NoFocus);
        e->setStyleSheet(QString::fromLatin1(kStyleNormal));
        rowEdits[i] = e;
    }
    label_bright = rowLabels[0];
    label_Sharpness = rowLabels[1];
    label_Contrast = rowLabels[2];
    label_Saturation = rowLabels[3];
    label_reset = rowLabels[4];
    lineEdit_bright = rowEdits[0];
    lineEdit_Sharpness = rowEdits[1];
    lineEdit_Contrast = rowEdits[2];
    lineEdit_Saturation = rowEdits[3];
    lineEdit_Reset = static_cast<My_lineEdit*>(rowEdits[4]);
    para_init();
    menulist_init();
    language_changed();
}

QLineEdit* quality::item(int i) const
{
    QLineEdit* const items[kItems] = {lineEdit_bright, lineEdit_Sharpness, lineEdit_Contrast, lineEdit_Saturation,
                                      lineEdit_Reset};
    return i >= 0 && i < kItems ? items[i] : nullptr;
}

void quality::para_init()
{
    for (int i = 0; i < 4; ++i) {
        if (writer->waitingFor(fieldOf(i)) || (edit_flag && i == ui_select))
            continue; // the page's own value, not yet handed over, or the one being edited
        item(i)->setText(QString::number(PictureWriter::shown(PictureWriter::stored(fieldOf(i)))));
    }
}

void quality::menulist_init()
{
    focus_list = {lineEdit_bright, lineEdit_Sharpness, lineEdit_Contrast, lineEdit_Saturation, lineEdit_Reset};
    ui_select = 0;
    edit_flag = 0;
    for (QWidget* w : focus_list)
        w->setStyleSheet(QString::fromLatin1(kStyleNormal));
    focus_widget = lineEdit_bright;
    focus_widget->setStyleSheet(QString::fromLatin1(kStyleFocused));
}

void quality::language_changed()
{
    const Texts& t = kTexts[languageColumn(g_language.load())];
    label_title->setText(QString::fromUtf8(t.title));
    label_bright->setText(QString::fromUtf8(t.bright));
    label_Sharpness->setText(QString::fromUtf8(t.sharpness));
    label_Contrast->setText(QString::fromUtf8(t.contrast));
    label_Saturation->setText(QString::fromUtf8(t.saturation));
    label_reset->setText(QString::fromUtf8(t.reset));
    lineEdit_Reset->setText(QString::fromUtf8(t.press));
}

void quality::syncUpdate(int)
{
    if (PageNav::languageChanged())
        language_changed();
    writer->flush();
    // What the block holds now: a PC tool may have changed a value, also the one being edited.
    para_init();
    int shown = 0;
    if (edit_flag && value.follow(&shown))
        static_cast<QLineEdit*>(focus_widget)->setText(QString::number(shown));
}

void quality::get_sel_value()
{
    auto* edit = static_cast<QLineEdit*>(focus_widget);
    edit->setText(QString::number(value.begin(fieldOf(ui_select))));
    edit->setStyleSheet(QString::fromLatin1(kStyleEditing));
}

void quality::updownset_sel_value(char mode)
{
    if (ui_select < 4) // written at once, or once the scaler is free
        static_cast<QLineEdit*>(focus_widget)->setText(QString::number(value.key(mode)));
}

void quality::on_Button_reset_clicked()
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store)
        return;
    writer->drop(); // the defaults supersede any value still waiting
    {
        ScalerHandOver handOver;
        const uint32_t from = blk::kBrightness;
        store->setBytes(from, default_para_ramlist + (from - kPersistStart + 2), kPictureFieldsEnd - from);
        handOver.commit();
    }
    para_init(); // the defaults on the page at once, so the next edit starts from them
}

void quality::slot_Button_back_clicked()
{
    writer->flush(true);
    PageNav::back(this);
}

void quality::closeEvent(QCloseEvent* event)
{
    writer->flush(true); // also when MODE closes the page in the middle of an edit
    VyrPage::closeEvent(event);
}

void quality::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
    switch (event->key()) {
    case PanelKey::OK:
        qDebug("this is OK button(quality)[Release]\n");
        if (edit_flag) {
            edit_flag = 0;
            updownset_sel_value(2);
            focus_widget->setStyleSheet(QString::fromLatin1(kStyleFocused));
        } else if (ui_select == kResetItem) {
            on_Button_reset_clicked();
        } else {
            edit_flag = 1;
            get_sel_value();
        }
        break;
    case PanelKey::Right:
    case PanelKey::Left: {
        const bool right = event->key() == PanelKey::Right;
        if (right)
            qDebug("this is right-code [quality][Release] ui_select=%#x", ui_select);
        else
            qDebug("this is left-code [quality][Release] ui_select=%#x", ui_select);
        if (edit_flag) {
            updownset_sel_value(right ? 0 : 1);
            break;
        }
        focus_widget->setStyleSheet(QString::fromLatin1(kStyleNormal));
        if (right)
            ui_select = uint8_t(ui_select + 1 >= kItems ? 0 : ui_select + 1);
        else
            ui_select = uint8_t(ui_select == 0 ? kItems - 1 : ui_select - 1);
        focus_widget = item(ui_select);
        focus_widget->setStyleSheet(QString::fromLatin1(kStyleFocused));
        break;
    }
    case PanelKey::Back:
        qDebug("this is back button(quality)[Release]\n");
        if (edit_flag) {
            edit_flag = 0;
            updownset_sel_value(3);
            focus_widget->setStyleSheet(QString::fromLatin1(kStyleFocused));
        } else {
            slot_Button_back_clicked();
        }
        break;
    case PanelKey::Mode:
        qDebug("this is mode-code [quality][Release]");
        PageNav::modeShortcut();
        break;
    default:
        break;
    }
}
