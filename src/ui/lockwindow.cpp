#include "ui/lockwindow.h"

#include "base/global.h"
#include "params/alias_names.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "ui/blocksnapshot.h"
#include "ui/inputtexts.h"
#include "ui/mainwindow.h"
#include "ui/pagenav.h"
#include "ui/panelkeys.h"
#include "ui/panelwidgets.h"
#include "ui/sourceinfo.h"
#include "ui/texts.h"

#include <QEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QtDebug>
#include <cstdio>

QPointer<LockWindow> g_lockwindow;

namespace {
QLabel* label(QWidget* parent, const char* name, int x, int y, int w, int h, int pixels = 12)
{
    return PanelWidgets::label(parent, QLatin1String(name), QRect(x, y, w, h), pixels);
}

QLabel* picture(QWidget* parent, const char* name, int x, int y, const char* path)
{
    QLabel* l = label(parent, name, x, y, 16, 16);
    l->setPixmap(QPixmap(QLatin1String(path)));
    l->setScaledContents(true);
    return l;
}

const QColor kSquareColour[6] = {QColor(0x867AE9), QColor(0xEBA83A), QColor(0x005A8D),
                                 QColor(0xFF96AD), QColor(0x39A9CB), QColor(0xFC5404)};

VyrRamPara* store() { return VyrRamPara::p_vyrrampara_config; }
}

