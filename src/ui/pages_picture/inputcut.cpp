#include "ui/pages_picture/inputcut.h"

#include "base/global.h"
#include "base/logMsg.h"
#include "params/alias_names.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "scaler/c331_manage.h"
#include "ui/inputtexts.h"
#include "ui/blocksnapshot.h"
#include "ui/numberkeyboard.h"
#include "ui/pagenav.h"
#include "ui/pages_picture/inputchoose.h"
#include "ui/panelkeys.h"
#include "ui/sourceinfo.h"
#include "ui/panelwidgets.h"

#include <QFontMetrics>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QtDebug>
#include <algorithm>
#include <cstring>

QPointer<InputCut> g_inputcut;
// The panel's keypad; tests put their own in its place.
std::function<bool(const QString&, const QString&, int, int, int*)> InputCut::askNumber =
    [](const QString& title, const QString& value, int min, int max, int* out) {
        return g_numberkeyboard && g_numberkeyboard->getNumber(title, value, min, max, out);
    };

namespace {

struct Texts {
    const char* crop;
    const char* w;
    const char* h;
    const char* cancel;
    const char* ok;
    const char* del;
    const char* prefix;
    const char* keypadW;
    const char* keypadH;
    const char* full;
    const char* outside;
    const char* gone;
};
const Texts kTexts[5] = {
    {"截取:", "宽", "高", "取消", "确定", "删除", "名称:", "宽度", "高度", "截取表已满，无法添加",
     "超出输入画面范围", "该截取已被修改"},
    {"Crop:", "W", "H", "Cancle", "OK", "Delete", "Name:", "W", "H", "Crop table full, nothing added",
     "Outside the input picture", "The crop was changed meanwhile"},
    {"Обрез:", "Ш", "В", "Отмена", "ОК", "Удал.", "Имя:", "Ш", "В", "Таблица обрезки заполнена",
     "Вне кадра входа", "Обрезка уже изменена"},
    {"Cắt:", "R", "C", "Hủy", "OK", "Xóa", "Tên:", "R", "C", "Bảng cắt đã đầy", "Vượt ngoài ảnh đầu vào",
     "Vùng cắt đã bị thay đổi"},
    {"截取:", "寬", "高", "取消", "確定", "刪除", "名稱:", "寬度", "高度", "截取表已滿，無法添加",
     "超出輸入畫面範圍", "該截取已被修改"},
};
const Texts& texts() { return kTexts[languageColumn(g_language.load())]; }
QString tr8(const char* s) { return QString::fromUtf8(s); }

const char kMarkerLevel0[] = "border:1px solid;background-color: rgb(16,16, 28);border-left-color:rgb(255,171,84);"
                             "border-right-color:rgb(255,171,84);border-top-color:rgb(255,171,84);";
const char kMarkerOther[] = "border:1px solid;background-color: rgb(16,16, 28);border-left-color:rgb(71, 119, 255);"
                            "border-right-color:rgb(71, 119, 255);border-top-color:rgb(71, 119, 255);";
const char kListLevel0[] = "#frame_source{background-color: rgb(16,16, 28);border:1px solid rgb(255,171,84);}";
const char kListOther[] = "#frame_source{background-color: rgb(16,16, 28);border:1px solid rgb(71, 119, 255);}";
const char kAddFocused[] = "border:1px solid rgb(255,171,84);";
const char kAddNormal[] = "border:0px solid rgb(0,0,0);";
const char kTileText[] = "background-color:#212435;color:#FFFFFF";

constexpr int kTilesPerPage = 6;

VyrRamPara* store() { return VyrRamPara::p_vyrrampara_config; }

using PanelWidgets::pixels;

QLabel* makeLabel(QWidget* parent, const char* name, QRect r)
{
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(r);
    l->setFont(pixels(l->font(), 10));
    l->setStyleSheet(QStringLiteral("color:rgb(255,255,255);"));
    return l;
}

// The add button's plus, drawn here rather than kept as a picture file.
QPixmap addPicture()
{
    QPixmap pixmap(20, 20);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(255, 255, 255), 1.5));
    painter.drawEllipse(QRectF(1.5, 1.5, 17, 17));
    painter.setPen(QPen(QColor(255, 171, 84), 2.5, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(10, 5.5), QPointF(10, 14.5));
    painter.drawLine(QPointF(5.5, 10), QPointF(14.5, 10));
    return pixmap;
}

