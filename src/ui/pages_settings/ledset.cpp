#include "ui/pages_settings/ledset.h"

#include "base/global.h"
#include "base/logMsg.h"
#include "base/utils.h"
#include "fpga/fpga_manage.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "scaler/c331_manage.h"
#include "ui/numberkeyboard.h"
#include "ui/pagenav.h"
#include "ui/panelkeys.h"
#include "ui/tip.h"
#include "ui/panelwidgets.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMutexLocker>
#include <QPixmap>
#include <QPushButton>
#include <QtDebug>
#include <algorithm>
#include <limits>
#include <string>

QPointer<ledset> g_ledset;

std::function<bool(const QString&, const QString&, QString*)> ledset::askEntry =
    [](const QString& title, const QString& value, QString* typed) {
        int number = 0;
        if (!g_numberkeyboard || !g_numberkeyboard->getNumber(title, value, 0, 99999, &number))
            return false;
        *typed = QString::number(number);
        return true;
    };

namespace {

struct Texts {
    const char* w;
    const char* h;
    const char* apply;
    const char* cancel;
    const char* note;
    const char* tip; // %1 width limit, %2 height limit
    const char* refused; // %1-%2 the pixel counts (width x height) Apply takes
    const char* keypadW;
    const char* keypadH;
};
const Texts kTexts[5] = {
    {"宽", "高", "应用", "取消", "设置LED屏宽高", "可设LED屏最大点数:%1(宽),%2(高)", "超出可设点数,宽x高:%1-%2", "宽", "高"},
    {"W", "H", "Apply", "Cancle", "Set LED W&H", "LED max:%1(w),%2(h)", "Too many pixels, W x H: %1-%2", "W", "H"},
    {"Ширина", "Высота", "OK", "Отмена", "Разрешение LED шир и выс", "Ширина:%1(px)Высота:%2(px)",
     "Слишком много точек, Ш x В: %1-%2", "W", "H"},
    {"Rộng", "Cao", "Đồng ý", "Hủy bỏ", "Cài đặt thông số led", "Điểm ảnh lớn nhất:%1(ngang),%2(dọc)",
     "Quá nhiều điểm ảnh, Rộng x Cao: %1-%2", "W", "H"},
    {"寬", "高", "應用", "取消", "設置LED屏寬高", "可設LED屏最大點數:%1(寬),%2(高)", "超出可設點數,寬x高:%1-%2", "寬", "高"},
};
const Texts& texts() { return kTexts[languageColumn(g_language.load())]; }

using PanelWidgets::pixels;

QLabel* label(QWidget* parent, const char* name, const QRect& r, int px)
{
    return PanelWidgets::label(parent, QLatin1String(name), r, px, QStringLiteral("background-color:transparent;"));
}

// A typed entry as a number: digits only; more than fit is simply too large, anything else 0.
int64_t typedNumber(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return 0;
    for (QChar c : t)
        if (!c.isDigit())
            return 0;
    bool ok = false;
    const qlonglong v = t.toLongLong(&ok);
    return ok ? int64_t(v) : std::numeric_limits<int64_t>::max();
}

// The other field as the clamping rule reads it: a signed 16-bit number, 0 when it is not one.
int64_t shortNumber(const QString& text)
{
    bool ok = false;
    const short v = text.trimmed().toShort(&ok);
    return ok ? v : 0;
}

}

