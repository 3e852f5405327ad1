#include "ui/mainwindow.h"

#include "scaler/c331_manage.h"
#include "base/global.h"
#include "ui/blocksnapshot.h"
#include "ui/pages_picture/inputchoose.h"
#include "ui/machinestate.h"
#include "ui/numberkeyboard.h"
#include "ui/option.h"
#include "ui/pagenav.h"
#include "ui/picture_sizes.h"
#include "ui/panelkeys.h"
#include "ui/pictures.h"
#include "ui/tip.h"
#include "ui/ui_mainwindow.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QtDebug>
#include <cstdio>

QPointer<MainWindow> g_mainwindow;

namespace {
constexpr int kMenuEntries = 6; // machine state, input choice, user modes, settings, lock, tools
constexpr int kTools = 4;
constexpr int kToolsEntry = 5;

VyrRamPara* store() { return VyrRamPara::p_vyrrampara_config; }
}

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent),
      ui(new Ui_MainWindow),
      style_menu_normal(QStringLiteral("background-color: rgb(33, 36, 53);border:2px;border-radius:10px;padding:2px 4px")),
      style_tool_normal(QStringLiteral("background-color: rgb(33, 36, 53);border:1px;border-radius:1px;padding:1px 1px")),
      style_menu_focused(QStringLiteral("background-color: rgb(33, 36, 53);border:2px solid rgb(255,171,84);"
                                        "border-radius:10px;padding:2px 4px;")),
      style_tool_focused(QStringLiteral("background-color: rgb(33, 36, 53);border:1px solid rgb(255,171,84);"
                                        "border-radius:1px;padding:1px 1px")),
      style_bar(QStringLiteral("#widget_mode{background-color: rgb(255, 255, 255);border:1px groove gray;border-radius:1px;}")),
      style_slot_normal(QStringLiteral("background-color:transparent;")),
      style_slot_focused(QStringLiteral("background-color:transparent;border-radius:5px;border:2px solid rgb(255,171,84);"))
{
    Pictures::init();
    ui->setupUi(this);
    ui->widget->hide();
    bar_font.setPixelSize(12);
    mode_init();
    label_pointer = new QLabel(ui->centralWidget);
    label_pointer->setObjectName(QStringLiteral("label_pointer"));
    label_pointer->setPixmap(QPixmap(QStringLiteral(":/png/pointer.png")));
    label_pointer->setScaledContents(true);
    label_pointer->hide();
    ui->label_IP->setPixmap(QPixmap(QStringLiteral(":/png/ip.png")));
    ui->Button_lock->setIcon(QIcon(QStringLiteral(":/png/unlock.png")));
    ui->Button_lock->setIconSize(QSize(16, 16));
    ui->tools->setIcon(QIcon(QStringLiteral(":/png/tools.png")));
    ui->tools->setIconSize(QSize(16, 16));
    for (QPushButton* b : {ui->toolButton1, ui->toolButton2, ui->toolButton3, ui->toolButton4})
        b->setIconSize(QSize(PictureSize::kToolWidth, PictureSize::kToolHeight));

    // The form connects taps to the slots by name; the bar's own buttons are connected in mode_init.
    connect(ui->machinestate, &QPushButton::clicked, this, &MainWindow::on_machinestate_clicked);
    connect(ui->inputchoose, &QPushButton::clicked, this, &MainWindow::on_inputchoose_clicked);
    connect(ui->custommode, &QPushButton::clicked, this, &MainWindow::on_custommode_clicked);
    connect(ui->option, &QPushButton::clicked, this, &MainWindow::on_option_clicked);
    connect(ui->Button_lock, &QPushButton::clicked, this, &MainWindow::on_Button_lock_clicked);
    connect(ui->tools, &QPushButton::clicked, this, &MainWindow::on_tools_clicked);
    connect(ui->toolButton1, &QPushButton::clicked, this, &MainWindow::on_toolButton1_clicked);
    connect(ui->toolButton2, &QPushButton::clicked, this, &MainWindow::on_toolButton2_clicked);
    connect(ui->toolButton3, &QPushButton::clicked, this, &MainWindow::on_toolButton3_clicked);
    connect(ui->toolButton4, &QPushButton::clicked, this, &MainWindow::on_toolButton4_clicked);

    if (!g_numberkeyboard) {
        g_numberkeyboard = new NumberKeyboard(nullptr);
        // The keypad lives as long as the root menu.
        connect(this, &QObject::destroyed, [] { delete g_numberkeyboard.data(); });
    }
    if (!g_tip)
        g_tip = new TIP(nullptr);
    menulist_init();
    language_changed();
    ip_changed();
}

MainWindow::~MainWindow()
{
    delete ui;
}