QPushButton* makeButton(QWidget* parent, const char* name)
{
    auto* b = new QPushButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setFocusPolicy(Qt::NoFocus);
    b->setAutoDefault(false); // Enter must never click a button behind the keys' back
    b->setFont(pixels(b->font(), 10));
    b->hide();
    return b;
}

}

bool InputCut::inputTiming(uint8_t input, int* width, int* height, int* rate)
{
    if (input > 5)
        return false;
    // One moment of the record: the input drivers and the protocol write it while the page reads.
    const BlockSnapshot s(store());
    const uint32_t at = blk::inputResolution(input);
    const uint16_t w = s.u16(at), h = s.u16(at + 2), r = s.u16(at + 4);
    if (!s.valid() || !w || !h || !r)
        return false;
    *width = w;
    *height = h;
    if (rate)
        *rate = r;
    return true;
}

InputCut::InputCut(QWidget* parent)
    : VyrPage(7, "InputCut", UiText::TitleInputCut, parent),
      tile_focused(QStringLiteral("background-color: #212435;border:1px solid #FFA854;")),
      tile_normal(QStringLiteral("background-color: #212435;border:1px solid #CCCCCC;")),
      field_normal(QStringLiteral("color:rgb(255, 255, 255);background-color: rgb(33, 36, 53);border:1px solid rgb(255, 255, 255);font:10px")),
      field_focused(QStringLiteral("color:rgb(255, 255, 255);background-color: rgb(33, 36, 53);border:1px solid rgb(255,171,84);font:10px"))
{
    for (int k = 0; k < 6; ++k) {
        const uint8_t id = sourceinfo::get_source_id_by_listseq(uint8_t(k));
        tab_name[k] = makeLabel(this, qPrintable(QStringLiteral("sourcelistseq%1name").arg(k)), QRect(2 + 53 * k, 43, 51, 14));
        tab_name[k]->setAlignment(Qt::AlignCenter);
        tab_name[k]->setTextFormat(Qt::RichText);
        tab_name[k]->setText(sourceinfo::get_source_specialstyle0_by_sourceid(id).arg(sourceinfo::get_source_name_by_listseq(uint8_t(k))));
        tab_pixmap[k] = new QLabel(this);
        tab_pixmap[k]->setObjectName(QStringLiteral("sourcelistseq%1pixmap").arg(k));
        tab_pixmap[k]->setGeometry(7 + 53 * k, 60, 40, 12);
        tab_pixmap[k]->setScaledContents(true);
        sourceinfo::set_source_pixmap(tab_pixmap[k], id);
    }
    tab_marker = new QFrame(this);
    tab_marker->setObjectName(QStringLiteral("tab_marker"));
    tab_marker->setGeometry(1, 40, 53, 41);
    tab_marker->setStyleSheet(QLatin1String(kMarkerLevel0));
    tab_marker->lower();

    frame_add = new QFrame(this);
    frame_add->setObjectName(QStringLiteral("frame_add"));
    frame_add->setGeometry(6, 145, 310, 50);
    frame_add->setFrameShape(QFrame::StyledPanel);
    frame_add->setFrameShadow(QFrame::Raised);
    frame_add->setStyleSheet(QStringLiteral("#frame_add{background-color: rgb(16,16, 28);border:1px solid rgb(71, 119, 255);}"));
    label_change_source = makeLabel(frame_add, "label_change_source", QRect(5, 4, 300, 14));
    label_crop = makeLabel(frame_add, "label_crop", QRect(3, 28, 36, 16));
    label_X = makeLabel(frame_add, "label_X", QRect(38, 28, 12, 16));
    label_Y = makeLabel(frame_add, "label_Y", QRect(96, 28, 12, 16));
    label_W = makeLabel(frame_add, "label_W", QRect(152, 28, 26, 16));
    label_H = makeLabel(frame_add, "label_H", QRect(224, 28, 26, 16));
    for (QLabel* l : {label_crop, label_X, label_Y, label_W, label_H})
        l->setAlignment(Qt::AlignCenter);
    lineEdit_X = new My_lineEdit(frame_add);
    lineEdit_X->setObjectName(QStringLiteral("lineEdit_X"));
    lineEdit_X->setGeometry(50, 28, 44, 16);
    lineEdit_Y = new My_lineEdit(frame_add);
    lineEdit_Y->setObjectName(QStringLiteral("lineEdit_Y"));
    lineEdit_Y->setGeometry(108, 28, 44, 16);
    lineEdit_W = new My_lineEdit(frame_add);
    lineEdit_W->setObjectName(QStringLiteral("lineEdit_W"));
    lineEdit_W->setGeometry(178, 28, 44, 16);
    lineEdit_H = new My_lineEdit(frame_add);
    lineEdit_H->setObjectName(QStringLiteral("lineEdit_H"));
    lineEdit_H->setGeometry(250, 28, 44, 16);
    for (My_lineEdit* e : {lineEdit_X, lineEdit_Y, lineEdit_W, lineEdit_H}) {
        e->setFocusPolicy(Qt::NoFocus);
        e->setReadOnly(true); // edited only through the keypad
        e->setAlignment(Qt::AlignCenter);
        e->setStyleSheet(field_normal);
        connect(e, &My_lineEdit::send_show, this, &InputCut::show_numberkeyboard_ui);
    }
    frame_add->hide();

    button_delete = makeButton(this, "button_delete");
    button_cancel = makeButton(this, "button_cancel");
    button_ok = makeButton(this, "button_ok");
    for (QPushButton* b : {button_delete, button_cancel, button_ok})
        b->setStyleSheet(field_normal);

    label_note = makeLabel(this, "label_note", QRect(4, 200, 312, 16));
    label_note->setAlignment(Qt::AlignCenter);
    label_note->setStyleSheet(QStringLiteral("color:rgb(255,96,96);"));
    label_note->hide();

    current_input = sourceinfo::get_source_id_by_listseq(0);
    current_name = sourceinfo::get_source_name_by_listseq(0);
    if (store())
        store()->VyrCropSourceInit();
    crop_source_num_update();
    source_init();
    language_changed();
}