LockWindow::LockWindow(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("LockWindow"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setGeometry(0, 0, 320, 240);
    setFixedSize(320, 240);
    setStyleSheet(QStringLiteral("background-color: rgb(16, 16, 28);"));
    label_LED_icon = picture(this, "label_LED_icon", 10, 13, ":/png/LED.png");
    label_ip = picture(this, "label_ip", 194, 13, ":/png/ip.png");
    label_bright_icon = picture(this, "label_bright_icon", 10, 47, ":/png/bright.png");
    label_bright = label(this, "label_bright", 31, 44, 29, 22);
    label_contrast_icon = picture(this, "label_contrast_icon", 135, 47, ":/png/contrast.png");
    label_contrast = label(this, "label_contrast", 156, 44, 29, 22);
    label_volume_icon = picture(this, "label_volume_icon", 260, 47, ":/png/volume_open.png");
    label_volume = label(this, "label_volume", 279, 44, 29, 22);
    label_volume->hide();
    auto* line = new QLabel(this);
    line->setObjectName(QStringLiteral("line"));
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
    image_init();
    ip_changed();
    language_changed();
    if (traceOn())
        printf("\n LockWindow::LockWindow ");
}

LockWindow::~LockWindow()
{
    if (g_lockwindow == this)
        g_lockwindow = nullptr;
}

void LockWindow::setLedText(int width, int height)
{
    label_input->setText(uiText(UiText::LedSize).arg(width).arg(height));
}

void LockWindow::setVolumePicture(bool on)
{
    label_volume_icon->setPixmap(QPixmap(on ? QStringLiteral(":/png/volume_open.png") : QStringLiteral(":/png/volume_close.png")));
}

void LockWindow::para_init()
{
    const BlockSnapshot s(store());
    if (!s.valid())
        return;
    setLedText(int16_t(s.u16(blk::kLedWidth)), int16_t(s.u16(blk::kLedHeight)));
    label_bright->setText(QString::number(int16_t(s.u16(blk::kBrightness))));
    label_contrast->setText(QString::number(int16_t(s.u16(blk::kContrast))));
    setVolumePicture(s.audioOn());
}

bool LockWindow::volume_check() const
{
    const BlockSnapshot s(store());
    return s.valid() && s.audioOn();
}

void LockWindow::image_init()
{
    delete list_frame;
    list_frame = new QFrame(this);
    list_frame->setObjectName(QStringLiteral("frame_list"));
    list_frame->setGeometry(0, 74, 320, 160);
    list_frame->installEventFilter(this);
    QFont font = list_frame->font();
    font.setPixelSize(10);
    list_frame->setFont(font);
    VyrRamPara* para = store();
    const BlockSnapshot s(para);
    if (s.valid()) {
        const uint16_t screen = s.u16(blk::kBlackScreen);
        for (int k = 0; k < 6; ++k) {
            const int c = k & 1;
            const int r = k / 2;
            auto* square = new QLabel(QString::number(k + 1), list_frame);
            square->setObjectName(QStringLiteral("label_num%1").arg(k + 1));
            square->setGeometry(10 + 155 * c, 10 + 50 * r, 40, 40);
            square->setAlignment(Qt::AlignCenter);
            square->setStyleSheet(PanelWidgets::boxStyle(kSquareColour[k]) + QStringLiteral("font: 20px"));
            QLabel* name = label(list_frame, "label_name", 55 + 155 * c, 13 + 50 * r, 100, 15, 10);
            name->setTextFormat(Qt::PlainText); // an input's alias comes from an uploaded file
            name->setObjectName(QStringLiteral("label_name%1").arg(k + 1));
            const bool on = k == 0 || blk::windowShown(s.block(), uint32_t(k)); // window 1 is always listed
            if (!on) {
                QLabel* closed = label(list_frame, "label_state", 55 + 155 * c, 20 + 50 * r, 40, 15, 10);
                closed->setObjectName(QStringLiteral("label_state%1").arg(k + 1));
                closed->setText(inText(InText::Close));
                continue;
            }
            int16_t isCrop = 0;
            int8_t cropIndex = 0;
            const uint8_t input = uint8_t(para->VyrGetImageSource(s.block(), uint8_t(k), &isCrop, &cropIndex, 0));
            int width = s.u16(blk::inputResolution(input));
            int height = s.u16(blk::inputResolution(input) + 2);
            const int rate = s.u16(blk::inputResolution(input) + 4);
            QString text;
            if (isCrop) {
                // The crop's own number, from its entry: the same on every page.
                const uint32_t entry = uint8_t(cropIndex);
                text = sourceinfo::get_source_name_by_sourceid(input)
                    + QStringLiteral("_Crop%1").arg(blk::crop::number(s.u16(blk::cropField(entry, blk::crop::kId))));
                width = s.u16(blk::cropField(entry, blk::crop::kWidth));
                height = s.u16(blk::cropField(entry, blk::crop::kHeight));
            } else {
                ALIAS_PARA alias;
                if (get_json_alias_para(&alias, "source", input))
                    text = QFontMetrics(name->font()).elidedText(QString::fromStdString(alias.name), Qt::ElideRight, name->width());
                else
                    text = sourceinfo::get_source_name_by_sourceid(input);
            }
            name->setText(text);
            QLabel* state = label(list_frame, "label_state", 55 + 155 * c, 28 + 50 * r, 100, 14, 10);
            state->setObjectName(QStringLiteral("label_state%1").arg(k + 1));
            const uint16_t flags = s.u16(blk::window(k, blk::win::kOutput));
            QString stateText;
            if (screen == 1)
                stateText = inText(InText::Black);
            else if (width == 0 || height == 0 || rate == 0)
                stateText = inText(InText::NoSignal);
            else
                stateText = QStringLiteral("%1x%2@%3Hz").arg(width).arg(height).arg(rate);
            if (screen != 1 && (flags & blk::win::kOutBlack))
                stateText = inText(InText::Black);
            state->setText(stateText);
            if (screen == 2 || (flags & blk::win::kOutFreeze)) {
                auto* freeze = new QLabel(square);
                freeze->setObjectName(QStringLiteral("label_freeze%1").arg(k + 1));
                freeze->setGeometry(0, 0, 16, 16);
                freeze->setPixmap(QPixmap(QStringLiteral(":/png/freeze.png")));
                freeze->setScaledContents(true);
            }
        }
    }
    list_frame->show();
}

void LockWindow::language_changed()
{
    const BlockSnapshot s(store());
    if (s.valid())
        setLedText(int16_t(s.u16(blk::kLedWidth)), int16_t(s.u16(blk::kLedHeight)));
    image_init();
}

void LockWindow::ip_changed()
{
    label_IPaddr->setText(g_str_ip);
}

void LockWindow::syncUpdate()
{
    if (PageNav::languageChanged())
        language_changed();
    const BlockSnapshot s(store());
    if (s.valid()) {
        if (s.changed(blk::kLedWidth) || s.changed(blk::kLedHeight))
            setLedText(s.u16(blk::kLedWidth), s.u16(blk::kLedHeight));
        if (s.changed(blk::kBrightness))
            label_bright->setText(QString::number(int16_t(s.u16(blk::kBrightness))));
        if (s.changed(blk::kContrast))
            label_contrast->setText(QString::number(int16_t(s.u16(blk::kContrast))));
        if (s.changed(s.audioField()))
            setVolumePicture(s.audioOn());
    }
    image_init();
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
    // Only the mouse is taken: painting and the rest still reach the layer and the list.
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
