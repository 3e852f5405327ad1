#include "ui/pages_settings/othersetup.h"

#include "base/global.h"
#include "base/logMsg.h"
#include "base/utils.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "scaler/c331_manage.h"
#include "ui/blocksnapshot.h"
#include "ui/pagenav.h"
#include "ui/panelkeys.h"
#include "ui/panelwidgets.h"

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QtDebug>
#include <atomic>
#include <cstring>

QPointer<othersetup> g_othersetup;

namespace {

std::atomic<void (*)()> wifiReset{nullptr};

struct Texts {
    const char* title;
    const char* volume;
    const char* effect;
    const char* projection;
    const char* wifi;
    const char* dbd;
    const char* window; // "%d" is the window number
    const char* off;
    const char* on;
    const char* seamless;
    const char* fade;
    const char* click;
};
const Texts kTexts[5] = {
    {"其它设置", "音量", "切换特效", "投屏设备", "WIFI状态", "点对点", "画面%d", "关闭", "开启", "无缝快切", "淡入淡出", "点击切换"},
    {"Other Settings", "Volume", "Switch mode", "Projection", "Wifi state", "DBD", "image%d", "OFF", "ON", "Seamless",
     "Fade", "Click OK"},
    {"Другие настройки", "Звук", "Эффект", "Радиоприбор", "WiFi статус", "Пиксель к пикселю", "Канал%d", "Откл", "Вкл",
     "Быстро", "Плавно", "Нажмите ОК"},
    {"Cài đặt khác", "âm thanh", "Hiệu ứng", "Cài đặt Thiết bị", "Trạng thái wifi", "Điểm tới điểm", "Hình ảnh%d", "Đóng",
     "Mở", "Chuyển đổi ngay", "và ngoài", "Đồng ý"},
    {"其它設置", "音量", "切換特效", "投屏設備", "WIFI狀態", "點對點", "畫麵%d", "關閉", "開啟", "無縫快切", "淡入淡出", "點擊切換"},
};
const Texts& texts() { return kTexts[languageColumn(g_language.load())]; }
QString tr8(const char* s) { return QString::fromUtf8(s); }

// The access point's daemons, stopped at once when the operator switches Wi-Fi off.
const char kKillHostapd[] = "kill -9 `pidof /usr/bin/hostapd /etc/rtl_hostapd_2G.conf`";
const char kKillUdhcpd[] = "kill -9 `pidof /usr/sbin/udhcpd  /etc/udhcpd.conf`";

constexpr int kCaptionPixels = 12;
constexpr int kSelectorPixels = 10;

bool audioOn(const uint8_t* block, uint32_t w) { return (block[blk::window(w, blk::win::kAudioHigh)] & 0x80) != 0; }
// The audio of window w as the box applied it, not a tool's write waiting for its apply (hand-over held).
bool appliedAudioOn(const VyrRamPara& store, uint32_t w) { return (store.boxWord(blk::window(w, blk::win::kAudio)) & 0x8000) != 0; }
bool windowOn(const uint8_t* block, uint32_t w) { return blk::windowShown(block, w); }

using PanelWidgets::pixels;

}

void othersetup::setWifiReset(void (*reset)())
{
    wifiReset = reset;
}

othersetup::othersetup(QWidget* parent)
    : VyrPage(17, "othersetup", UiText::TitleOthersetup, parent),
      style_combo_normal(QStringLiteral("QComboBox{color:rgb(255,255,255);border:1px solid rgb(255,255,255);padding-left:4px;}"
                                        "QComboBox::drop-down{width:0px;border:0px;}")),
      style_combo_focused(QStringLiteral("QComboBox{color:rgb(255,255,255);border:1px solid rgb(255,171,84);padding-left:4px;}"
                                         "QComboBox::drop-down{width:0px;border:0px;}")),
      style_combo_editing(QStringLiteral("QComboBox{color:rgb(255,255,255);border:1px solid rgb(255,0,0);padding-left:4px;}"
                                         "QComboBox::drop-down{width:0px;border:0px;}"))
{
    frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame"));
    frame->setGeometry(10, 42, 300, 180);
    frame->setStyleSheet(QStringLiteral("#frame{border:1px solid rgb(255,255,255);border-radius:6px;}"));

    auto caption = [this](const char* name, int y, int width) {
        auto* l = new QLabel(frame);
        l->setObjectName(QLatin1String(name));
        l->setGeometry(10, y, width, 18);
        l->setFont(pixels(l, kCaptionPixels));
        l->setStyleSheet(QStringLiteral("color:rgb(255,255,255);background-color:rgb(16, 16, 28);"));
        return l;
    };
    label_name_volume = caption("label_name_volume", 14, 68);
    label_name_switch = caption("label_name_switch", 48, 176);
    label_name_mode = caption("label_name_mode", 82, 176);
    label_wifi = caption("label_wifi", 116, 176);
    label_name_DBD = caption("label_name_DBD", 150, 176);

    auto selector = [this](const char* name, int x, int y, int h) {
        auto* c = new QComboBox(frame);
        c->setObjectName(QLatin1String(name));
        c->setGeometry(x, y, 100, h);
        c->setFont(pixels(c, kSelectorPixels));
        c->setFocusPolicy(Qt::NoFocus);
        // Only the keys change a row: a tapped drop-down would show a value nobody applied.
        c->setAttribute(Qt::WA_TransparentForMouseEvents);
        c->setStyleSheet(style_combo_normal);
        return c;
    };
    ImageVolume = selector("ImageVolume", 80, 10, 24);
    volume_state = selector("volume_state", 190, 10, 24);
    switch_state = selector("switch_state", 190, 44, 24);
    mode_state = selector("mode_state", 190, 78, 25);
    wifi_state = selector("wifi_state", 190, 112, 24);
    dbd_state = selector("dbd_state", 190, 146, 24);

    menulist_init();
    language_changed();
    para_init();
}

