// The root menu's user-mode bar: sixteen slots for recalling or storing a user mode.
#include "ui/mainwindow.h"

#include "scaler/c331_manage.h"
#include "base/global.h"
#include "ui/panelwidgets.h"
#include "ui/pictures.h"
#include "ui/texts.h"
#include "ui/ui_mainwindow.h"
#include "params/block_layout.h"
#include "params/scaler_hand_over.h"
#include "params/vyrrampara.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <cstring>
#include <mutex>

QWidget* g_mode[16] = {};
uint8_t g_mode_blank_check = 0;

namespace {
const char* const kSavedFrame = "background-color: #212435;border-radius:5px;";
const char* const kEmptyFrame = "background-color: #B2B2B2;border-radius:5px;";
const char* const kPickedFrame = "background-color: #00D65B;border-radius:5px;";

bool saved(int m)
{
    VyrRamPara* s = VyrRamPara::p_vyrrampara_config;
    return s && s->VyrUserModeSaved(uint32_t(m)) != 0;
}

// The first saved slot from `from` on (with wrap-around), or -1 when none is saved.
int savedFrom(int from)
{
    VyrRamPara* s = VyrRamPara::p_vyrrampara_config;
    const int32_t m = s ? s->VyrUserModeIndex(uint32_t(from), 2) : 256;
    return m >= 0 && m < int(kModeCount) ? m : -1;
}
}

void MainWindow::mode_init()
{
    // The old bar may hold the button whose click is being served: let it go after the click.
    if (widget_mode) {
        widget_mode->hide();
        widget_mode->deleteLater();
    }
    mode_buttons.clear();
    widget_mode = new QWidget(ui->centralWidget);
    widget_mode->setObjectName(QStringLiteral("widget_mode"));
    widget_mode->setAttribute(Qt::WA_StyledBackground);
    widget_mode->setStyleSheet(style_bar);
    widget_mode->hide();
    label_mode_title = new QLabel(widget_mode);
    label_mode_title->setObjectName(QStringLiteral("label_mode_title"));
    label_mode_title->setGeometry(10, 5, 210, 28);
    label_mode_title->setFont(bar_font);
    label_mode_title->setStyleSheet(QStringLiteral("background-color: rgb(255, 255, 255);"));

    // A tool's apply writes the current mode under the hand-over: read once, under it.
    int current = 0;
    if (VyrRamPara* s = VyrRamPara::p_vyrrampara_config) {
        ScalerHandOver lock;
        current = s->boxWord(blk::kCurrentMode); // not a recall a tool has not applied
    }
    if (current > int(kModeCount))
        current = 0;
    for (int i = 0; i < int(kModeCount); ++i) {
        const int x = 9 + 63 * (i & 3); // centred in the bar, which leaves room for the wider tools row
        const int y = 33 + 45 * (i / 4);
        auto* frame = new QFrame(widget_mode);
        frame->setGeometry(x, y, 50, 40);
        g_mode[i] = frame;
        // The number sits inside the slot, clear of its rounded corner and of the focus border,
        // and above the slot's button so that the border never covers it.
        auto* number = new QLabel(widget_mode);
        number->setObjectName(QStringLiteral("label_slot_number"));
        number->setGeometry(x + 3, y + 3, 14, 14);
        number->setAlignment(Qt::AlignCenter);
        number->setAttribute(Qt::WA_TransparentForMouseEvents);
        number->setText(QString::number(i + 1));
        number->setStyleSheet(PanelWidgets::boxStyle(QColor(0x4777FF)) + QStringLiteral("border-radius:3px;font: 10px;"));
        auto* icon = new QLabel(frame);
        icon->setGeometry(17, 12, 16, 16);
        icon->setScaledContents(true);
        auto* using_ = new QLabel(frame);
        using_->setObjectName(QStringLiteral("label_using"));
        // On a pill of the saved frame's colour: white on the pick's green reads at under 2:1.
        using_->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255); background-color: #212435; border-radius:3px; font: 10px;"));
        using_->setAlignment(Qt::AlignCenter);
        using_->setText(uiText(UiText::Using));
        using_->hide();
        auto* button = new QPushButton(widget_mode);
        button->setObjectName(QString::number(i));
        button->setGeometry(x, y, 50, 40);
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoDefault(false);
        button->setFlat(true); // only the focus border is drawn; the slot's frame shows through
        connect(button, &QPushButton::clicked, this, &MainWindow::vyr_button_mode_clicked);
        mode_buttons.append(button);
        button->raise();
        number->raise();

        const bool focused = i == bar_index;
        if (saved(i)) {
            frame->setStyleSheet(QLatin1String(kSavedFrame));
            icon->setPixmap(QPixmap(QStringLiteral(":/png/mode_exist.png")));
            button->setStyleSheet(focused && (call_state || save_state) ? style_slot_focused : style_slot_normal);
            if (i + 1 == current) {
                icon->setGeometry(17, 5, 16, 16);
                using_->setGeometry(2, 23, 46, 15);
                using_->show();
            }
        } else {
            frame->setStyleSheet(QLatin1String(kEmptyFrame));
            icon->setPixmap(QPixmap(QStringLiteral(":/png/mode_blank.png")));
            button->setStyleSheet(focused && save_state ? style_slot_focused : style_slot_normal);
        }
    }
}

