#include "ui/pages_picture/imagelayout.h"

#include "base/global.h"
#include "params/alias_names.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "ui/blocksnapshot.h"
#include "ui/option.h"
#include "ui/pagenav.h"
#include "ui/panelkeys.h"
#include "ui/panelwidgets.h"

#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>

QPointer<ImageLayout> g_imagelayout;

namespace {

struct Texts {
    const char* p2p;
    const char* w;
    const char* h;
    const char* mirror;
    const char* name;   // followed by the alias
    const char* image;  // "Name:Image%1"
    const char* source;
    const char* state;
    const char* on;
    const char* off;
    const char* hor;
    const char* ver;
};
const Texts kTexts[5] = {
    {"点对点", "宽", "高", "镜像", "名称:", "名称:画面%1", "信号源:", "画面状态:", "开", "关", "HD3,HD4 横向", "HD3,HD4 纵向"},
    {"DBD", "W", "H", "mirror", "Name:", "Name:Image%1", "Source:", "Image state:", "ON", "OFF", "HD3,HD4 Hor", "HD3,HD4 Ver"},
    {"Точка-в-точку", "Ш", "В", "Зеркало", "Имя:", "Имя:Окно%1", "Источник:", "Состояние:", "ВКЛ", "ВЫКЛ", "HD3,HD4 гор.", "HD3,HD4 верт."},
    {"Điểm-điểm", "R", "C", "Gương", "Tên:", "Tên:Cửa sổ%1", "Nguồn:", "Trạng thái:", "BẬT", "TẮT", "HD3,HD4 Ngang", "HD3,HD4 Dọc"},
    {"點對點", "寬", "高", "鏡像", "名稱:", "名稱:畫面%1", "信號源:", "畫面狀態:", "開", "關", "HD3,HD4 橫向", "HD3,HD4 縱向"},
};
const Texts& texts() { return kTexts[languageColumn(g_language.load())]; }

const char* const kInputNames[6] = {"EXT", "DVI", "HDMI1", "HDMI2", "HDMI3", "HDMI4"};

using PanelWidgets::pixels;

QLabel* label(QWidget* parent, const char* name, QRect r) { return PanelWidgets::label(parent, QLatin1String(name), r, 11); }

QLineEdit* value(QWidget* parent, const char* name, QRect r)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    e->setGeometry(r);
    e->setFont(pixels(e, 11));
    e->setAlignment(Qt::AlignCenter);
    e->setFocusPolicy(Qt::NoFocus);
    e->setReadOnly(true);
    e->setStyleSheet(QStringLiteral("color:rgb(255,255,255);border:1px solid rgb(255,255,255);"));
    return e;
}

}

ImageLayout::ImageLayout(QWidget* parent)
    : VyrPage(9, "ImageLayout", UiText::TitleImageLayout, parent)
{
    initMenuPictures();
    static const QColor kColours[6] = {QColor(134, 122, 233), QColor(0, 90, 141),   QColor(57, 169, 203),
                                       QColor(235, 168, 58),  QColor(255, 150, 173), QColor(213, 229, 255)};
    frame_image = new QFrame(this);
    frame_image->setObjectName(QStringLiteral("frame_image"));
    frame_image->setStyleSheet(QStringLiteral("#frame_image{border:1px solid;border-left-color:rgb(255,171,84);"
                                              "border-right-color:rgb(255,171,84);border-top-color:rgb(255,171,84);}"));
    for (int k = 0; k < 6; ++k) {
        number[k] = label(this, qPrintable(QStringLiteral("label%1").arg(k + 1)), QRect(10 + 51 * k, 42, 45, 40));
        number[k]->setAlignment(Qt::AlignCenter);
        number[k]->setText(QString::number(k + 1));
        number[k]->setStyleSheet(PanelWidgets::boxStyle(kColours[k]));
    }
    frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame"));
    frame->setGeometry(7, 87, 306, 148);
    frame->setStyleSheet(QStringLiteral("#frame{border:1px solid rgb(255,171,84);}"));
    image_name = label(frame, "image_name", QRect(5, 6, 145, 20));
    image_name->setTextFormat(Qt::PlainText); // the alias comes from an uploaded file
    image_source = label(frame, "image_source", QRect(155, 6, 146, 20));
    image_state = label(frame, "image_state", QRect(5, 32, 200, 20));
    label_P2P = label(frame, "label_P2P", QRect(5, 55, 100, 20));
    comboBox_P2P = new QComboBox(frame);
    comboBox_P2P->setObjectName(QStringLiteral("comboBox_P2P"));
    comboBox_P2P->setGeometry(108, 55, 120, 20);
    comboBox_P2P->setFocusPolicy(Qt::NoFocus);
    comboBox_P2P->setFont(pixels(comboBox_P2P, 11));
    comboBox_P2P->setStyleSheet(QStringLiteral("color:rgb(255,255,255);"));
    const Texts& t = texts(); // the items keep the language of the page's creation
    comboBox_P2P->addItems({QString::fromUtf8(t.off), QString::fromUtf8(t.on), QString::fromUtf8(t.hor), QString::fromUtf8(t.ver)});
    label_X = label(frame, "label_X", QRect(3, 88, 12, 16));
    label_X->setText(QStringLiteral("X"));
    lineEdit_X = value(frame, "lineEdit_X", QRect(16, 86, 46, 20));
    label_Y = label(frame, "label_Y", QRect(70, 88, 12, 16));
    label_Y->setText(QStringLiteral("Y"));
    lineEdit_Y = value(frame, "lineEdit_Y", QRect(83, 86, 46, 20));
    label_W = label(frame, "label_W", QRect(133, 88, 35, 16));
    label_W->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lineEdit_W = value(frame, "lineEdit_W", QRect(171, 86, 46, 20));
    label_H = label(frame, "label_H", QRect(218, 88, 35, 16));
    label_H->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lineEdit_H = value(frame, "lineEdit_H", QRect(255, 86, 46, 20));
    label_mirror = label(frame, "label_mirror", QRect(5, 119, 108, 16));
    static const int kMirrorX[4] = {117, 168, 221, 263};
    for (int k = 0; k < 4; ++k) {
        mirror[k] = new QLabel(frame);
        mirror[k]->setObjectName(QStringLiteral("mirror%1").arg(k + 1));
        mirror[k]->setGeometry(kMirrorX[k], 109, 32, 32);
    }
    image_init();
    image_para_update();
    language_changed();
}