void MainWindow::menulist_init()
{
    QWidget* const entries[10] = {ui->machinestate, ui->inputchoose, ui->custommode, ui->option, ui->Button_lock,
                                  ui->tools, ui->toolButton1, ui->toolButton2, ui->toolButton3, ui->toolButton4};
    // Every entry gets its own kind's normal style from the start: a button without one shows
    // the platform's raised frame until it first had the focus.
    for (int i = 0; i < 10; ++i) {
        focus_list[i] = entries[i];
        entries[i]->setStyleSheet(i < 4 ? style_menu_normal : style_tool_normal);
    }
    ui_select = 0;
    bar_index = 0;
    focus_widget = focus_list[0];
    focus_widget->setStyleSheet(style_menu_focused);
}

void MainWindow::setFocusEntry(int index)
{
    // Entries 0-3 are menu buttons, 4-9 tool buttons; each keeps the strings of its own kind.
    if (focus_widget) {
        const bool wasMenu = focus_widget == ui->machinestate || focus_widget == ui->inputchoose ||
                             focus_widget == ui->custommode || focus_widget == ui->option;
        focus_widget->setStyleSheet(wasMenu ? style_menu_normal : style_tool_normal);
    }
    focus_widget = focus_list[index];
    focus_widget->setStyleSheet(index < 4 ? style_menu_focused : style_tool_focused);
}

void MainWindow::setToolPicture(QPushButton* button, const char* name)
{
    button->setIcon(QIcon(Pictures::lang(name)));
}

void MainWindow::language_changed()
{
    ui->machinestate->setIcon(QIcon(Pictures::lang("machinestate")));
    ui->inputchoose->setIcon(QIcon(Pictures::lang("inputchoose")));
    ui->custommode->setIcon(QIcon(Pictures::lang("custommode")));
    ui->option->setIcon(QIcon(Pictures::lang("option")));
    // One size in every language: the pictures' captions are sized to fit it.
    for (QPushButton* b : {ui->machinestate, ui->inputchoose, ui->custommode, ui->option})
        b->setIconSize(QSize(PictureSize::kMenuWidth, PictureSize::kMenuHeight));
    setToolPicture(ui->toolButton3, call_picture_ ? "call" : "uncall");
    setToolPicture(ui->toolButton4, save_picture_ ? "save" : "unsave");
    para_init();
}

void MainWindow::para_init()
{
    const BlockSnapshot s(store());
    if (!s.valid())
        return;
    setToolPicture(ui->toolButton1, s.u16(blk::kBlackScreen) == 1 ? "closeled" : "uncloseled");
    setToolPicture(ui->toolButton2, s.audioOn() ? "unslience" : "slience");
    lock_state = s.u16(blk::kKeyLock) == 1 ? 1 : 0;
    ui->Button_lock->setIcon(QIcon(lock_state ? QStringLiteral(":/png/lock.png") : QStringLiteral(":/png/unlock.png")));
}

void MainWindow::ip_changed()
{
    ui->label_IPaddr->setText(g_str_ip);
}

void MainWindow::syncUpdate()
{
    if (PageNav::languageChanged())
        language_changed();
    const BlockSnapshot s(store());
    if (!s.valid())
        return;
    if (s.changed(blk::kBlackScreen) || s.changed(s.audioField()) || s.changed(blk::kKeyLock))
        para_init();
    ip_changed();
    // An open mode bar follows a PC tool's store, delete or recall: the operator stores over, or
    // recalls, only the slots as they are.
    if ((call_state || save_state) && widget_mode && widget_mode->isVisible()) {
        mode_init();
        showBar();
    }
}

bool MainWindow::menuBlocked()
{
    return lock_state == 1;
}

void MainWindow::on_machinestate_clicked()
{
    if (menuBlocked())
        return;
    mode_window_close();
    PageNav::openModal(new MachineState(nullptr));
}

void MainWindow::on_inputchoose_clicked()
{
    if (menuBlocked())
        return;
    mode_window_close();
    PageNav::openModal(new InputChoose(nullptr));
}

void MainWindow::on_custommode_clicked()
{
    if (menuBlocked())
        return;
    mode_window_close();
    PageNav::showUserModes();
}

void MainWindow::on_option_clicked()
{
    if (menuBlocked())
        return;
    mode_window_close();
    PageNav::openModal(new Option(nullptr));
}

void MainWindow::on_Button_lock_clicked()
{
    VyrRamPara* s = store();
    if (!s)
        return;
    uint16_t value = 0;
    {
        ScalerHandOver handOver; // the protocol writes the block under it
        value = (s->boxWord(blk::kKeyLock) + 1) & 1; // from what the box applied, not a tool's pending write
        s->setU16(blk::kKeyLock, value);
    }
    lock_state = uint8_t(value);
    ui->Button_lock->setIcon(QIcon(value ? QStringLiteral(":/png/lock.png") : QStringLiteral(":/png/unlock.png")));
    // The lock must survive a power cut: save it now rather than with some later change.
    s->test_signal(1);
}

