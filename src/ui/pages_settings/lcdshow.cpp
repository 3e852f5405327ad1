#include "ui/pages_settings/lcdshow.h"

#include "base/global.h"
#include "ui/pagenav.h"
#include "ui/panelkeys.h"
#include "ui/panelwidgets.h"

#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QtDebug>

QPointer<lcdshow> g_lcdshow;

namespace {

enum Text { Title, BackCaption, LockCaption, Back30, Back60, BackNever, Lock5, Lock10, LockNever, TextCount };
const char* const kTexts[5][TextCount] = {
    {"液晶显示", "返回主界面时长", "自动锁屏", "30", "60", "从不", "5分钟", "10分钟", "从不"},
    {"LCD display", "To main interface", "Auto-screen lock", "30", "60", "Never", "5min", "10min", "Never"},
    {"ЖК дисплей", "Возврат к главному", "Автоблокировка", "30", "60", "Отключить", "5 мин", "10 мин", "Отключить"},
    {"Màn hình LCD", "Quay lại màn hình chính", "Tự đọng khoá màn hình", "30", "60", "Không bao giờ khoá", "5 phút",
     "10 phút", "Không bao giờ khoá"},
    {"液晶顯示", "返回主界麵時長", "自動鎖屏", "30", "60", "從不", "5分鐘", "10分鐘", "從不"},
};
QString text(Text t) { return QString::fromUtf8(kTexts[languageColumn(g_language.load())][t]); }

constexpr int kFontPixels = 11;

using PanelWidgets::pixels;

}

lcdshow::lcdshow(QWidget* parent)
    : VyrPage(15, "lcdshow", UiText::TitleLcdshow, parent),
      style_nofocus(QStringLiteral("QComboBox{\ncolor:rgb(255,255,255);\nborder:1px solid rgb(255,255,255);\n}\nQComboBox:drop-down{\nborder-style:none\n}")),
      style_focus(QStringLiteral("QComboBox{\ncolor:rgb(255,255,255);\nborder:1px solid rgb(255,171,84);\n}\nQComboBox:drop-down{\nborder-style:none\n}")),
      style_editing(QStringLiteral("QComboBox{\ncolor:rgb(255,255,255);\nborder:1px solid rgb(255,0,0);\n}\nQComboBox:drop-down{\nborder-style:none\n}"))
{
    frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame"));
    frame->setGeometry(10, 42, 300, 190);
    frame->setStyleSheet(QStringLiteral("#frame{border:1px solid rgb(255, 255, 255);border-radius:6px;}"));
    auto caption = [this](const char* name, int y) {
        auto* l = new QLabel(frame);
        l->setObjectName(QLatin1String(name));
        // Wider than the given layout, so the longest caption and choice (Vietnamese) fit on one line.
        l->setGeometry(8, y - 2, 140, 21);
        l->setFont(pixels(l, kFontPixels));
        l->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
        return l;
    };
    label_backmainwindow = caption("label_backmainwindow", 14);
    label_autolock = caption("label_autolock", 48);
    auto selector = [this](const char* name, int y) {
        auto* c = new QComboBox(frame);
        c->setObjectName(QLatin1String(name));
        c->setGeometry(150, y - 2, 144, 21);
        c->setFont(pixels(c, kFontPixels));
        c->setFocusPolicy(Qt::NoFocus);
        c->setStyleSheet(style_nofocus);
        return c;
    };
    comboBox_back = selector("comboBox_back", 14);
    comboBox_lock = selector("comboBox_lock", 48);
    para_init();
    menulist_init();
    language_changed();
}

void lcdshow::para_init()
{
    // The choices keep the language of the opening.
    comboBox_back->clear();
    comboBox_back->addItems({text(Back30), text(Back60), text(BackNever)});
    comboBox_lock->clear();
    comboBox_lock->addItems({text(Lock5), text(Lock10), text(LockNever)});
}

void lcdshow::menulist_init()
{
    ui_select = 0;
    edit_flag = 0;
    choice_index = 0;
    focus_list = {comboBox_back, comboBox_lock};
    comboBox_back->setCurrentIndex(0);
    comboBox_lock->setCurrentIndex(0);
    comboBox_lock->setStyleSheet(style_nofocus);
    focused = comboBox_back;
    focus_widget = focused;
    focused->setStyleSheet(style_focus);
}

void lcdshow::language_changed()
{
    label_title->setText(text(Title));
    label_backmainwindow->setText(text(BackCaption));
    label_autolock->setText(text(LockCaption));
}

void lcdshow::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
    const int key = event->key();
    switch (key) {
    case PanelKey::OK:
        qDebug("this is OK button(lcdshow)[Release]\n");
        edit_flag = edit_flag ? 0 : 1;
        focused->setStyleSheet(edit_flag ? style_editing : style_focus);
        break;
    case PanelKey::Left:
    case PanelKey::Right: {
        const bool right = key == PanelKey::Right;
        qDebug(right ? "this is right-code [lcdshow][Release] ui_select=%#x" : "this is left-code [lcdshow][Release] ui_select=%#x",
               ui_select);
        if (edit_flag) {
            // One index for both selectors: editing the second starts where the first was left.
            choice_index = uint8_t(right ? (choice_index + 1) % 3 : (choice_index + 2) % 3);
            focused->setCurrentIndex(choice_index);
        } else {
            focused->setStyleSheet(style_nofocus);
            ui_select = ui_select ? 0 : 1;
            focused = ui_select ? comboBox_lock : comboBox_back;
            focus_widget = focused;
            focused->setStyleSheet(style_focus);
        }
        break;
    }
    case PanelKey::Back:
        qDebug("this is back button(lcdshow)[Release]\n");
        slot_Button_back_clicked();
        break;
    case PanelKey::Mode:
        qDebug("this is mode-code [lcdshow][Release]");
        PageNav::modeShortcut();
        break;
    default:
        break;
    }
}
