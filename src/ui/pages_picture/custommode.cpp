#include "ui/pages_picture/custommode.h"

#include "base/global.h"
#include "base/logMsg.h"
#include "params/alias_names.h"
#include "params/block_layout.h"
#include "params/omenu_file.h"
#include "params/vyrrampara.h"
#include "scaler/c331_manage.h"
#include "ui/pagenav.h"
#include "ui/panelkeys.h"
#include "ui/panelwidgets.h"
#include "ui/sourceinfo.h"
#include "ui/texts.h"
#include "ui/vyrcontrol.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtDebug>
#include <cstring>
#include <mutex>

QPointer<CustomMode> g_custommode;
QPointer<QWidget> g_button_focus;

namespace {

struct Texts {
    const char* invoke;
    const char* del;
    const char* more;
    const char* blank;
    const char* item;     // %1 slot number
    const char* nameMode; // %1 slot number
    const char* name;
    const char* led;      // %1 x %2
    const char* briOn;    // %1 brightness, %2 contrast
    const char* briOff;
    const char* on;
    const char* off;
    const char* noMenu;
};
const Texts kTexts[5] = {
    {"调用", "删除", "更多", "用户模式不存在", "模式 %1", "名称:模式%1", "名称:", "LED尺寸:%1x%2",
     "亮度:%1 对比度:%2 音量:开", "亮度:%1 对比度:%2 音量:关", "开", "关", "未保存屏幕菜单"},
    {"Invoke", "Delete", "More", "Usermode does not exist", "MODE %1", "Name:Mode%1", "Name:", "LED size:%1x%2",
     "Bri:%1 CTRST:%2 Volume:ON", "Bri:%1 CTRST:%2 Volume:OFF", "ON", "OFF", "No on-screen menu stored"},
    {"Вызвать", "Удалить", "Ещё", "Режим не сохранён", "РЕЖИМ %1", "Имя:Режим%1", "Имя:", "Экран LED:%1x%2",
     "Ярк:%1 Контр:%2 Звук:ВКЛ", "Ярк:%1 Контр:%2 Звук:ВЫКЛ", "ВКЛ", "ВЫКЛ", "Экранное меню не сохранено"},
    {"Gọi", "Xóa", "Thêm", "Chế độ không tồn tại", "CHẾ ĐỘ %1", "Tên:Chế độ%1", "Tên:", "Cỡ LED:%1x%2",
     "Sáng:%1 Tương phản:%2 Âm:BẬT", "Sáng:%1 Tương phản:%2 Âm:TẮT", "BẬT", "TẮT", "Không có menu OSD"},
    {"調用", "刪除", "更多", "用戶模式不存在", "模式 %1", "名稱:模式%1", "名稱:", "LED尺寸:%1x%2",
     "亮度:%1 對比度:%2 音量:開", "亮度:%1 對比度:%2 音量:關", "開", "關", "未保存螢幕選單"},
};
const Texts& texts() { return kTexts[languageColumn(g_language.load())]; }
QString tr8(const char* s) { return QString::fromUtf8(s); }

VyrRamPara* store() { return VyrRamPara::p_vyrrampara_config; }

// A copy of record m taken under the records' lock; the protocol may replace it meanwhile.
void copyRecord(uint32_t m, uint8_t* out)
{
    VyrRamPara* s = store();
    if (!s || m >= kModeCount) {
        memset(out, 0xFF, kModeRecordSize);
        return;
    }
    std::lock_guard<std::recursive_mutex> records(s->records_mutex);
    memcpy(out, s->mode[m], kModeRecordSize);
}

// The mode's copy of a block field (the record's markers come first).
uint16_t modeU16(const uint8_t* record, uint32_t blockOffset) { return blk::get16(record, blk::inRecord(blockOffset)); }
uint8_t modeU8(const uint8_t* record, uint32_t blockOffset) { return record[blk::inRecord(blockOffset)]; }

using PanelWidgets::label;

QString effectText(int32_t effect, bool chinese, bool traditional)
{
    if (chinese) {
        switch (effect) {
        case 2: return tr8(traditional ? "上移" : "上移");
        case 3: return tr8(traditional ? "下移" : "下移");
        case 4: return tr8(traditional ? "左移" : "左移");
        case 5: return tr8(traditional ? "右移" : "右移");
        default: return tr8(traditional ? "靜止" : "静止");
        }
    }
    switch (effect) {
    case 2: return QStringLiteral("effect:move up");
    case 3: return QStringLiteral("effect:move down");
    case 4: return QStringLiteral("effect:move left");
    case 5: return QStringLiteral("effect:move right");
    default: return QStringLiteral("effect:static");
    }
}

// Unsigned decimal as the menu file's numbers are shown.
QString u(int32_t v) { return QString::number(uint32_t(v)); }

}