void MainWindow::on_tools_clicked()
{
    if (!tools_shown_) {
        ui->widget->show();
        tools_shown_ = true;
        ui_select = 0;
        bar_index = 0;
        setFocusEntry(kFirstTool);
        return;
    }
    if (widget_mode) {
        widget_mode->hide();
        widget_mode->deleteLater();
        widget_mode = nullptr;
        mode_buttons.clear();
    }
    label_pointer->hide();
    call_state = save_state = 0;
    bar_index = 0;
    call_picture_ = save_picture_ = false;
    setToolPicture(ui->toolButton3, "uncall");
    setToolPicture(ui->toolButton4, "unsave");
    ui->widget->hide();
    tools_shown_ = false;
    ui_select = kToolsEntry;
    setFocusEntry(kToolsEntry);
}

void MainWindow::on_toolButton1_clicked()
{
    VyrRamPara* s = store();
    if (!s)
        return;
    ScalerHandOver handOver;
    const uint16_t v = (s->boxWord(blk::kBlackScreen) + 1) & 1; // idem
    setToolPicture(ui->toolButton1, v == 1 ? "closeled" : "uncloseled");
    s->setU16(blk::kBlackScreen, v);
    handOver.commit();
}

void MainWindow::on_toolButton2_clicked()
{
    VyrRamPara* s = store();
    if (!s)
        return;
    ScalerHandOver handOver;
    // Decided from what the box applied; the press is the box's.
    int w = uint8_t(s->boxWord(blk::kAudioWindow));
    if (w >= int(blk::kScalerWindows) || s->boxWord(blk::window(uint32_t(w), blk::win::kState)) == 0) {
        w = 0;
        s->setU16(blk::kAudioWindow, 0);
    }
    const uint32_t audio = blk::window(uint32_t(w), blk::win::kAudio); // with its high byte
    const bool on = s->boxWord(audio) & 0x8000;
    setToolPicture(ui->toolButton2, on ? "slience" : "unslience");
    s->setU16(audio, on ? 0 : 0x80FF);
    handOver.commit();
}

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == PanelKey::OK)
        qDebug("this is OK button(MainWindow)[Press]\n");
    else if (event->key() == PanelKey::Back)
        qDebug("this is back button(MainWindow)[Press]\n");
    event->accept();
}

void MainWindow::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
    const bool bar = call_state == 1 || save_state == 1;
    const int count = tools_shown_ ? kTools : kMenuEntries;
    const int base = tools_shown_ ? kFirstTool : 0;
    switch (event->key()) {
    case PanelKey::OK:
        qDebug("this is OK button(MainWindow)[Release],g_lockwindow=%p\n", static_cast<void*>(PageNav::page(0)));
        if (traceOn())
            printf(tools_shown_ ? "\n unhidden ui_select = %#x ,l_lock_state = %#x ,l_call_state=%#x\n"
                                : "\n ishidden ui_select = %#x ,l_lock_state = %#x l_call_state=%#x\n",
                   ui_select, lock_state, call_state);
        if (bar) {
            if (bar_index < mode_buttons.size())
                mode_buttons[bar_index]->click();
        } else if (auto* b = qobject_cast<QPushButton*>(focus_list[base + ui_select])) {
            b->click();
        }
        break;
    case PanelKey::Left:
    case PanelKey::Right: {
        const bool right = event->key() == PanelKey::Right;
        qDebug(right ? "this is right-code [MainWindow][Release] ui_select=%#x"
                     : "this is left-code [MainWindow][Release] ui_select=%#x",
               ui_select);
        if (bar) {
            on_usermodesel_clicked(right ? 1 : 0);
            break;
        }
        ui_select = uint8_t(right ? (ui_select + 1 >= count ? 0 : ui_select + 1) : (ui_select == 0 ? count - 1 : ui_select - 1));
        setFocusEntry(base + ui_select);
        break;
    }
    case PanelKey::Mode:
        qDebug("this is mode-code [MainWindow][Release]");
        // Under the key lock nothing opens, so nothing may be left waiting for a later opening.
        if (!menuBlocked()) {
            g_mode_shortcut_key = 1;
            on_custommode_clicked();
        }
        break;
    case PanelKey::Back:
        qDebug("this is back button(MainWindow)[Release]\n");
        if (bar) {
            on_deletewidgetmode_clicked();
        } else if (tools_shown_) {
            ui->widget->hide();
            tools_shown_ = false;
            call_picture_ = save_picture_ = false;
            setToolPicture(ui->toolButton3, "uncall");
            setToolPicture(ui->toolButton4, "unsave");
            ui_select = kToolsEntry;
            setFocusEntry(kToolsEntry);
        } else {
            mode_window_close();
            PageNav::showHome();
        }
        break;
    default:
        break;
    }
}