QComboBox* othersetup::row(int i) const
{
    QComboBox* const rows[kRows] = {ImageVolume, volume_state, switch_state, mode_state, wifi_state, dbd_state};
    return i >= 0 && i < kRows ? rows[i] : nullptr;
}

void othersetup::menulist_init()
{
    focus_list.clear();
    for (int i = 0; i < kRows; ++i) {
        focus_list.push_back(row(i));
        row(i)->setStyleSheet(style_combo_normal);
    }
    ui_select = 0;
    editing = 0;
    edit_value = 0;
    edit_start = 0;
    focus_widget = ImageVolume;
    ImageVolume->setStyleSheet(style_combo_focused);
    ImageVolume->setCurrentIndex(0);
}

void othersetup::language_changed()
{
    const Texts& t = texts();
    label_title->setText(tr8(t.title));
    label_name_volume->setText(tr8(t.volume));
    label_name_switch->setText(tr8(t.effect));
    label_name_mode->setText(tr8(t.projection));
    label_wifi->setText(tr8(t.wifi));
    label_name_DBD->setText(tr8(t.dbd));
}

void othersetup::syncUpdate(int)
{
    if (PageNav::languageChanged())
        language_changed();
    // A PC tool or the box may have changed a row: the page shows it, also the row being edited,
    // whose edit then starts from it (an entry the operator has already moved to stays theirs).
    showBlock();
    followEditedRow();
}

void othersetup::followEditedRow()
{
    const int stored = editing ? storedEntry(ui_select) : -1;
    if (stored >= 0 && edit_origin.changedElsewhere({stored})) {
        edit_value = uint8_t(edit_origin.rebase({int(edit_value)}, {stored}).at(0).toInt());
        edit_start = uint8_t(stored);
        row(ui_select)->setCurrentIndex(edit_value);
    }
}

void othersetup::para_init()
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store)
        return;
    {
        // The protocol writes the block under the hand-over lock; the repair goes the same way so
        // the scaler applies it and the refresh after its pass saves it.
        ScalerHandOver handOver;
        // Judged on what the box applied: a tool's unapplied write waits for its own apply.
        uint8_t applied[kBlockSize];
        store->appliedCopy(applied);
        const int16_t audio = int16_t(blk::get16(applied, blk::kAudioWindow));
        const bool named = audio >= 0 && audio < int(blk::kScalerWindows) && windowOn(applied, uint32_t(audio));
        if (!named && audio != 0) { // a 0 naming a window that is off stays as it is
            writeLogMsg(LOG_WARNING, "other settings: audio window " + std::to_string(audio) + " repaired to 0");
            store->setU16(blk::kAudioWindow, 0);
            handOver.commit();
        }
    }
    showBlock();
}