ledset::ledset(QWidget* parent)
    : VyrPage(13, "ledset", UiText::TitleLedset, parent),
      edit_normal(QStringLiteral("color:rgb(255, 255, 255);background-color:rgb(33, 36, 53);border:1px solid rgb(255,255,255);")),
      edit_focused(QStringLiteral("color:rgb(255, 255, 255);background-color: rgb(33, 36, 53);border:1px solid rgb(255,171,84);")),
      button_normal(QStringLiteral("color: rgb(255, 255, 255);background-color: rgb(33, 36, 53) ; border:1px solid rgb(255,255,255) ;")),
      button_focused(QStringLiteral("color: rgb(255, 255, 255);background-color: rgb(33, 36, 53); border:1px solid rgb(255,171,84);")),
      name_w(QStringLiteral("lineEdit_ledw")),
      name_h(QStringLiteral("lineEdit_ledh"))
{
    frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame"));
    frame->setGeometry(8, 38, 304, 154);
    frame->setStyleSheet(QStringLiteral("#frame{background-color: rgb(16, 16, 28);border:1px solid rgb(255, 255, 255);\n"
                                        "border-radius:6px;padding:2px 4px}"));
    label_note_led_w = label(frame, "label_note_led_w", QRect(10, 8, 284, 20), 12);
    label_note_led_w->setAlignment(Qt::AlignCenter);
    label_ledw = label(frame, "label_ledw", QRect(4, 46, 62, 24), 12);
    label_ledw->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label_ledh = label(frame, "label_ledh", QRect(150, 46, 62, 24), 12);
    label_ledh->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lineEdit_ledw = new My_lineEdit(frame);
    lineEdit_ledw->setObjectName(name_w);
    lineEdit_ledw->setGeometry(70, 42, 72, 30);
    lineEdit_ledh = new My_lineEdit(frame);
    lineEdit_ledh->setObjectName(name_h);
    lineEdit_ledh->setGeometry(216, 42, 72, 30);
    for (My_lineEdit* e : {lineEdit_ledw, lineEdit_ledh}) {
        e->setFont(pixels(e, 15));
        e->setAlignment(Qt::AlignCenter);
        e->setReadOnly(true); // typed on the keypad only
        e->setFocusPolicy(Qt::NoFocus);
        connect(e, &My_lineEdit::send_show, this, &ledset::show_numberkeyboard_ui);
    }
    label_warning = new QLabel(frame);
    label_warning->setObjectName(QStringLiteral("label_warning"));
    label_warning->setGeometry(10, 96, 24, 24);
    label_warning->setStyleSheet(QStringLiteral("background-color:transparent;"));
    label_warning->setScaledContents(true);
    label_warning->setPixmap(QPixmap(QStringLiteral(":/png/warning.png")));
    label_tip = label(frame, "label_tip", QRect(38, 88, 258, 40), 11);
    label_tip->setWordWrap(true);
    label_tip->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    Button_apply = new QPushButton(this);
    Button_apply->setObjectName(QStringLiteral("Button_apply"));
    Button_apply->setGeometry(40, 200, 100, 30);
    Button_cancle = new QPushButton(this);
    Button_cancle->setObjectName(QStringLiteral("Button_cancle"));
    Button_cancle->setGeometry(180, 200, 100, 30);
    for (QPushButton* b : {Button_apply, Button_cancle}) {
        b->setFont(pixels(b, 15));
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoDefault(false);
    }
    edit_name.clear();
    para_init();
    menulist_init();
    language_changed();
}

QWidget* ledset::entry(int index) const
{
    QWidget* const entries[4] = {lineEdit_ledw, lineEdit_ledh, Button_apply, Button_cancle};
    return index >= 0 && index < 4 ? entries[index] : nullptr;
}

void ledset::styleEntry(int index, bool focused)
{
    if (QWidget* w = entry(index))
        w->setStyleSheet(index < 2 ? (focused ? edit_focused : edit_normal) : (focused ? button_focused : button_normal));
}

void ledset::menulist_init()
{
    ui_select = 0;
    focus_list = {lineEdit_ledw, lineEdit_ledh, Button_apply, Button_cancle};
    for (int i = 0; i < 4; ++i)
        styleEntry(i, i == 0);
    focus_widget = lineEdit_ledw;
}

void ledset::para_init()
{
    const QVariantList size = storedSize();
    lineEdit_ledw->setText(size.at(0).toString());
    lineEdit_ledh->setText(size.at(1).toString());
    origin_.start(size);
}

QVariantList ledset::storedSize()
{
    qlonglong w = 0, h = 0;
    if (VyrRamPara* store = VyrRamPara::p_vyrrampara_config) {
        ScalerHandOver lock; // the protocol writes the size under it
        w = store->boxWord(blk::kLedWidth);
        h = store->boxWord(blk::kLedHeight);
    }
    return {w, h};
}

void ledset::language_changed()
{
    VyrPage::language_changed();
    const Texts& t = texts();
    label_ledw->setText(QString::fromUtf8(t.w));
    label_ledh->setText(QString::fromUtf8(t.h));
    Button_apply->setText(QString::fromUtf8(t.apply));
    Button_cancle->setText(QString::fromUtf8(t.cancel));
    label_note_led_w->setText(QString::fromUtf8(t.note));
    showTip();
}