void InputCut::language_changed()
{
    VyrPage::language_changed();
    const Texts& t = texts();
    label_crop->setText(tr8(t.crop));
    label_X->setText(QStringLiteral("X"));
    label_Y->setText(QStringLiteral("Y"));
    label_W->setText(tr8(t.w));
    label_H->setText(tr8(t.h));
    button_cancel->setText(tr8(t.cancel));
    button_ok->setText(tr8(t.ok));
    button_delete->setText(tr8(t.del));
    if (level >= 2)
        label_change_source->setText(tr8(t.prefix) + current_name +
                                     QStringLiteral("-Crop-%1").arg(level == 2 ? source_count[current_input] : current_entry));
    showNote(note_);
    source_init(); // "No signal" is a text of the language too
}

void InputCut::syncUpdate(int code)
{
    if (PageNav::languageChanged())
        language_changed();
    VyrRamPara* s = store();
    if (!s)
        return;
    bool differs = code == 103;
    {
        ScalerHandOver lock; // the protocol writes the table and the save slot the shadow under it
        const uint32_t from = blk::cropEntry(0), to = blk::cropEntry(kCropCount);
        differs |= memcmp(s->view() + from, s->shadow + from, to - from) != 0;
    }
    if (!differs)
        return;
    // At any level; an open editor keeps what it shows and is checked again at its OK.
    s->VyrCropSourceInit();
    crop_source_num_update();
    source_init();
}

uint8_t InputCut::get_source_num(uint8_t id) const
{
    return id > 5 ? 0 : source_count[id];
}

void InputCut::crop_source_num_update()
{
    VyrRamPara* s = store();
    for (uint8_t id = 0; id < 6; ++id)
        source_count[id] = uint8_t((s ? s->VyrGetSourceNum(id, int(kCropCount)) : 0) + 1);
    source_name_update();
}