void othersetup::showBlock()
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store)
        return;
    const BlockSnapshot applied(store); // the rows show what the box runs
    const uint8_t* block = applied.block();
    const Texts& t = texts();
    const uint32_t audio = block[blk::kAudioWindow];
    const int edited = editing ? ui_select : -1;

    // The chooser's entries follow the windows that are on, not while one is being chosen; it
    // stays on the window the operator chose while that is on, else the audio window.
    if (edited != 0 && edited != 1) {
        const int kept = chosenWindow();
        const uint32_t wanted = kept >= 0 && windowOn(block, uint32_t(kept)) ? uint32_t(kept) : audio;
        ImageVolume->clear();
        for (uint32_t w = 0; w < blk::kScalerWindows; ++w) {
            if (!windowOn(block, w))
                continue;
            ImageVolume->addItem(tr8(t.window).replace(QLatin1String("%d"), QString::number(w + 1)), int(w));
            if (w == wanted)
                ImageVolume->setCurrentIndex(ImageVolume->count() - 1);
        }
        if (ImageVolume->count() > 0 && ImageVolume->currentIndex() < 0)
            ImageVolume->setCurrentIndex(0);
        option_count[0] = uint8_t(ImageVolume->count());
    }

    auto fill = [edited](QComboBox* c, int r, QStringList entries, int current) {
        if (c->count() != entries.size()) {
            c->clear();
            c->addItems(entries);
        }
        if (r != edited)
            c->setCurrentIndex(current);
    };
    // The audio row shows the window the chooser shows: the audio window, or the first window on
    // when the audio window is off.
    const int shown = chosenWindow();
    fill(volume_state, 1, {tr8(t.off), tr8(t.on)}, audioOn(block, shown >= 0 ? uint32_t(shown) : audio) ? 1 : 0);
    fill(switch_state, 2, {tr8(t.seamless), tr8(t.fade)}, blk::get16(block, blk::kSwitchEffect) != 0 ? 1 : 0);
    fill(mode_state, 3, {tr8(t.click)}, 0);
    fill(wifi_state, 4, {tr8(t.on), tr8(t.off)}, blk::get16(block, blk::kWifiOff) != 0 ? 1 : 0);
    fill(dbd_state, 5, {tr8(t.off), tr8(t.on)}, blk::get16(block, blk::kPointToPoint) != 0 ? 1 : 0);
}

int othersetup::storedEntry(int r) const
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    const int w = chosenWindow();
    if (!store)
        return -1;
    // What the box applied: a tool's write waiting for its apply is neither where an edit starts
    // nor what a confirm is measured against, or the row would show a switch the box does not run.
    ScalerHandOver lock;
    switch (r) {
    case 1: return w >= 0 && appliedAudioOn(*store, uint32_t(w)) ? 1 : 0;
    case 2: return store->boxWord(blk::kSwitchEffect) != 0 ? 1 : 0;
    case 4: return store->boxWord(blk::kWifiOff) != 0 ? 1 : 0;
    case 5: return store->boxWord(blk::kPointToPoint) != 0 ? 1 : 0;
    default: return -1; // the chooser and the projection row write nothing
    }
}

int othersetup::chosenWindow() const
{
    const int i = ImageVolume->currentIndex();
    return i < 0 ? -1 : ImageVolume->itemData(i).toInt();
}

void othersetup::showAudioOf(int window)
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store || window < 0 || window >= int(blk::kScalerWindows))
        return;
    bool on = false;
    {
        ScalerHandOver lock;
        on = audioOn(store->view(), uint32_t(window));
    }
    volume_state->setCurrentIndex(on ? 1 : 0);
}

void othersetup::on_button_box_clicked()
{
    // A confirm that changes nothing writes nothing: what the row shows is what the block holds.
    const int stored = storedEntry(ui_select);
    if (stored >= 0 && stored == edit_value)
        return;
    switch (ui_select) {
    case 0:
        // Nothing is written: the audio row now acts on, and shows, the chosen window.
        showAudioOf(chosenWindow());
        break;
    case 1: applyAudio(); break;
    case 2: applySwitchEffect(); break;
    case 4: applyWifi(); break;
    case 5: applyPointToPoint(); break;
    default: break; // projection: nothing to apply
    }
}

void othersetup::applyAudio()
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store)
        return;
    const int w = chosenWindow();
    ScalerHandOver handOver;
    if (w >= 0) {
        const bool on = appliedAudioOn(*store, uint32_t(w));
        if (on != (edit_value != 0)) {
            store->setU16(blk::kAudioWindow, uint16_t(w)); // with the audio state byte
            store->setU16(blk::window(uint32_t(w), blk::win::kAudio), on ? 0 : 0x80FF);
            handOver.commit();
        }
    }
}