CustomMode::CustomMode(QWidget* parent)
    : QWidget(parent),
      style_focused(QStringLiteral("background-color: #212435;color: rgb(255, 255, 255);border:1px solid rgb(255, 171, 84);")),
      style_normal(QStringLiteral("background-color: #212435;color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);"))
{
    setObjectName(QStringLiteral("CustomMode"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setGeometry(0, 0, 320, 240);
    setFixedSize(320, 240);
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QStringLiteral("background-color: rgb(16, 16, 28);"));
    label_title = label(this, "label_title", QRect(5, 5, 265, 22), 15);
    label_title->setAlignment(Qt::AlignCenter);

    frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame"));
    frame->setGeometry(3, 57, 314, 180);
    frame->setFrameShape(QFrame::Box);
    frame->setFrameShadow(QFrame::Raised);
    frame->setStyleSheet(QStringLiteral("#frame{border:1px solid rgb(133, 129, 153);}"));
    auto* block = new QLabel(frame);
    block->setObjectName(QStringLiteral("label"));
    block->setGeometry(5, 5, 80, 50);
    block->setStyleSheet(QStringLiteral("background-color: rgb(134, 122, 233);"));
    auto* line = new QLineEdit(frame);
    line->setObjectName(QStringLiteral("lineEdit"));
    line->setGeometry(0, 58, 314, 1);
    line->setFocusPolicy(Qt::NoFocus);
    line->setReadOnly(true);
    line->setStyleSheet(QStringLiteral("border:1px solid rgb(133, 129, 153);"));
    label_ID = label(frame, "label_ID", QRect(86, 2, 54, 14), 10);
    label_using = label(frame, "label_using", QRect(140, 2, 60, 14), 10);
    QFont bold = label_using->font();
    bold.setBold(true);
    label_using->setFont(bold);
    label_using->setAlignment(Qt::AlignCenter);
    label_using->setStyleSheet(PanelWidgets::boxStyle(QColor(0, 214, 91)) + QStringLiteral("border:0px groove gray;border-radius:6px;"));
    label_name = label(frame, "label_name", QRect(86, 16, 171, 14), 10);
    label_name->setTextFormat(Qt::PlainText); // the mode's alias comes from an uploaded file
    label_LED = label(frame, "label_LED", QRect(86, 29, 191, 14), 10);
    label_brightness = label(frame, "label_brightness", QRect(86, 42, 225, 14), 10);
    label_blank = label(frame, "label_blank", QRect(40, 90, 234, 26), 12);
    label_blank->setAlignment(Qt::AlignCenter);
    label_blank->hide();

    auto button = [this](const char* name, int x) {
        auto* b = new QPushButton(frame);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(x, 155, 60, 20);
        b->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);\nbackground-color: rgb(33, 36, 53);\nborder:1px solid rgb(255, 255, 255);"));
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoDefault(false);
        QFont f = b->font();
        f.setPixelSize(10);
        b->setFont(f);
        return b;
    };
    Button_use = button("Button_use", 60);
    Button_delete = button("Button_delete", 140);
    Button_more = button("Button_more", 220);
    connect(Button_use, &QPushButton::clicked, this, &CustomMode::on_Button_use_clicked);
    connect(Button_delete, &QPushButton::clicked, this, &CustomMode::on_Button_delete_clicked);

    preview_font = font();
    preview_font.setPixelSize(10);

    VyrRamPara* s = store();
    const uint32_t current = s ? s->VyrGetCurrentModeIndex() : 0;
    g_mode_select = uint8_t(current == 0 ? 0 : current - 1);
    qDebug() << "custom mode =" << g_mode_select.load() << current;

    selector = new vyrcontrol(QRect(19, 0, 100, 22), QRect(0, 0, 20, 22), QRect(118, 0, 20, 22), this);
    selector->setGeometry(3, 28, 320, 24);
    selector->setFocusPolicy(Qt::NoFocus);

    init();
    lcd_para_init();
    image_para_init();
    menulist_init();
    label_ID->setText(QStringLiteral("ID:%1").arg(g_mode_select.load() + 1));
    g_button_focus = Button_use;
    Button_use->setStyleSheet(style_normal);
    language_changed();
}