void InputCut::source_name_update()
{
    for (uint8_t k = 0; k < 6; ++k) {
        const uint8_t id = sourceinfo::get_source_id_by_listseq(k);
        ALIAS_PARA alias;
        QString name;
        if (get_json_alias_para(&alias, "source", id)) {
            const QFont f = pixels(tab_name[k]->font(), 9);
            name = QFontMetrics(f).elidedText(QString::fromStdString(alias.name), Qt::ElideRight, tab_name[k]->width() - 16);
            name = name.toHtmlEscaped();
        } else {
            name = sourceinfo::get_source_name_by_listseq(k);
        }
        tab_name[k]->setText(sourceinfo::get_source_specialstyle1_by_sourceid(id, name, source_count[id]));
    }
}

uint8_t InputCut::source_current_check()
{
    VyrRamPara* s = store();
    const uint8_t n = uint8_t((s ? s->VyrGetSourceNum(current_input, int(kCropCount)) : 0) + 1);
    source_count[current_input] = n;
    last_page = uint8_t(n / kTilesPerPage - (n % kTilesPerPage == 0 ? 1 : 0));
    return n;
}

void InputCut::vyr_button_input_clicked()
{
    if (level == 0) {
        current_input = sourceinfo::get_source_id_by_listseq(ui_select);
        current_name = sourceinfo::get_source_name_by_listseq(ui_select);
        tab_marker->move(1 + 53 * ui_select, 40);
        tab_marker->setStyleSheet(QLatin1String(kMarkerLevel0));
    } else {
        tab_marker->setStyleSheet(QLatin1String(kMarkerOther));
    }
    source_init();
}

void InputCut::source_init()
{
    VyrRamPara* s = store();
    const uint8_t n = source_current_check();
    const int p = current_page;
    const int tiles = qBound(0, int(n) - kTilesPerPage * p, kTilesPerPage);

    delete frame_source;
    frame_source = new QFrame(this);
    frame_source->setObjectName(QStringLiteral("frame_source"));
    frame_source->setGeometry(1, 80, 318, 120);
    frame_source->setStyleSheet(QLatin1String(level == 0 ? kListLevel0 : kListOther));
    const QFont font = pixels(frame_source->font(), 10);
    for (int i = 0; i < tiles; ++i) {
        const int e = kTilesPerPage * p + i;
        auto* tile = new QFrame(frame_source);
        tile->setObjectName(QStringLiteral("tile%1").arg(i));
        tile->setProperty("entry", e);
        tile->setGeometry(2 + 98 * (i % 3), 10 + 55 * (i / 3), 97, 45);
        const bool focused = level == 1 && ((p == 0 && ui_select == i + 1) || (p >= 1 && ui_select == i));
        tile->setStyleSheet(focused ? tile_focused : tile_normal);
        tile->setProperty("focused", focused);
        auto* state = new QLabel(tile);
        state->setGeometry(5, 2, 7, 7);
        state->setScaledContents(true);
        state->setPixmap(QPixmap(QStringLiteral(":/png/state_on.png")));
        state->setStyleSheet(QStringLiteral("background-color: #212435;border:0px;"));
        auto* picture = new QLabel(tile);
        picture->setGeometry(15, 2, 25, 8);
        picture->setScaledContents(true);
        picture->setStyleSheet(QStringLiteral("background-color: #212435;border:0px;"));
        sourceinfo::set_source_pixmap(picture, current_input == 1 ? 1 : 0);
        auto* name = new QLabel(tile);
        name->setObjectName(QStringLiteral("entry_name"));
        name->setGeometry(1, 13, 95, 14);
        name->setFont(font);
        name->setStyleSheet(QLatin1String(kTileText) + QStringLiteral(";border:0px;"));
        auto* size = new QLabel(tile);
        size->setObjectName(QStringLiteral("entry_size"));
        size->setGeometry(1, 28, 95, 14);
        size->setFont(font);
        size->setStyleSheet(QLatin1String(kTileText) + QStringLiteral(";border:0px;"));
        if (e == 0) {
            name->setText(current_name);
            int w = 0, h = 0, r = 0;
            if (inputTiming(current_input, &w, &h, &r))
                size->setText(QStringLiteral("%1x%2@%3Hz").arg(w).arg(h).arg(r));
            else
                size->setText(inText(InText::NoSignal));
        } else if (s) {
            CROP_PARA crop = {};
            int j = int(kCropCount);
            s->VyrGetCropPara(current_input, uint32_t(e), &crop, &j);
            ALIAS_PARA alias;
            name->setTextFormat(Qt::PlainText); // an alias from an uploaded file is shown as written
            if (j < int(kCropCount) && get_json_alias_para(&alias, "crop", j))
                name->setText(QFontMetrics(font).elidedText(QString::fromStdString(alias.name), Qt::ElideRight, name->width()));
            else
                name->setText(current_name + QStringLiteral("_crop%1").arg(blk::crop::number(uint16_t(crop.id))));
            size->setText(QStringLiteral("%1x%2").arg(crop.width).arg(crop.height));
        }
    }
    button_add = new QPushButton(frame_source);
    button_add->setObjectName(QStringLiteral("button_add"));
    button_add->setGeometry(296, 10, 20, 20);
    button_add->setIcon(QIcon(addPicture()));
    button_add->setIconSize(QSize(20, 20));
    button_add->setFocusPolicy(Qt::NoFocus);
    button_add->setAutoDefault(false);
    button_add->setStyleSheet(QLatin1String(level == 1 && p == 0 && ui_select == 0 ? kAddFocused : kAddNormal));
    button_add->setVisible(level < 2);
    frame_source->lower();
    tab_marker->lower();
    frame_source->show();
}