void othersetup::applySwitchEffect()
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store)
        return;
    {
        ScalerHandOver handOver;
        const bool fade = edit_value != 0;
        store->setU8(blk::kSwitchEffect, fade ? 1 : 0);
        for (uint32_t w = 0; w < blk::kScalerWindows; ++w) {
            const uint32_t output = blk::window(w, blk::win::kOutput);
            if (fade) {
                store->setU8(blk::fadeIn(w), kFadeTime);
                store->setU8(blk::fadeOut(w), kFadeTime);
            }
            const uint8_t boxOutput = uint8_t(store->boxWord(output)); // not a tool's unapplied bits
            store->setU8(output, uint8_t(fade ? boxOutput | blk::win::kOutEffect : boxOutput & ~blk::win::kOutEffect));
        }
        handOver.commit();
    }
    store->ram_para_save();
}

void othersetup::applyWifi()
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store)
        return;
    const bool off = edit_value != 0;
    {
        ScalerHandOver handOver;
        store->setU8(blk::kWifiOff, off ? 1 : 0);
        handOver.commit();
    }
    if (!off) {
        if (void (*reset)() = wifiReset.load())
            reset();
        return;
    }
    // The daemons go only after the refresh that saves the switch (queued before them): a power
    // cut in between must not bring the access point back at the next start.
    store->ram_para_save();
    QMetaObject::invokeMethod(
        qApp,
        [] {
            for (const char* command : {kKillHostapd, kKillUdhcpd})
                if (Utils::system_mutex(QString::fromLatin1(command)) != 0)
                    writeLogMsg(LOG_INFO, std::string("other settings: no process stopped by: ") + command);
        },
        Qt::QueuedConnection);
}

void othersetup::applyPointToPoint()
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store)
        return;
    {
        ScalerHandOver handOver;
        const uint8_t on = edit_value != 0 ? 1 : 0;
        store->setU8(blk::kPointToPoint, on);
        for (uint32_t w = 0; w < blk::kScalerWindows; ++w)
            store->setU8(blk::window(w, blk::win::kPointToPoint), on);
        handOver.commit();
    }
    store->ram_para_save();
}

void othersetup::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
    const int key = event->key();
    QComboBox* current = row(ui_select);
    switch (key) {
    case PanelKey::Left:
    case PanelKey::Right: {
        const bool right = key == PanelKey::Right;
        qDebug("this is %s-code [othersetup][Release] ui_select=%#x", right ? "right" : "left", ui_select);
        if (editing) {
            const uint8_t n = option_count[ui_select];
            if (n == 0)
                break;
            if (right)
                edit_value = uint8_t(edit_value + 1 >= n ? 0 : edit_value + 1);
            else
                edit_value = uint8_t(edit_value == 0 ? n - 1 : edit_value - 1);
            current->setCurrentIndex(edit_value);
        } else {
            current->setStyleSheet(style_combo_normal);
            if (right)
                ui_select = uint8_t(ui_select + 1 >= kRows ? 0 : ui_select + 1);
            else
                ui_select = uint8_t(ui_select == 0 ? kRows - 1 : ui_select - 1);
            focus_widget = row(ui_select);
            focus_widget->setStyleSheet(style_combo_focused);
        }
        break;
    }
    case PanelKey::OK:
        qDebug("this is OK button(othersetup)[Release]\n");
        if (editing) {
            followEditedRow(); // a tool's change the refresh has not shown yet
            editing = 0;
            edit_origin.close();
            current->setStyleSheet(style_combo_focused);
            on_button_box_clicked();
        } else if (option_count[ui_select] > 0 && current->currentIndex() >= 0) {
            // An empty chooser (no window on) has nothing to edit.
            // The edit starts from what the box applied, which a tool may have changed since the
            // page's last refresh: from the entry shown, its confirm would undo that change.
            const int stored = storedEntry(ui_select);
            editing = 1;
            edit_value = edit_start =
                uint8_t(stored >= 0 && stored < option_count[ui_select] ? stored : current->currentIndex());
            current->setCurrentIndex(edit_value);
            edit_origin.start({stored});
            current->setStyleSheet(style_combo_editing);
        }
        break;
    case PanelKey::Back:
        qDebug("this is back button(othersetup)[Release]\n");
        if (editing) {
            // Nothing was written while editing: the row shows what the block holds.
            editing = 0;
            edit_origin.close();
            current->setCurrentIndex(edit_start < option_count[ui_select] ? edit_start : 0);
            current->setStyleSheet(style_combo_focused);
            showBlock();
        } else {
            slot_Button_back_clicked();
        }
        break;
    case PanelKey::Mode:
        qDebug("this is mode-code [othersetup][Release]");
        PageNav::modeShortcut();
        break;
    default:
        break;
    }
}

void othersetup::slot_Button_back_clicked()
{
    // The advanced menu is re-texted only when the language really changed here.
    PageNav::back(this, PageNav::languageChanged());
}
