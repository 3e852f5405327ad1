#include "ui/pages_settings/factory.h"

#include "base/delay.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "base/utils.h"
#include "fpga/fpga_manage.h"
#include "params/block_layout.h"
#include "params/config_engine.h"
#include "params/vyrrampara.h"
#include "scaler/c331_manage.h"
#include "ui/pagenav.h"
#include "ui/panelkeys.h"
#include "video_chips/keltosource.h"
#include "ui/panelwidgets.h"

#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMutexLocker>
#include <QPushButton>
#include <QtDebug>
#include <cstring>

QPointer<factory> g_factory;

const char* const factory::kDefaultIp = "192.168.1.199";
const char* const factory::kDefaultMask = "255.255.255.0";
const char* const factory::kDefaultGateway = "192.168.1.1";

namespace {

struct Texts {
    const char* title;
    const char* lang;
    const char* rst;
    const char* ip;
    const char* edid;
    const char* all;
    const char* press;
};
const Texts kTexts[5] = {
    {"工厂设置", "语言", "工厂复位", "保持IP不变", "IP和EDID保持不变", "全部恢复出厂设置", "点击OK应用"},
    {"Factory setup", "language", "Factory reset", "Keep IP", "Keep IP,EDIP", "Reset ALL", "Press Ok"},
    {"Системные настройки", "Язык", "Сброс настроек", "Сохранить IP", "Сохранить IP и EDID", "Сбросить все",
     "Нажмите ОК"},
    {"Khôi phục cài đăt gốc", "Ngôn ngữ", "Khôi phục cài đặt gốc", "Giữ nguyên IP", "IP và EDID vẫn giữ nguyên",
     "Khôi phục cài đặt gốc tất cả", "Đồng ý"},
    {"工廠設置", "語言", "工廠複位", "保持IP不變", "IP和EDID保持不變", "全部恢複出廠設置", "點擊OK應用"},
};

// The box entries are the same in every language: entry n is language code n.
const char* const kLanguages[5] = {"中文", "English", "Русский", "Tiếng việt", "繁體中文"};

constexpr uint8_t kEntries = 4; // box, reset 1, reset 2, reset 3

using PanelWidgets::pixels;

QLabel* textLabel(QWidget* parent, const char* name, int x, int y, int w, int h)
{
    return PanelWidgets::label(parent, QLatin1String(name), QRect(x, y, w, h), 12);
}

QLabel* whiteLine(QWidget* parent, const char* name, int y)
{
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(6, y, 298, 1);
    l->setStyleSheet(QStringLiteral("background-color: rgb(255, 255, 255);"));
    return l;
}

// Address, mask and gateway back to their defaults in the INI store, then applied to eth0.
void restoreAddressDefaults()
{
    // All three keys every time, in one write: a reset keyed on the address alone, or one stopped
    // half way, would keep a changed mask or gateway while the panel reads "Reset ALL".
    ConfigEngine* config = ConfigEngine::p_config;
    const bool written = config && config->write_config_variants({
        {ConfigItem::IPAddress, QString::fromLatin1(factory::kDefaultIp)},
        {ConfigItem::SubNetMask, QString::fromLatin1(factory::kDefaultMask)},
        {ConfigItem::GateWay, QString::fromLatin1(factory::kDefaultGateway)},
    });
    if (!written)
        writeLogMsg(LOG_ERROR, "factory reset: the default address settings could not be stored");
    Utils::system_plain(QStringLiteral("sync"));
    Delay::us(100);
    if (Utils::initIPAddress() != 0) {
        // Nothing applied (no eth0): the globals still follow what is stored, so the panel does
        // not go on showing an address the box will not have after its next start.
        Utils::getIPAddress();
        writeLogMsg(LOG_WARNING, "factory reset: default address stored, not applied (eth0 missing)");
    }
}

}

QString factory::fontLine(bool chinese, uint32_t presence, int language)
{
    const QString white = QStringLiteral("<font style = 'font-size:12px' color = #ffffff >%1</font>");
    const QString green = QStringLiteral("<font style = 'font-size:13px' color = #00ff00 >%1</font>");
    const QString red = QStringLiteral("<font style = 'font-size:13px' color = #ff0000 >%1</font>");
    QString head;
    if (language == 0)
        head = QString::fromUtf8(chinese ? "中文:" : "英文:");
    else
        head = QLatin1String(chinese ? "CN:" : "EN:");
    const char* suffix = language == 0 ? "宽" : language == 4 ? "寬" : "";
    const bool small = presence & (chinese ? 1u : 2u);
    const bool large = presence & (chinese ? 4u : 8u);
    auto item = [&](const char* size, bool present) {
        return (present ? green : red).arg(QLatin1String(size) + QString::fromUtf8(suffix));
    };
    return white.arg(head) + item("32", small) + white.arg(QStringLiteral("|")) + item("64", large) +
           white.arg(QStringLiteral("|")) + item("128", large);
}