bool InputCut::tableFull() const
{
    // Counted on one copy of the table, which the protocol may be rewriting meanwhile.
    const BlockSnapshot s(store());
    if (!s.valid())
        return true;
    uint32_t taken = 0; // entries naming no input of the box also take a slot
    uint32_t used = 0;
    bool numberUsed[kCropCount + 1] = {}; // the input's crop numbers 1-40, as the store hands them out
    for (uint32_t k = 0; k < kCropCount; ++k) {
        const uint16_t id = s.u16(blk::cropField(k, blk::crop::kId));
        if (!blk::crop::used(id))
            continue;
        ++taken;
        if (blk::crop::source(id) > 5)
            continue;
        ++used;
        if (blk::crop::source(id) == current_input && blk::crop::number(id) <= kCropCount)
            numberUsed[blk::crop::number(id)] = true;
    }
    const bool numberFree = std::find(numberUsed + 1, numberUsed + kCropCount + 1, false) != numberUsed + kCropCount + 1;
    return taken >= kCropCount || used >= kCropCount || !numberFree;
}

void InputCut::showNote(Note note)
{
    note_ = note;
    const Texts& t = texts();
    switch (note) {
    case Note::None: label_note->hide(); return;
    case Note::TableFull: label_note->setText(tr8(t.full)); break;
    case Note::OutsideInput: label_note->setText(tr8(t.outside)); break;
    case Note::CropGone: label_note->setText(tr8(t.gone)); break;
    }
    label_note->show();
    label_note->raise();
}

void InputCut::vyr_button_add_clicked()
{
    button_add->hide();
    const Texts& t = texts();
    label_change_source->setText(tr8(t.prefix) + current_name + QStringLiteral("-Crop-%1").arg(source_count[current_input]));
    lineEdit_X->setText(QStringLiteral("0"));
    lineEdit_Y->setText(QStringLiteral("0"));
    // The whole picture of the input, so that OK at once stores a crop the check below accepts.
    int w = 1920, h = 1080;
    inputTiming(current_input, &w, &h);
    lineEdit_W->setText(QString::number(w));
    lineEdit_H->setText(QString::number(h));
    edit_index = -1;
    edit_id = 0;
    origin_.close();
    button_cancel->setGeometry(80, 218, 60, 18);
    button_ok->setGeometry(150, 218, 60, 18);
    frame_add->show();
    frame_add->raise();
    button_cancel->show();
    button_ok->show();
}