void CustomMode::init()
{
    const Texts& t = texts();
    selector->box->clear();
    selector->box->setFocusPolicy(Qt::NoFocus);
    for (int i = 1; i <= int(kModeCount); ++i)
        selector->box->addItem(tr8(t.item).arg(i));
    selector->box->setCurrentIndex(g_mode_select.load() < kModeCount ? g_mode_select.load() : 0);
}

void CustomMode::menulist_init()
{
    row_active = 0;
    button_select = 0;
    ui_select = uint8_t(g_mode_select.load() < kModeCount ? g_mode_select.load() : 0);
    selector->set_box_default();
}

int CustomMode::get_mode_status() const
{
    VyrRamPara* s = store();
    return s && s->VyrUserModeSaved(g_mode_select.load()) ? 1 : 0;
}

void CustomMode::color_fill(QLabel* label, char window)
{
    static const QColor kColours[6] = {QColor(0xD5E5FF), QColor(0xD4FC79), QColor(0xFC9D79),
                                       QColor(0x7E9AC9), QColor(0x32CC4C), QColor(0x4777FF)};
    const int k = int(static_cast<unsigned char>(window));
    label->setStyleSheet(PanelWidgets::boxStyle(k < 6 ? kColours[k] : QColor(0xCCCCCC)));
}

void CustomMode::lcd_para_init()
{
    const uint32_t m = g_mode_select.load() < kModeCount ? g_mode_select.load() : 0;
    const Texts& t = texts();
    uint8_t record[kModeRecordSize];
    copyRecord(m, record);
    ALIAS_PARA alias;
    if (get_json_alias_para(&alias, "usermode", int32_t(m))) {
        const QString text = tr8(t.name) + QString::fromStdString(alias.name);
        label_name->setText(QFontMetrics(label_name->font()).elidedText(text, Qt::ElideRight, label_name->width()));
    } else {
        label_name->setText(tr8(t.nameMode).arg(m + 1));
    }
    label_LED->setText(tr8(t.led).arg(int16_t(modeU16(record, blk::kLedWidth))).arg(int16_t(modeU16(record, blk::kLedHeight))));
    uint8_t w = modeU8(record, blk::kAudioWindow);
    if (w >= blk::kScalerWindows)
        w = 0;
    const bool volume = (modeU8(record, blk::window(w, blk::win::kAudioHigh)) & 0x80) != 0;
    label_brightness->setText(tr8(volume ? t.briOn : t.briOff)
                                  .arg(int16_t(modeU16(record, blk::kBrightness)))
                                  .arg(int16_t(modeU16(record, blk::kContrast))));
    Button_more->setText(tr8(t.more));
    VyrRamPara* s = store();
    label_using->setVisible(s && s->VyrGetCurrentModeIndex() == m + 1);
}

void CustomMode::image_para_init()
{
    const uint32_t m = g_mode_select.load() < kModeCount ? g_mode_select.load() : 0;
    delete preview_widget;
    preview_widget = nullptr;
    VyrRamPara* s = store();
    if (!s || !s->VyrUserModeSaved(m)) {
        for (QWidget* w : {static_cast<QWidget*>(label_LED), static_cast<QWidget*>(label_brightness),
                           static_cast<QWidget*>(Button_delete), static_cast<QWidget*>(Button_use),
                           static_cast<QWidget*>(label_using), static_cast<QWidget*>(Button_more)})
            w->hide();
        label_blank->show();
        more_hidden = 1;
        return;
    }
    label_LED->show();
    label_brightness->show();
    Button_use->show();
    Button_delete->show();
    label_blank->hide();
    label_using->setVisible(s->VyrGetCurrentModeIndex() == m + 1);
    uint8_t record[kModeRecordSize];
    copyRecord(m, record);
    if (modeU16(record, blk::kOsdMenu) == 0) {
        Button_more->hide();
        more_hidden = 1;
    } else {
        Button_more->show();
        more_hidden = 0;
    }
    preview_widget = new QWidget(frame);
    preview_widget->setObjectName(QStringLiteral("preview"));
    preview_widget->setGeometry(3, 61, 306, 90);
    preview_widget->setMinimumSize(50, 60);
    if (row_active == 1 && more_hidden == 0 && button_select == 2)
        drawMenu(m);
    else
        drawWindows(record + 2);
    preview_widget->show();
}