factory::factory(QWidget* parent)
    : VyrPage(18, "factory", UiText::TitleFactory, parent),
      box_normal(QStringLiteral("QComboBox{\ncolor:rgb(255,255,255);\nborder:1px solid rgb(255,255,255);\n}\n"
                                "QComboBox:drop-down{\nborder-style:none\n}")),
      box_focused(QStringLiteral("QComboBox{\ncolor:rgb(255,255,255);\nborder:1px solid rgb(255,171,84);\n}\n"
                                 "QComboBox:drop-down{\nborder-style:none\n}")),
      box_editing(QStringLiteral("QComboBox{\ncolor:rgb(255,255,255);\nborder:1px solid rgb(255,0,0);\n}\n"
                                 "QComboBox:drop-down{\nborder-style:none\n}")),
      button_normal(QStringLiteral("color:rgb(255,255,255);\nborder:1px solid rgb(255, 255, 255);")),
      button_focused(QStringLiteral("color:rgb(255,255,255);\nborder:1px solid rgb(255,171,84);"))
{
    frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame"));
    frame->setGeometry(4, 36, 312, 200);
    frame->setStyleSheet(QStringLiteral("#frame{background-color: rgb(16, 16, 28);border:1px solid rgb(255, 255, 255);\n"
                                        "border-radius:6px;padding:2px 4px}"));

    label_lang = textLabel(frame, "label_lang", 10, 8, 150, 26);
    Box_lang_2 = new QComboBox(frame);
    Box_lang_2->setObjectName(QStringLiteral("Box_lang_2"));
    Box_lang_2->setGeometry(170, 8, 130, 26);
    Box_lang_2->setFont(pixels(Box_lang_2, 12));
    Box_lang_2->setEditable(false);
    Box_lang_2->setFocusPolicy(Qt::NoFocus);
    for (const char* name : kLanguages)
        Box_lang_2->addItem(QString::fromUtf8(name));
    Box_lang_2->setCurrentIndex(0);

    label = whiteLine(frame, "label", 41);
    label_rst = textLabel(frame, "label_rst", 10, 45, 290, 24);
    label_rst->setAlignment(Qt::AlignCenter);
    label_rst->setStyleSheet(QStringLiteral("color:rgb(255,255,255);\nbackground-color: rgb(16, 16, 28);"));

    auto row = [this](const char* caption, const char* button, int y, QLabel** l, QPushButton** b) {
        *l = textLabel(frame, caption, 10, y, 186, 30);
        (*l)->setWordWrap(true);
        *b = new QPushButton(frame);
        (*b)->setObjectName(QLatin1String(button));
        (*b)->setGeometry(200, y + 2, 100, 26);
        (*b)->setFont(pixels(*b, 12));
        (*b)->setFocusPolicy(Qt::NoFocus);
        (*b)->setAutoDefault(false);
        (*b)->setStyleSheet(button_normal);
    };
    row("label_ip", "Button_rst1", 72, &label_ip, &Button_rst1);
    row("label_edid", "Button_rst2", 104, &label_edid, &Button_rst2);
    row("label_all", "Button_rst3", 136, &label_all, &Button_rst3);

    label2 = whiteLine(frame, "label2", 170);
    FontCN = textLabel(frame, "FontCN", 8, 174, 148, 22);
    FontEN = textLabel(frame, "FontEN", 156, 174, 148, 22);
    FontEN->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    for (QLabel* l : {FontCN, FontEN})
        l->setTextFormat(Qt::RichText);

    para_init();
    menulist_init();
    language_changed();
}

void factory::menulist_init()
{
    focus_list = {Box_lang_2, Button_rst1, Button_rst2, Button_rst3};
    ui_select = 0;
    focus_widget = Box_lang_2;
    const uint8_t language = g_language.load();
    lang_index = language == 0 || (language >= 2 && language <= 4) ? language : 1;
    lang_edit = 0;
    Box_lang_2->setStyleSheet(box_focused);
    Box_lang_2->setCurrentIndex(lang_index);
}

void factory::language_changed()
{
    const Texts& t = kTexts[languageColumn(g_language.load())];
    label_title->setText(QString::fromUtf8(t.title));
    label_lang->setText(QString::fromUtf8(t.lang));
    label_rst->setText(QString::fromUtf8(t.rst));
    label_ip->setText(QString::fromUtf8(t.ip));
    label_edid->setText(QString::fromUtf8(t.edid));
    label_all->setText(QString::fromUtf8(t.all));
    for (QPushButton* b : {Button_rst1, Button_rst2, Button_rst3})
        b->setText(QString::fromUtf8(t.press));
    fontLinesUpdate();
}