void MainWindow::showBar()
{
    widget_mode->setGeometry(11, 6, 256, 230);
    const bool failed = save_state && store_failed_;
    label_mode_title->setText(uiText(failed ? UiText::StoreFailed : save_state ? UiText::BarStore : UiText::BarRecall));
    label_mode_title->setStyleSheet(failed ? QStringLiteral("background-color: rgb(255, 255, 255);color: rgb(200, 0, 0);")
                                           : QStringLiteral("background-color: rgb(255, 255, 255);"));
    widget_mode->show();
    widget_mode->raise();
    // Between the bar and the tools row, level with the tool that opened the bar.
    label_pointer->setGeometry(267, save_state ? 179 : 136, 9, 12);
    label_pointer->show();
    label_pointer->raise();
}

void MainWindow::mode_window_close()
{
    const bool barOpen = call_state || save_state;
    store_failed_ = false;
    call_state = 0;
    save_state = 0;
    if (widget_mode)
        widget_mode->hide();
    label_pointer->hide();
    if (barOpen) {
        // Left by MODE or BACK: the tools row keeps a visible focus on the tool that opened the
        // bar and shows the tools as not in use.
        call_picture_ = save_picture_ = false;
        setToolPicture(ui->toolButton3, "uncall");
        setToolPicture(ui->toolButton4, "unsave");
        setFocusEntry(kFirstTool + (ui_select & 3));
    }
}

void MainWindow::openBar(bool store)
{
    uint8_t& state = store ? save_state : call_state;
    if (state == 1)
        return;
    state = 1;
    if (store) {
        call_state = 0;
        call_picture_ = false;
        setToolPicture(ui->toolButton3, "uncall");
    } else {
        save_state = 0;
        save_picture_ = false;
        store_failed_ = false;
        setToolPicture(ui->toolButton4, "unsave");
    }
    if (focus_widget)
        focus_widget->setStyleSheet(style_tool_normal);
    const int first = savedFrom(bar_index);
    if (first >= 0) {
        bar_index = uint8_t(first);
        (store ? save_picture_ : call_picture_) = true;
        setToolPicture(store ? ui->toolButton4 : ui->toolButton3, store ? "save" : "call");
    } else {
        bar_index = 0;
    }
    mode_init();
    showBar();
}

void MainWindow::on_toolButton3_clicked()
{
    openBar(false);
}

void MainWindow::on_toolButton4_clicked()
{
    openBar(true);
}

void MainWindow::on_usermodesel_clicked(char direction)
{
    if (save_state) {
        bar_index = uint8_t(direction == 1 ? (bar_index + 1) % kModeCount : (bar_index == 0 ? kModeCount - 1 : bar_index - 1));
    } else {
        VyrRamPara* s = VyrRamPara::p_vyrrampara_config;
        const int32_t m = s ? s->VyrUserModeIndex(bar_index, uint32_t(direction)) : 256;
        bar_index = uint8_t(m >= 0 && m < int(kModeCount) ? m : 0);
    }
    mode_init();
    showBar();
}

void MainWindow::vyr_button_mode_clicked()
{
    const int before = g_mode_select.load();
    if (before < int(kModeCount) && g_mode[before])
        g_mode[before]->setStyleSheet(QLatin1String(saved(before) ? kSavedFrame : kEmptyFrame));
    QObject* button = sender();
    bool ok = false;
    const int slot = button ? button->objectName().toInt(&ok) : -1;
    if (!ok || slot < 0 || slot >= int(kModeCount))
        return;
    g_mode_select = uint8_t(slot);
    VyrRamPara* s = VyrRamPara::p_vyrrampara_config;
    if (save_state == 1) {
        // Stored here, before anything is shown: the check mark only for a mode whose file is
        // written, at the refresh its hand-over raises; a failed store leaves the slot as it was.
        store_failed_ = !(s && s->storeMode(uint32_t(slot)));
        if (!store_failed_)
            pending_tip = 1;
        save_state = 0;
        on_toolButton4_clicked();
    } else if (call_state == 1) {
        if (s && s->recallMode(uint32_t(slot)))
            pending_tip = 1;
        call_state = 0;
        bar_index = uint8_t(slot);
        on_toolButton3_clicked();
    }
    if (g_mode[slot])
        g_mode[slot]->setStyleSheet(QLatin1String(kPickedFrame));
}

void MainWindow::on_deletewidgetmode_clicked()
{
    mode_window_close();
}

void MainWindow::on_toolusermode_clicked()
{
    on_deletewidgetmode_clicked();
}
