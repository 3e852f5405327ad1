#include "ui/lockwindow.h"

#include "base/global.h"
#include "ui/mainwindow.h"
#include "ui/pagenav.h"
#include "ui/panelkeys.h"
#include "ui/texts.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QtDebug>
#include <cstdio>

QPointer<LockWindow> g_lockwindow;

namespace {
QLabel* label(QWidget* parent, const char* name, int x, int y, int w, int h)
{
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(x, y, w, h);
    l->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
    QFont font = l->font();
    font.setPixelSize(12);
    l->setFont(font);
    return l;
}
}

LockWindow::LockWindow(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("LockWindow"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setGeometry(0, 0, 320, 240);
    setFixedSize(320, 240);
    setStyleSheet(QStringLiteral("background-color: rgb(16, 16, 28);"));
    label_LED_icon = label(this, "label_LED_icon", 10, 13, 16, 16);
    label_LED_icon->setPixmap(QPixmap(QStringLiteral(":/png/LED.png")));
    label_LED_icon->setScaledContents(true);
    label_ip = label(this, "label_ip", 194, 13, 16, 16);
    label_ip->setPixmap(QPixmap(QStringLiteral(":/png/ip.png")));
    label_ip->setScaledContents(true);
    auto* line = new QLabel(this);
    line->setGeometry(10, 73, 300, 1);
    line->setStyleSheet(QStringLiteral("background-color: rgb(133, 129, 153);"));
    // A transparent layer over the whole screen: a tap anywhere opens the root menu.
    widget = new QWidget(this);
    widget->setObjectName(QStringLiteral("widget"));
    widget->setGeometry(0, 0, 320, 240);
    widget->setStyleSheet(QStringLiteral("background: transparent;"));
    widget->installEventFilter(this);
    // The top line shares its 320 pixels between the LED size of every language and the longest
    // address, "255.255.255.255".
    label_input = label(widget, "label_input", 30, 10, 162, 22);
    label_IPaddr = label(widget, "label_IPaddr", 212, 10, 106, 20);
    main_Button = new QPushButton(widget);
    main_Button->setObjectName(QStringLiteral("main_Button"));
    main_Button->setGeometry(290, 210, 20, 20);
    main_Button->setFocusPolicy(Qt::NoFocus);
    main_Button->setAutoDefault(false);
    main_Button->setIcon(QIcon(QStringLiteral(":/png/menu_status.png")));
    main_Button->setIconSize(QSize(20, 20));
    main_Button->hide();
    connect(main_Button, &QPushButton::clicked, this, &LockWindow::on_main_Button_clicked);
    para_init();
    ip_changed();
    language_changed();
    if (traceOn())
        printf("\n LockWindow::LockWindow ");
}

void LockWindow::para_init()
{
    const VyrRamPara* s = VyrRamPara::p_vyrrampara_config;
    const int w = s ? int16_t(s->u16(blk::kLedWidth)) : 0;
    const int h = s ? int16_t(s->u16(blk::kLedHeight)) : 0;
    label_input->setText(uiText(UiText::LedSize).arg(w).arg(h));
}

void LockWindow::language_changed()
{
    para_init();
}

void LockWindow::ip_changed()
{
    label_IPaddr->setText(g_str_ip);
}

void LockWindow::syncUpdate()
{
    if (PageNav::languageChanged())
        language_changed();
    const VyrRamPara* s = VyrRamPara::p_vyrrampara_config;
    if (s)
        label_input->setText(uiText(UiText::LedSize).arg(s->u16(blk::kLedWidth)).arg(s->u16(blk::kLedHeight)));
    ip_changed();
}

void LockWindow::openRootMenu()
{
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    PageNav::forget(0);
    g_page_focus = 1;
    if (g_mainwindow) {
        g_mainwindow->language_changed();
        g_mainwindow->show();
    }
    PageNav::activate(1);
}

void LockWindow::on_main_Button_clicked()
{
    openRootMenu();
}

bool LockWindow::eventFilter(QObject* watched, QEvent* event)
{
    // Only the mouse is taken: painting and the rest still reach the layer.
    switch (event->type()) {
    case QEvent::MouseButtonRelease:
        openRootMenu();
        return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
        return true;
    default:
        return QDialog::eventFilter(watched, event);
    }
}

void LockWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == PanelKey::OK)
        qDebug("this is OK button[LockWindow], addr = (g_page_focus) %p\n", static_cast<void*>(g_mainwindow.data()));
    else if (event->key() == PanelKey::Back)
        qDebug("this is back button[LockWindow][Press]\n");
    event->accept();
}

void LockWindow::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
    switch (event->key()) {
    case PanelKey::OK:
        qDebug("this is ok button[LockWindow][Release]");
        openRootMenu();
        break;
    case PanelKey::Mode:
        qDebug("this is mode-code [LockWindow][Release]");
        PageNav::modeShortcut();
        break;
    case PanelKey::Left:
        qDebug("this is left-code [LockWindow][Release]");
        break;
    case PanelKey::Right:
        qDebug("this is right-code [LockWindow][Release]");
        break;
    case PanelKey::Back:
        qDebug("this is back button[LockWindow][Release]");
        break;
    default:
        break;
    }
}