void factory::fontLinesUpdate()
{
    c331_manage* scaler = c331_manage::p_c331_manage;
    const uint32_t presence = scaler ? scaler->font_presence.load(std::memory_order_relaxed) : 0;
    const int language = g_language.load();
    FontCN->setText(fontLine(true, presence, language));
    FontEN->setText(fontLine(false, presence, language));
}

void factory::syncUpdate(int)
{
    if (PageNav::languageChanged()) {
        const uint8_t language = g_language.load();
        if (language <= 4) {
            lang_index = language;
            Box_lang_2->setCurrentIndex(lang_index);
        }
        language_changed();
        return;
    }
    // A font written while the page is open (USB upgrade, code 104) shows at the next refresh.
    fontLinesUpdate();
}

void factory::on_Button_lang_clicked()
{
    if (!lang_edit)
        return;
    if (lang_index > 4) {
        writeLogMsg(LOG_WARNING, "factory page: language entry " + std::to_string(lang_index) + " refused");
        return;
    }
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store)
        return;
    {
        ScalerHandOver handOver; // the protocol writes the block under the same lock
        if (uint8_t(store->boxWord(blk::kLanguage)) == lang_index) // not a tool's pending byte
            return;
        g_language = lang_index;
        store->setU8(blk::kLanguage, lang_index);
        handOver.commit(1);
    }
    language_changed();
}

void factory::factoryReset(Reset kind)
{
    if (kind == ResetAll)
        restoreAddressDefaults(); // before the block: its shell commands must not run under the scaler mutex
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store)
        return;
    // Image byte 2 + i holds block byte 0x300 + i.
    auto restore = [store](uint32_t from, uint32_t to) {
        store->setBytes(from, default_para_ramlist + 2 + (from - kPersistStart), to - from);
    };
    ScalerHandOver handOver;
    uint8_t before[kBlockSize];
    store->appliedCopy(before);
    if (kind == KeepIpEdid) {
        restore(kPersistStart, blk::kEdidTiming);
        restore(blk::kEdidAreaEnd, kBlockSize);
    } else {
        restore(kPersistStart, kBlockSize);
    }
    if (c331_manage::takesNewScreen(store->view(), store->shadow, before)) {
        fpga_manage::requestLedParameterStep();
        store->setU16(blk::kAudioWindow, 0); // with the audio state byte
    }
    if (kind != KeepIpEdid) {
        if (keltosource* inputs = keltosource::p_kelto_source) {
            // As the scaler does for a changed EDID: a request with its written flag cleared, so
            // a write that has just finished does not count for this one.
            for (int p = 0; p < 6; ++p)
                inputs->requestCustomEdid(p);
        }
    }
    handOver.commit(1);
}

void factory::styleEntry(uint8_t entry, bool focused)
{
    if (entry == 0) {
        Box_lang_2->setStyleSheet(focused ? box_focused : box_normal);
        return;
    }
    QPushButton* const buttons[3] = {Button_rst1, Button_rst2, Button_rst3};
    if (entry < kEntries)
        buttons[entry - 1]->setStyleSheet(focused ? button_focused : button_normal);
}

void factory::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
    switch (event->key()) {
    case PanelKey::Left:
    case PanelKey::Right: {
        const bool right = event->key() == PanelKey::Right;
        qDebug(right ? "this is right-code [factory][Release] ui_select=%#x" : "this is left-code [factory][Release] ui_select=%#x",
               ui_select);
        if (lang_edit) {
            lang_index = right ? uint8_t(lang_index >= 4 ? 0 : lang_index + 1) : uint8_t(lang_index == 0 || lang_index > 4 ? 4 : lang_index - 1);
            Box_lang_2->setCurrentIndex(lang_index);
            break;
        }
        styleEntry(ui_select, false);
        ui_select = right ? uint8_t(ui_select + 1 >= kEntries ? 0 : ui_select + 1) : uint8_t(ui_select == 0 ? kEntries - 1 : ui_select - 1);
        focus_widget = focus_list[ui_select];
        styleEntry(ui_select, true);
        break;
    }
    case PanelKey::OK:
        qDebug("this is OK button(factory)[Release]\n");
        if (ui_select == 0) {
            if (!lang_edit) {
                lang_edit = 1;
                Box_lang_2->setStyleSheet(box_editing);
            } else {
                on_Button_lang_clicked();
                lang_edit = 0;
                Box_lang_2->setStyleSheet(box_focused);
            }
        } else if (ui_select == 1) {
            on_Button_reset1_clicked();
        } else if (ui_select == 2) {
            on_Button_reset2_clicked();
        } else if (ui_select == 3) {
            on_Button_reset3_clicked();
        }
        break;
    case PanelKey::Back:
        qDebug("this is back button(factory)[Release]\n");
        slot_Button_back_clicked();
        break;
    case PanelKey::Mode:
        qDebug("this is mode-code [factory][Release]");
        PageNav::modeShortcut();
        break;
    default:
        break;
    }
}