void InputCut::vyr_button_source_clicked()
{
    current_entry = uint8_t(current_page == 0 ? ui_select - 1 : kTilesPerPage * current_page + ui_select);
    if (current_entry == 0) {
        para_changed_over();
        return;
    }
    VyrRamPara* s = store();
    CROP_PARA crop = {};
    int j = int(kCropCount);
    if (s)
        s->VyrGetCropPara(current_input, current_entry, &crop, &j);
    if (j >= int(kCropCount)) {
        // Gone since the list was drawn.
        edit_index = -1;
        showNote(Note::CropGone);
        para_changed_over();
        return;
    }
    button_add->hide();
    label_change_source->setText(tr8(texts().prefix) + current_name + QStringLiteral("-Crop-%1").arg(current_entry));
    lineEdit_X->setText(QString::number(crop.x));
    lineEdit_Y->setText(QString::number(crop.y));
    lineEdit_W->setText(QString::number(crop.width));
    lineEdit_H->setText(QString::number(crop.height));
    edit_index = j;
    edit_id = uint16_t(crop.id);
    origin_.start(fieldValues());
    button_delete->setGeometry(50, 218, 60, 18);
    button_cancel->setGeometry(120, 218, 60, 18);
    button_ok->setGeometry(190, 218, 60, 18);
    frame_add->show();
    frame_add->raise();
    button_delete->show();
    button_cancel->show();
    button_ok->show();
}

QVariantList InputCut::fieldValues() const
{
    return {lineEdit_X->text().toInt(), lineEdit_Y->text().toInt(), lineEdit_W->text().toInt(), lineEdit_H->text().toInt()};
}

// True when the edited crop is no longer the one the editor opened on, or the protocol rewrote its
// rectangle meanwhile: then nothing is stored. A swapped crop closes the editor; a rewritten one
// shows the new values in the fields the operator did not type and stays open for a second OK,
// unless nothing was typed at all.
bool InputCut::changedUnderEditor()
{
    VyrRamPara* s = store();
    if (level != 3 || !s)
        return false;
    // The entry number was taken at the opening; the protocol may have changed the table since.
    s->VyrCropSourceInit();
    CROP_PARA now = {};
    int j = int(kCropCount);
    s->VyrGetCropPara(current_input, current_entry, &now, &j);
    if (j != edit_index || uint16_t(now.id) != edit_id) {
        showNote(Note::CropGone);
        closeEditor();
        return true;
    }
    const QVariantList stored = {now.x, now.y, now.width, now.height};
    if (!origin_.changedElsewhere(stored))
        return false;
    const QVariantList shown = origin_.rebase(fieldValues(), stored);
    for (int i = 0; i < 4; ++i)
        fieldAt(i)->setText(QString::number(shown.at(i).toInt()));
    writeLogMsg(LOG_INFO, QStringLiteral("crop %1 of input %2 rewritten elsewhere while its editor was open")
                              .arg(current_entry).arg(current_input).toStdString());
    if (origin_.changedByOperator(shown))
        showNote(Note::CropGone);
    else
        closeEditor();
    return true;
}

// Stores the editor's rectangle; a refused one writes nothing and leaves the editor open with the reason.
void InputCut::vyr_button_ok_clicked()
{
    if (changedUnderEditor())
        return;
    VyrRamPara* s = store();
    bool ok[4] = {};
    const int x = lineEdit_X->text().toInt(&ok[0]);
    const int y = lineEdit_Y->text().toInt(&ok[1]);
    const int w = lineEdit_W->text().toInt(&ok[2]);
    const int h = lineEdit_H->text().toInt(&ok[3]);
    bool valid = s && ok[0] && ok[1] && ok[2] && ok[3] && x >= 0 && y >= 0 && w >= 1 && h >= 1
        && x + w <= kMaxCoordinate && y + h <= kMaxCoordinate;
    int iw = 0, ih = 0;
    if (valid && inputTiming(current_input, &iw, &ih))
        valid = x + w <= iw && y + h <= ih;
    if (!valid) {
        writeLogMsg(LOG_WARNING, QStringLiteral("crop %1,%2 %3x%4 of input %5 refused")
                                     .arg(lineEdit_X->text(), lineEdit_Y->text(), lineEdit_W->text(), lineEdit_H->text())
                                     .arg(current_input)
                                     .toStdString());
        showNote(Note::OutsideInput);
        return;
    }
    const CROP_PARA crop = {current_input, x, y, w, h};
    if (level == 3) {
        // Only a change of the operator's is stored: OK on the crop as opened writes nothing.
        if (origin_.changedByOperator({x, y, w, h}))
            s->VyrSetCropPara(current_input, current_entry, &crop);
    } else {
        if (tableFull() || s->VyrAddNewCrop(current_input, &crop) != 0) {
            showNote(Note::TableFull);
            closeEditor();
            return;
        }
    }
    showNote(Note::None);
    closeEditor();
}