void ImageLayout::language_changed()
{
    VyrPage::language_changed();
    const Texts& t = texts();
    label_P2P->setText(QString::fromUtf8(t.p2p));
    label_W->setText(QString::fromUtf8(t.w));
    label_H->setText(QString::fromUtf8(t.h));
    label_mirror->setText(QString::fromUtf8(t.mirror));
}

void ImageLayout::syncUpdate(int code)
{
    VyrPage::syncUpdate(code);
    // The page shows data only: what a PC tool or the box changed shows at once.
    image_init();
    image_para_update();
}

void ImageLayout::image_init()
{
    frame_image->setGeometry(51 * ui_select + 7, 39, 51, 49);
    frame_image->lower();
    const BlockSnapshot b(VyrRamPara::p_vyrrampara_config);
    const bool on = blk::windowShown(b.block(), ui_select);
    const Texts& t = texts();
    image_state->setText(QString::fromUtf8(t.state) + QString::fromUtf8(on ? t.on : t.off));
}

void ImageLayout::image_para_update()
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store)
        return;
    const int w = shown_window;
    const Texts& t = texts();
    ALIAS_PARA alias_para;
    if (!get_json_alias_para(&alias_para, "win", w)) {
        image_name->setText(QString::fromUtf8(t.image).arg(w + 1));
    } else {
        const QString alias = QString::fromStdString(alias_para.name);
        const QString prefix = QString::fromUtf8(t.name);
        const QFontMetrics fm(image_name->font());
        image_name->setText(prefix + fm.elidedText(alias, Qt::ElideRight, image_name->width() - fm.horizontalAdvance(prefix)));
    }
    int16_t isCrop = 0;
    int8_t cropIndex = 0;
    const BlockSnapshot b(store); // a PC tool may be writing the record meanwhile
    const int32_t input = store->VyrGetImageSource(b.block(), uint8_t(w), &isCrop, &cropIndex, 0);
    image_source->setText(QString::fromUtf8(t.source) +
                          (input >= 0 && input < 6 ? QLatin1String(kInputNames[input]) : QLatin1String(kInputNames[0])));
    lineEdit_X->setText(QString::number(b.u16(blk::window(w, blk::win::kX))));
    lineEdit_Y->setText(QString::number(b.u16(blk::window(w, blk::win::kY))));
    lineEdit_W->setText(QString::number(b.u16(blk::window(w, blk::win::kWidth))));
    lineEdit_H->setText(QString::number(b.u16(blk::window(w, blk::win::kHeight))));
    mirror_select(b.u16(blk::window(w, blk::win::kMirror)));
    if ((b.u8(blk::window(w, blk::win::kPointToPoint)) & 1) == 0) {
        comboBox_P2P->setCurrentIndex(0);
    } else {
        switch (b.u16(blk::window(w, blk::win::kDotByDot))) {
        case 0: comboBox_P2P->setCurrentIndex(1); break;
        case 8: comboBox_P2P->setCurrentIndex(2); break;
        case 9: comboBox_P2P->setCurrentIndex(3); break;
        default: break; // unknown stitching mode: the index stays
        }
    }
}

void ImageLayout::mirror_select(int mode)
{
    if (mode < 0 || mode > 3)
        return; // unknown mode: the pictures stay
    mirror_lit = mode;
    for (int k = 0; k < 4; ++k) {
        const QString path = QStringLiteral(":/png/mirror%1_%2.png").arg(k + 1).arg(k == mode ? QStringLiteral("on") : QStringLiteral("off"));
        mirror[k]->setPixmap(QPixmap(path).scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }
}

void ImageLayout::keyReleaseEvent(QKeyEvent* event)
{
    const int key = event->key();
    if (key != PanelKey::Left && key != PanelKey::Right) {
        VyrPage::keyReleaseEvent(event); // OK nothing, BACK, MODE
        return;
    }
    event->accept();
    if (key == PanelKey::Left)
        ui_select = uint8_t(ui_select == 0 ? 5 : ui_select - 1);
    else
        ui_select = uint8_t(ui_select >= 5 ? 0 : ui_select + 1);
    shown_window = ui_select;
    image_init();
    image_para_update();
}