int64_t ledset::areaLimit()
{
    return std::min<int64_t>(kMaxArea, c331_manage::panelPixelLimit());
}

void ledset::showTip()
{
    const Texts& t = texts();
    if (refusedLimit_ > 0) // the range as the keypad shows one
        label_tip->setText(QString::fromUtf8(t.refused).arg(int64_t(kMinSide) * kMinSide).arg(refusedLimit_));
    else
        label_tip->setText(QString::fromUtf8(t.tip).arg(kMaxSide).arg(kMaxSide));
}

void ledset::syncUpdate(int)
{
    if (PageNav::languageChanged())
        language_changed();
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store)
        return;
    bool differs = false;
    uint32_t now = 0;
    {
        ScalerHandOver lock; // the save slot writes the shadow under it
        for (uint32_t f : {blk::kLedWidth, blk::kLedHeight})
            differs |= blk::get16(store->view(), f) != blk::get16(store->shadow, f);
        now = uint32_t(blk::get16(store->view(), blk::kLedWidth)) << 16 | blk::get16(store->view(), blk::kLedHeight);
    }
    // The scaler puts a size it cannot drive back out of the block before it raises this refresh;
    // any other size was written meanwhile by another writer and is no refusal.
    c331_manage* scaler = c331_manage::p_c331_manage;
    if (requested_ != 0 && !(scaler && scaler->change_flag.load() != 0)) {
        if (now != requested_ && now == replaced_) {
            writeLogMsg(LOG_WARNING, "LED size " + std::to_string(requested_ >> 16) + " x " +
                                         std::to_string(requested_ & 0xFFFF) + " refused by the scaler");
            differs = true;
        }
        requested_ = 0;
    }
    if (differs)
        para_init();
}

void ledset::show_numberkeyboard_ui(QString)
{
    auto* field = qobject_cast<My_lineEdit*>(sender());
    if (!field)
        return;
    edit_name = field->objectName();
    g_lineedit = field;
    const Texts& t = texts();
    QString title;
    if (edit_name == name_w)
        title = QString::fromUtf8(t.keypadW);
    else if (edit_name == name_h)
        title = QString::fromUtf8(t.keypadH);
    QString typed;
    QPointer<ledset> self(this);
    const bool ok = askEntry && askEntry(title, field->text(), &typed);
    if (!self)
        return; // the page went away (MODE) while the keypad was open
    g_lineedit = nullptr;
    if (ok)
        confirmString(typed);
}

void ledset::confirmString(QString text)
{
    My_lineEdit* edited = nullptr;
    My_lineEdit* other = nullptr;
    if (edit_name == name_w) {
        edited = lineEdit_ledw;
        other = lineEdit_ledh;
    } else if (edit_name == name_h) {
        edited = lineEdit_ledh;
        other = lineEdit_ledw;
    } else {
        return;
    }
    if (refusedLimit_ != 0) {
        refusedLimit_ = 0;
        showTip();
    }
    const int64_t v = typedNumber(text);
    const int64_t o = shortNumber(other->text());
    if (v > kMaxSide) {
        edited->setText(QString::number(kMaxSide));
        if (o * kMaxSide > kMaxArea)
            other->setText(QString::number(kAreaSideAtMax));
    } else if (v >= kMinSide) {
        edited->setText(text.trimmed());
        if (o * v > kMaxArea)
            other->setText(QString::number(kMaxArea / v));
    } else {
        edited->setText(QString::number(kMinSide));
    }
}