void InputCut::vyr_button_cancel_clicked()
{
    closeEditor();
}

void InputCut::vyr_button_delete_clicked()
{
    VyrRamPara* s = store();
    if (s && edit_index >= 0) {
        s->VyrCropSourceInit();
        CROP_PARA now = {};
        int j = int(kCropCount);
        s->VyrGetCropPara(current_input, current_entry, &now, &j);
        if (j == edit_index && uint16_t(now.id) == edit_id)
            s->VyrDeleteCrop(current_input, current_entry); // windows on it go back to the input
        else
            showNote(Note::CropGone);
    }
    closeEditor();
}

void InputCut::closeEditor()
{
    origin_.close();
    level = 1;
    ui_select = saved_list;
    edit_select = 0;
    vyr_sel_info(0, 2);
    if (VyrRamPara* s = store())
        s->VyrCropSourceInit();
    crop_source_num_update();
    source_init();
    para_changed_over();
}

void InputCut::para_changed_over()
{
    frame_add->hide();
    button_delete->hide();
    button_cancel->hide();
    button_ok->hide();
    if (button_add)
        button_add->show();
}

QWidget* InputCut::editorWidget(int position) const
{
    QWidget* const widgets[7] = {lineEdit_X, lineEdit_Y, lineEdit_W, lineEdit_H, button_delete, button_cancel, button_ok};
    return position >= 0 && position < 7 ? widgets[position] : nullptr;
}

My_lineEdit* InputCut::fieldAt(int position) const
{
    My_lineEdit* const fields[4] = {lineEdit_X, lineEdit_Y, lineEdit_W, lineEdit_H};
    return position >= 0 && position < 4 ? fields[position] : nullptr;
}

void InputCut::vyr_sel_info(int position, int kind)
{
    if (kind == 2) {
        for (int i = 0; i < 7; ++i)
            editorWidget(i)->setStyleSheet(field_normal);
        return;
    }
    if (QWidget* w = editorWidget(position))
        w->setStyleSheet(kind == 1 ? field_focused : field_normal);
}

void InputCut::show_numberkeyboard_ui(QString)
{
    auto* field = qobject_cast<My_lineEdit*>(sender());
    if (!field || level < 2 || !askNumber)
        return;
    int position = 0;
    while (position < 4 && fieldAt(position) != field)
        ++position;
    if (position == 4)
        return;
    const Texts& t = texts();
    const QString titles[4] = {QStringLiteral("X"), QStringLiteral("Y"), tr8(t.keypadW), tr8(t.keypadH)};
    // Sizes inside the input's picture when its timing is known; the combination is checked at OK.
    int iw = kMaxCoordinate, ih = kMaxCoordinate;
    if (!inputTiming(current_input, &iw, &ih)) {
        iw = kMaxCoordinate;
        ih = kMaxCoordinate;
    }
    const int min[4] = {0, 0, 1, 1};
    const int max[4] = {iw - 1, ih - 1, iw, ih};
    int value = 0;
    QPointer<InputCut> self(this);
    QPointer<My_lineEdit> target(field);
    const bool ok = askNumber(titles[position], field->text(), min[position], max[position], &value);
    if (!self || !target || !ok || level < 2)
        return; // closed meanwhile (MODE), or nothing confirmed: the field keeps its value
    if (value < min[position] || value > max[position])
        return;
    target->setText(QString::number(value));
    showNote(Note::None);
}

void InputCut::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
    const int key = event->key();
    const uint8_t n = source_current_check();
    switch (key) {
    case PanelKey::OK:
        qDebug("this is OK [InputCut][Release] [ui_select=%#x] [current_pag=%#x] [max_source_info=%#x]", ui_select, current_page, n);
        break;
    case PanelKey::Left:
        qDebug("this is left-code [InputCut][Release] [ui_select=%#x] [current_pag=%#x] [max_source_info=%#x]", ui_select, current_page, n);
        break;
    case PanelKey::Right:
        qDebug("this is right-code [InputCut][Release] [ui_select=%#x] [current_pag=%#x] [max_source_info=%#x]", ui_select, current_page, n);
        break;
    case PanelKey::Back:
        qDebug("this is back button(InputCut)[Release]\n");
        break;
    case PanelKey::Mode:
        qDebug("this is mode-code [InputCut][Release]");
        PageNav::modeShortcut();
        return;
    default:
        return;
    }
    if (level == 0)
        keyTabs(key);
    else if (level == 1)
        keyList(key);
    else
        keyEditor(key);
}

