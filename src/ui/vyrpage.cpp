#include "ui/vyrpage.h"

#include "ui/pagenav.h"
#include "ui/panelkeys.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QLabel>
#include <QtDebug>

VyrPage::VyrPage(int code, const char* pageName, UiText title, QWidget* parent)
    : QDialog(parent),
      style_focused(QStringLiteral("color:rgb(255,255,255);background-color: rgb(33, 36, 53); border:2px solid "
                                   "rgb(255,171,84);border-radius:10px;padding:2px 4px")),
      style_normal(QStringLiteral("color:rgb(255,255,255);background-color: rgb(33, 36, 53) ; border:2px "
                                  ";border-radius:10px;padding:2px 4px")),
      code_(code),
      name_(pageName),
      title_(title)
{
    setObjectName(QLatin1String(pageName));
    setWindowTitle(QStringLiteral("Dialog"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setGeometry(0, 0, 320, 240);
    setFixedSize(320, 240);
    setStyleSheet(QStringLiteral("background-color: rgb(16, 16, 28);"));
    label_title = new QLabel(this);
    label_title->setObjectName(QStringLiteral("label_title"));
    label_title->setGeometry(50, 10, 220, 22);
    label_title->setAlignment(Qt::AlignCenter);
    label_title->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
    QFont font = label_title->font();
    font.setPixelSize(15);
    label_title->setFont(font);
    label_title->setText(uiText(title_));
}

void VyrPage::language_changed()
{
    label_title->setText(uiText(title_));
}

void VyrPage::syncUpdate(int)
{
    if (PageNav::languageChanged())
        language_changed();
}

void VyrPage::slot_Button_back_clicked()
{
    PageNav::back(this);
}

void VyrPage::setFocusList(const std::vector<QWidget*>& entries)
{
    focus_list = entries;
    ui_select = 0;
    focus_widget = focus_list.empty() ? nullptr : focus_list[0];
    for (QWidget* w : focus_list) {
        w->setFocusPolicy(Qt::NoFocus);
        if (auto* button = qobject_cast<QAbstractButton*>(w))
            button->setProperty("autoDefault", false);
        w->setStyleSheet(w == focus_widget ? style_focused : style_normal);
    }
}

void VyrPage::moveFocus(bool right)
{
    const int n = int(focus_list.size());
    if (n == 0)
        return;
    focus_widget->setStyleSheet(style_normal);
    if (right)
        ui_select = uint8_t(ui_select + 1 >= n ? 0 : ui_select + 1);
    else
        ui_select = uint8_t(ui_select == 0 ? n - 1 : ui_select - 1);
    focus_widget = focus_list[ui_select];
    focus_widget->setStyleSheet(style_focused);
}

void VyrPage::okReleased()
{
    if (auto* button = qobject_cast<QAbstractButton*>(focus_widget))
        button->click();
}

void VyrPage::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == PanelKey::OK)
        qDebug("this is OK button(%s)[Press]\n", name_);
    else if (event->key() == PanelKey::Back)
        qDebug("this is back button(%s)[Press]\n", name_);
    event->accept();
}

void VyrPage::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
    switch (event->key()) {
    case PanelKey::Left:
        qDebug("this is left-code [%s][Release] ui_select=%#x", name_, ui_select);
        moveFocus(false);
        break;
    case PanelKey::Right:
        qDebug("this is right-code [%s][Release] ui_select=%#x", name_, ui_select);
        moveFocus(true);
        break;
    case PanelKey::OK:
        qDebug("this is OK button(%s)[Release]\n", name_);
        okReleased();
        break;
    case PanelKey::Back:
        qDebug("this is back button(%s)[Release]\n", name_);
        slot_Button_back_clicked();
        break;
    case PanelKey::Mode:
        qDebug("this is mode-code [%s][Release]", name_);
        PageNav::modeShortcut();
        break;
    default:
        break;
    }
}