void CustomMode::drawWindows(const uint8_t* body)
{
    VyrRamPara* s = store();
    const Texts& t = texts();
    const QString style = QStringLiteral("background-color: #10101C;color: #FFFFFF;");
    for (int k = 0; k < 6; ++k) {
        const int r = k % 3;
        const bool right = k >= 3;
        const int y = 16 + 30 * r;
        auto* badge = new QLabel(QString::number(k + 1), preview_widget);
        badge->setObjectName(QStringLiteral("badge%1").arg(k));
        badge->setGeometry(right ? 145 : 0, y - 14, 24, 24);
        badge->setAlignment(Qt::AlignCenter);
        badge->setFont(preview_font);
        color_fill(badge, char(k));

        int16_t isCrop = 0;
        int8_t cropIndex = 0;
        const int32_t input = s ? s->VyrGetImageSource(body, uint8_t(k), &isCrop, &cropIndex, 1) : 0;
        QString source = sourceinfo::get_source_name_by_sourceid(uint8_t(input));
        if (isCrop)
            source += QStringLiteral("_Crop%1").arg(int(cropIndex) + 1);
        const uint32_t rec = blk::windowRecord(uint32_t(k)) - kModeBodyStart;
        const bool on = blk::get16(body, rec + blk::win::kState) != 0;
        auto* name = new QLabel(source + QLatin1Char(' ') + tr8(on ? t.on : t.off), preview_widget);
        name->setObjectName(QStringLiteral("window%1_name").arg(k));
        name->setGeometry(right ? 171 : 24, y - 15, right ? 130 : 120, 14);
        name->setFont(preview_font);
        name->setStyleSheet(style);
        auto* geometry = new QLabel(QStringLiteral("[%1,%2]%3x%4")
                                        .arg(blk::get16(body, rec + blk::win::kX))
                                        .arg(blk::get16(body, rec + blk::win::kY))
                                        .arg(blk::get16(body, rec + blk::win::kWidth))
                                        .arg(blk::get16(body, rec + blk::win::kHeight)),
                                    preview_widget);
        geometry->setObjectName(QStringLiteral("window%1_geometry").arg(k));
        geometry->setGeometry(right ? 171 : 24, y - 1, right ? 130 : 120, 14);
        geometry->setFont(preview_font);
        geometry->setStyleSheet(style);
    }
}

