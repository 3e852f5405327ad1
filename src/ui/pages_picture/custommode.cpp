#include "ui/pages_picture/custommode.h"

#include "base/global.h"
#include "ui/pagenav.h"
#include "ui/panelkeys.h"
#include "ui/texts.h"

#include <QKeyEvent>
#include <QLabel>
#include <QtDebug>

QPointer<CustomMode> g_custommode;

CustomMode::CustomMode(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("CustomMode"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setGeometry(0, 0, 320, 240);
    setFixedSize(320, 240);
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QStringLiteral("background-color: rgb(16, 16, 28);"));
    label_title = new QLabel(this);
    label_title->setObjectName(QStringLiteral("label_title"));
    label_title->setGeometry(5, 5, 265, 22);
    label_title->setAlignment(Qt::AlignCenter);
    label_title->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
    QFont font = label_title->font();
    font.setPixelSize(15);
    label_title->setFont(font);
    language_changed();
}

void CustomMode::language_changed()
{
    label_title->setText(uiText(UiText::TitleCustomMode));
}

void CustomMode::syncUpdate()
{
    if (PageNav::languageChanged())
        language_changed();
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
    switch (event->key()) {
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
        slot_Button_back_clicked();
        break;
    case PanelKey::Mode:
        qDebug("this is mode-code [CustomMode][Release]"); // ignored on this page
        break;
    default:
        break;
    }
}