void InputCut::keyTabs(int key)
{
    if (key == PanelKey::Left || key == PanelKey::Right) {
        current_page = 0;
        ui_select = key == PanelKey::Left ? uint8_t(ui_select == 0 ? 5 : ui_select - 1) : uint8_t(ui_select >= 5 ? 0 : ui_select + 1);
        vyr_button_input_clicked();
    } else if (key == PanelKey::OK) {
        saved_tab = ui_select;
        ui_select = 0;
        current_page = 0;
        level = 1;
        vyr_button_input_clicked();
    } else if (key == PanelKey::Back) {
        slot_Button_back_clicked();
    }
}

void InputCut::keyList(int key)
{
    const int n = source_count[current_input];
    const int p = current_page;
    showNote(Note::None);
    if (key == PanelKey::Right) {
        ++ui_select;
        if (kTilesPerPage * p + ui_select >= (p == 0 ? n + 1 : n)) {
            current_page = 0;
            ui_select = 0;
        } else if (ui_select > (p == 0 ? kTilesPerPage : kTilesPerPage - 1)) {
            ui_select = 0;
            current_page = uint8_t(p >= last_page ? 0 : p + 1);
        }
        vyr_button_input_clicked();
    } else if (key == PanelKey::Left) {
        if (p == 0 && ui_select == 0) {
            current_page = last_page;
            ui_select = uint8_t(n - kTilesPerPage * last_page - 1 + (last_page == 0 ? 1 : 0));
        } else if (ui_select == 0) {
            current_page = uint8_t(p - 1);
            ui_select = current_page == 0 ? kTilesPerPage : kTilesPerPage - 1;
        } else {
            --ui_select;
        }
        vyr_button_input_clicked();
    } else if (key == PanelKey::OK) {
        if (p == 0 && ui_select == 0) {
            if (tableFull()) {
                showNote(Note::TableFull);
                return;
            }
            saved_list = 0;
            level = 2;
            vyr_button_add_clicked();
            edit_select = 0;
            vyr_sel_info(0, 2);
            vyr_sel_info(0, 1);
        } else if (p == 0 && ui_select == 1) {
            // The input itself has no crop to edit.
        } else {
            saved_list = ui_select;
            level = 3;
            vyr_button_input_clicked();
            vyr_button_source_clicked();
            if (edit_index < 0) {
                level = 1;
                source_init();
                return;
            }
            edit_select = 0;
            vyr_sel_info(0, 2);
            vyr_sel_info(0, 1);
        }
    } else if (key == PanelKey::Back) {
        level = 0;
        ui_select = saved_tab;
        vyr_button_input_clicked();
    }
}

void InputCut::keyEditor(int key)
{
    if (key == PanelKey::Right || key == PanelKey::Left) {
        vyr_sel_info(edit_select, 0);
        const bool right = key == PanelKey::Right;
        do {
            edit_select = right ? uint8_t(edit_select >= 6 ? 0 : edit_select + 1) : uint8_t(edit_select == 0 ? 6 : edit_select - 1);
        } while (level == 2 && edit_select == 4); // a new crop has nothing to delete
        vyr_sel_info(edit_select, 1);
    } else if (key == PanelKey::OK) {
        if (edit_select < 4) {
            Q_EMIT fieldAt(edit_select)->send_show(fieldAt(edit_select)->objectName());
        } else if (edit_select == 6) {
            vyr_button_ok_clicked();
        } else if (edit_select == 5) {
            vyr_button_cancel_clicked();
        } else if (level == 3) {
            vyr_button_delete_clicked();
        }
    } else if (key == PanelKey::Back) {
        showNote(Note::None);
        closeEditor();
    }
}

void InputCut::slot_Button_back_clicked()
{
    // The input choice page beneath re-reads its counts and list when its open call returns.
    PageNav::back(this);
}