void CustomMode::drawMenu(uint32_t m)
{
    // Value-initialised: a missing or empty file leaves nothing of an earlier read behind.
    OSD_LIST list;
    const std::string path = VyrRamPara::modeMenuFilePath(m).toStdString(); // resolved under the root by the reader
    get_json_omenu_para(path.c_str(), &list);
    const QString style = QStringLiteral("background-color: #10101C;color: #FFFFFF;");
    auto* info = new QLabel(preview_widget);
    info->setObjectName(QStringLiteral("menu_info"));
    info->setGeometry(2, 56, 302, 30);
    info->setFont(preview_font);
    info->setStyleSheet(style);
    if (list.osdcount <= 0) {
        info->setText(tr8(texts().noMenu));
        return;
    }
    const OMENU_PARA& e = list.menu[0];
    const int language = languageColumn(g_language.load());
    const bool chinese = language == 0 || language == 4;
    const bool traditional = language == 4;
    QString text;
    if (chinese) {
        text = tr8(traditional ? "菜單[x:" : "菜单[x:") + u(e.x) + QStringLiteral(",y:") + u(e.y) + QStringLiteral(",w:") + u(e.w)
            + QStringLiteral(",h:") + u(e.h) + QStringLiteral("] ") + tr8(traditional ? "字號:" : "字号:") + u(e.fontw)
            + QLatin1Char('*') + u(e.fonth) + QLatin1Char('\n') + tr8(traditional ? "間距[橫:" : "间距[横:") + u(e.wordspace)
            + tr8(traditional ? ",豎:" : ",竖:") + u(e.verticalspace) + QStringLiteral("] ") + tr8("字符[x:") + u(e.startx)
            + QStringLiteral(",y:") + u(e.starty) + QStringLiteral("] ") + tr8("速度:") + u(e.speed) + QLatin1Char(',')
            + tr8(traditional ? "效果:" : "效果:") + effectText(e.effect, true, traditional);
    } else {
        text = QStringLiteral("osd [x:") + u(e.x) + QStringLiteral(",y:") + u(e.y) + QStringLiteral(",w:") + u(e.w)
            + QStringLiteral(",h:") + u(e.h) + QStringLiteral("] font size:") + u(e.fontw) + QLatin1Char('*') + u(e.fonth)
            + QLatin1Char('\n') + QStringLiteral("space [h:") + u(e.wordspace) + QStringLiteral(",v:") + u(e.verticalspace)
            + QStringLiteral("] char[x:") + u(e.startx) + QStringLiteral(",y:") + u(e.starty) + QStringLiteral("] speed:")
            + u(e.speed) + QLatin1Char(',') + effectText(e.effect, false, false);
    }
    info->setText(text);

    // The stored colours are checked hexadecimal, so nothing else reaches the style sheet.
    const QString background = QStringLiteral("%1").arg(omenuColour(e.color), 6, 16, QLatin1Char('0')).toUpper();
    const QString foreground = QStringLiteral("%1").arg(omenuColour(e.font_color), 6, 16, QLatin1Char('0')).toUpper();
    auto* sample = new QLabel(preview_widget);
    sample->setObjectName(QStringLiteral("menu_sample"));
    sample->setGeometry(6, 2, 296, 50);
    sample->setFont(preview_font);
    sample->setStyleSheet(QStringLiteral("background-color:#") + background + QStringLiteral(";color:#") + foreground + QLatin1Char(';'));
    QStringList lines = QString::fromStdString(e.texts).split(QLatin1Char('\n'));
    if (lines.size() > 3)
        lines = lines.mid(0, 3);
    sample->setText(lines.join(QLatin1Char('\n')));
}

QPushButton* CustomMode::rowButton(int button) const
{
    switch (button) {
    case 0: return Button_use;
    case 1: return Button_delete;
    case 2: return Button_more;
    default: return nullptr;
    }
}

void CustomMode::vyr_button_selinfo(int kind, int button)
{
    if (kind == 2) {
        for (QPushButton* b : {Button_use, Button_delete, Button_more}) {
            b->setStyleSheet(style_normal);
            g_button_focus = b;
        }
        return;
    }
    QPushButton* b = rowButton(button);
    if (kind == 0) {
        if (b) {
            b->setStyleSheet(style_focused);
            g_button_focus = b;
        }
        vyr_button_mode_clicked();
    } else if (kind == 1 && b) {
        b->setStyleSheet(style_normal);
        g_button_focus = b;
    }
}

void CustomMode::vyr_button_mode_clicked()
{
    g_mode_select = ui_select;
    label_ID->setText(QStringLiteral("ID:%1").arg(ui_select + 1));
    lcd_para_init();
    image_para_init();
}

void CustomMode::on_Button_use_clicked()
{
    VyrRamPara* s = store();
    const uint32_t m = g_mode_select.load();
    if (!s || !s->recallMode(m))
        return;
    // The mode brings its own crop table: the pages' crop lists follow it.
    s->VyrCropSourceInit();
    lcd_para_init(); // the "Using" badge now names this slot
}

void CustomMode::on_Button_delete_clicked()
{
    VyrRamPara* s = store();
    const uint32_t m = g_mode_select.load();
    if (!s || !s->VyrUserModeSaved(m))
        return;
    s->mode_file_deal(m, 1);
    {
        // Nothing may go on naming a mode that no longer exists; saved like any other change. A
        // recall of it a tool has written is the tool's: its apply answers that nothing is there.
        ScalerHandOver handOver;
        if (s->boxWord(blk::kCurrentMode) == m + 1) {
            s->setBoxWord(blk::kCurrentMode, 0);
            handOver.commit(1);
        }
    }
    lcd_para_init();
    image_para_init();
}