void ledset::on_Button_apply1_clicked()
{
    // A size another writer applied since the fields were filled is shown, the operator's own
    // entries kept, and nothing is written until Apply again: stale fields never go over it.
    const QVariantList stored = storedSize();
    if (origin_.changedElsewhere(stored)) {
        const QVariantList edited{qlonglong(typedNumber(lineEdit_ledw->text())), qlonglong(typedNumber(lineEdit_ledh->text()))};
        const QVariantList shown = origin_.rebase(edited, stored);
        lineEdit_ledw->setText(shown.at(0).toString());
        lineEdit_ledh->setText(shown.at(1).toString());
        return;
    }
    // The fields may hold what the protocol stored (0, 9000) or what no keypad gave: the limits
    // are applied again, and the fields show what is written.
    int64_t w = std::clamp<int64_t>(typedNumber(lineEdit_ledw->text()), kMinSide, kMaxSide);
    int64_t h = std::clamp<int64_t>(typedNumber(lineEdit_ledh->text()), kMinSide, kMaxSide);
    if (w * h > kMaxArea)
        h = kMaxArea / w;
    lineEdit_ledw->setText(QString::number(w));
    lineEdit_ledh->setText(QString::number(h));

    // A size the scaler would refuse is refused here, before the FPGA blanks the wall for it.
    const int64_t limit = areaLimit();
    refusedLimit_ = w * h > limit ? limit : 0;
    showTip();
    if (refusedLimit_ != 0) {
        writeLogMsg(LOG_WARNING, "LED size " + std::to_string(w) + " x " + std::to_string(h) + " above " +
                                     std::to_string(limit) + " pixels, not applied");
        return;
    }

    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store)
        return;
    bool changed = false;
    {
        ScalerHandOver handOver;
        const uint8_t* b = store->view();
        replaced_ = uint32_t(blk::get16(b, blk::kLedWidth)) << 16 | blk::get16(b, blk::kLedHeight);
        store->setU16(blk::kLedWidth, uint16_t(w));
        store->setU16(blk::kLedHeight, uint16_t(h));
        store->setU16(blk::kOutput1Width, uint16_t(w));
        store->setU16(blk::kOutput1Height, uint16_t(h));
        store->setU16(blk::kOutput2Width, uint16_t(w));
        store->setU16(blk::kOutput2Height, uint16_t(h));
        for (uint32_t f : {blk::kSpliceMode, blk::kOutput1X, blk::kOutput1Y, blk::kOutput2X, blk::kOutput2Y})
            store->setU16(f, 0);
        changed = w != blk::get16(store->shadow, blk::kLedWidth) || h != blk::get16(store->shadow, blk::kLedHeight);
        if (changed) {
            store->setU16(blk::window(0, blk::win::kX), 0);
            store->setU16(blk::window(0, blk::win::kY), 0);
            store->setU16(blk::window(0, blk::win::kWidth), uint16_t(w));
            store->setU16(blk::window(0, blk::win::kHeight), uint16_t(h));
            for (uint32_t win = 1; win < blk::kScalerWindows; ++win)
                store->setU16(blk::window(win, blk::win::kState), 0);
            fpga_manage::requestLedParameterStep();
        }
        handOver.commit(1);
        requested_ = changed ? uint32_t(w) << 16 | uint32_t(h) : 0;
    }
    origin_.start({qlonglong(w), qlonglong(h)});
    // Only now, with the scaler free again: the pop-up is shown without holding anyone up.
    if (changed && g_tip)
        g_tip->tip_create(1);
}

void ledset::okReleased()
{
    switch (ui_select) {
    case 0:
        Q_EMIT lineEdit_ledw->send_show(name_w);
        break;
    case 1:
        Q_EMIT lineEdit_ledh->send_show(name_h);
        break;
    case 2:
        on_Button_apply1_clicked();
        break;
    default:
        slot_Button_back_clicked();
        break;
    }
}

void ledset::keyReleaseEvent(QKeyEvent* event)
{
    const int key = event->key();
    if (key != PanelKey::Left && key != PanelKey::Right) {
        VyrPage::keyReleaseEvent(event);
        return;
    }
    event->accept();
    const bool right = key == PanelKey::Right;
    qDebug(right ? "this is right-code [ledset][Release] ui_select=%#x" : "this is left-code [ledset][Release] ui_select=%#x",
           ui_select);
    styleEntry(ui_select, false);
    if (right)
        ui_select = uint8_t(ui_select >= 3 ? 0 : ui_select + 1);
    else
        ui_select = uint8_t(ui_select == 0 ? 3 : ui_select - 1);
    styleEntry(ui_select, true);
    focus_widget = entry(ui_select);
}

void ledset::slot_Button_back_clicked()
{
    PageNav::back(this);
}