void CustomMode::language_changed()
{
    const Texts& t = texts();
    label_title->setText(uiText(UiText::TitleCustomMode));
    Button_delete->setText(tr8(t.del));
    Button_use->setText(tr8(t.invoke));
    label_using->setText(uiText(UiText::Using));
    label_blank->setText(tr8(t.blank));
}

void CustomMode::syncUpdate()
{
    if (PageNav::languageChanged())
        language_changed();
    // A PC tool may have stored, replaced, deleted or recalled a mode while the page is open: the
    // slot shown follows its record and the current mode, and a row whose mode is gone closes.
    if (row_active == 1 && !get_mode_status()) {
        row_active = 0;
        selector->set_box_default();
        vyr_button_selinfo(2, 0);
    }
    vyr_button_mode_clicked();
}

void CustomMode::slot_Button_back_clicked()
{
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    PageNav::forget(4);
    if (g_mode_shortcut_key.load() == 1) {
        // Opened by MODE: every page it came from is gone, so the way back is the home screen.
        g_mode_shortcut_key = 0;
        PageNav::showHome();
        return;
    }
    PageNav::retext(1);
    g_page_focus = 1;
    PageNav::activate(1);
}

void CustomMode::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == PanelKey::OK)
        qDebug("this is OK button(CustomMode)[Press]\n");
    else if (event->key() == PanelKey::Back)
        qDebug("this is back button(CustomMode)[Press]\n");
    event->accept();
}

void CustomMode::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
    const int key = event->key();
    switch (key) {
    case PanelKey::Left:
        qDebug("this is left-code [CustomMode][Release]");
        break;
    case PanelKey::Right:
        qDebug("this is right-code [CustomMode][Release]");
        break;
    case PanelKey::OK:
        qDebug("this is OK button(CustomMode)[Release]\n");
        break;
    case PanelKey::Back:
        qDebug("this is back button(CustomMode)[Release]\n");
        break;
    case PanelKey::Mode:
        qDebug("this is mode-code [CustomMode][Release]"); // ignored on this page
        return;
    default:
        return;
    }
    if (row_active == 0) {
        if (key == PanelKey::Right || key == PanelKey::Left) {
            selector->set_box_default();
            if (key == PanelKey::Right)
                ui_select = uint8_t(ui_select >= kModeCount - 1 ? 0 : ui_select + 1);
            else
                ui_select = uint8_t(ui_select == 0 ? kModeCount - 1 : ui_select - 1);
            selector->set_boxindexsel(char(ui_select));
            vyr_button_mode_clicked();
        } else if (key == PanelKey::OK) {
            if (get_mode_status()) {
                row_active = 1;
                selector->set_box_modify();
                button_select = 0;
                vyr_button_selinfo(0, 0);
            }
        } else if (key == PanelKey::Back) {
            slot_Button_back_clicked();
        }
        return;
    }
    const int buttons = 3 - more_hidden;
    if (key == PanelKey::Right || key == PanelKey::Left) {
        vyr_button_selinfo(1, button_select);
        if (key == PanelKey::Right)
            button_select = uint8_t(button_select + 1 >= buttons ? 0 : button_select + 1);
        else
            button_select = uint8_t(button_select == 0 ? buttons - 1 : button_select - 1);
        vyr_button_selinfo(0, button_select);
    } else if (key == PanelKey::OK) {
        row_active = 0;
        selector->set_box_default();
        const uint8_t pressed = button_select;
        if (pressed == 0)
            on_Button_use_clicked();
        else if (pressed == 1)
            on_Button_delete_clicked();
        vyr_button_selinfo(2, 0);
        if (pressed == 2)
            vyr_button_mode_clicked(); // back to the windows view
    } else if (key == PanelKey::Back) {
        row_active = 0;
        selector->set_box_default();
        vyr_button_selinfo(2, 0);
        vyr_button_mode_clicked();
    }
}
