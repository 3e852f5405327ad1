#include "ui/pages_settings/linkwlan.h"

#include "base/delay.h"
#include "base/global.h"
#include "base/ipv4_settings.h"
#include "base/logMsg.h"
#include "base/utils.h"
#include "params/config_engine.h"
#include "params/vyrrampara.h"
#include "ui/numberkeyboard.h"
#include "ui/topwindow.h"
#include "ui/pagenav.h"
#include "ui/panelkeys.h"
#include "ui/panelwidgets.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QtDebug>

QPointer<linkwlan> g_linkwlan;

namespace {

enum Text { Title, IpSet, Netmask, Gateway, Apply, Cancel, BadAddress, BadMask, HostReserved, BadGateway,
            GatewayOutside, NotSaved, Applied, SavedNotApplied, WifiSubnet, ChangedElsewhere, TextCount };
const char* const kTexts[5][TextCount] = {
    {"网口设置", "IP地址", "子网掩码", "默认网关", "应用", "取消", "IP地址无效", "子网掩码无效",
     "IP不能是网络地址或广播地址", "网关无效", "网关不在子网内", "保存失败", "已应用", "已保存，下次启动生效",
     "与Wi-Fi热点网段冲突", "地址已被其他设备修改，未应用：请确认后重新应用"},
    {"Net connect", "IP", "Mask", "Gate", "Apply", "Cancle", "Invalid IP address", "Invalid subnet mask",
     "IP is the network or broadcast address", "Invalid gateway", "Gateway is outside the subnet",
     "Could not be saved", "Applied", "Saved, applied at next start", "Same subnet as the Wi-Fi access point",
     "Changed elsewhere meanwhile, not applied: check and apply again"},
    {"Сетевое подключение", "IP-адрес", "Маска", "Шлюз", "OK", "Отмена", "Неверный IP-адрес", "Неверная маска",
     "IP-адрес совпадает с адресом сети или широковещательным", "Неверный шлюз", "Шлюз вне подсети",
     "Не удалось сохранить", "Применено", "Сохранено, действует после перезапуска",
     "Подсеть совпадает с точкой доступа Wi-Fi",
     "Адрес изменён с другого устройства, не применено: проверьте и примените снова"},
    {"Cài đặt cổng mạng", "Địa chỉ IP", "Cài đặt mặt lạ con", "Cổng vào", "Đồng ý", "Hủy bỏ",
     "Địa chỉ IP không hợp lệ", "Mặt nạ mạng không hợp lệ", "IP là địa chỉ mạng hoặc địa chỉ quảng bá",
     "Cổng vào không hợp lệ", "Cổng vào nằm ngoài mạng con", "Không lưu được", "Đã áp dụng",
     "Đã lưu, áp dụng khi khởi động lại", "Trùng mạng con với điểm truy cập Wi-Fi",
     "Địa chỉ đã bị thay đổi từ nơi khác, chưa áp dụng: kiểm tra và áp dụng lại"},
    {"網口設置", "IP地址", "子網掩碼", "默認網關", "應用", "取消", "IP地址無效", "子網掩碼無效",
     "IP不能是網絡地址或廣播地址", "網關無效", "網關不在子網內", "保存失敗", "已應用", "已保存，下次啟動生效",
     "與Wi-Fi熱點網段衝突", "地址已被其他設備修改，未應用：請確認後重新應用"},
};
QString text(Text t) { return QString::fromUtf8(kTexts[languageColumn(g_language.load())][t]); }

// Refusal reason beside the address checks' verdicts: the subnet takes in the access point's /24.
constexpr int kWifiSubnet = 100;

const char* const kFieldNames[linkwlan::kFields] = {
    "lineEditIp1", "lineEditIp2", "lineEditIp3", "lineEditIp4", "lineEditMask1", "lineEditMask2",
    "lineEditMask3", "lineEditMask4", "lineEditGate1", "lineEditGate2", "lineEditGate3", "lineEditGate4"};

constexpr int kRowY[3] = {14, 48, 82};
constexpr int kFieldX[4] = {140, 177, 214, 251};
constexpr int kFontPixels = 11;

using PanelWidgets::pixels;

QLabel* caption(QWidget* parent, const char* name, int y)
{
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(8, y - 2, 128, 21);
    l->setFont(pixels(l, kFontPixels));
    l->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);border:none;"));
    return l;
}

}

linkwlan::linkwlan(QWidget* parent)
    : VyrPage(22, "linkwlan", UiText::TitleLinkwlan, parent),
      style_field_focus(QStringLiteral("color: rgb(255, 255, 255); background-color: rgb(33, 36, 53);border:1px solid rgb(255,171,84);")),
      style_button(QStringLiteral("color: rgb(255, 255, 255);border:1px solid rgb(255,255,255);")),
      style_button_focus(QStringLiteral("color: rgb(255, 255, 255);border:1px solid rgb(255,171,84);")),
      style_first(QStringLiteral("color: rgb(255, 255, 255);background-color: rgb(33, 36, 53);border-top:1px solid rgb(255, 255, 255);"
                                 "border-bottom:1px solid rgb(255, 255, 255);border-left:1px solid rgb(255, 255, 255);")),
      style_middle(QStringLiteral("color: rgb(255, 255, 255);background-color: rgb(33, 36, 53);border-top:1px solid rgb(255, 255, 255);"
                                  "border-bottom:1px solid rgb(255, 255, 255);")),
      style_last(QStringLiteral("color: rgb(255, 255, 255);background-color: rgb(33, 36, 53);border-top:1px solid rgb(255, 255, 255);"
                                "border-bottom:1px solid rgb(255, 255, 255);border-right:1px solid rgb(255, 255, 255);"))
{
    frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame"));
    frame->setGeometry(10, 42, 300, 150);
    frame->setStyleSheet(QStringLiteral("#frame{border:1px solid rgb(255, 255, 255);border-radius:6px;background-color: rgb(16, 16, 28);}"));
    label_IpSet = caption(frame, "label_IpSet", kRowY[0]);
    label_netmask = caption(frame, "label_netmask", kRowY[1]);
    label_gateway = caption(frame, "label_gateway", kRowY[2]);
    for (int i = 0; i < kFields; ++i) {
        auto* f = new My_lineEdit(frame);
        f->setObjectName(QLatin1String(kFieldNames[i]));
        f->setGeometry(kFieldX[i % 4], kRowY[i / 4], 32, 17);
        f->setFont(pixels(f, kFontPixels));
        f->setAlignment(Qt::AlignCenter);
        f->setFocusPolicy(Qt::NoFocus); // the page takes every key, also after a tap
        f->setReadOnly(true); // edited only through the keypad
        f->setTextMargins(0, 0, 0, 0);
        field[i] = f;
    }
    for (int i = 0; i < 9; ++i) {
        auto* d = new QLabel(frame);
        static const char* const kRows[3] = {"Ip", "Mask", "Gate"};
        d->setObjectName(QStringLiteral("label%1Dot%2").arg(QLatin1String(kRows[i / 3])).arg(i % 3 + 1));
        d->setGeometry(kFieldX[i % 3] + 32, kRowY[i / 3], 5, 17);
        d->setAlignment(Qt::AlignCenter);
        d->setFont(pixels(d, kFontPixels));
        d->setStyleSheet(style_middle);
        d->setText(QStringLiteral("."));
    }
    label_result = new QLabel(frame);
    label_result->setObjectName(QStringLiteral("label_result"));
    label_result->setGeometry(8, 108, 284, 36);
    label_result->setFont(pixels(label_result, kFontPixels));
    label_result->setWordWrap(true);
    label_result->setAlignment(Qt::AlignCenter);
    auto button = [this](const char* name, int x) {
        auto* b = new QPushButton(this);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(x, 200, 89, 25);
        b->setFont(pixels(b, kFontPixels + 1));
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoDefault(false);
        b->setStyleSheet(style_button);
        return b;
    };
    Button_apply = button("Button_apply", 60);
    Button_cancle = button("Button_cancle", 200);

    // What is in force now; a value with fewer than four parts leaves the missing fields empty.
    origin_.start(inForce());
    for (int row = 0; row < 3; ++row)
        fillRow(row, origin_.origin().at(row).toString());
    for (My_lineEdit* f : field)
        connect(f, &My_lineEdit::send_show, this, &linkwlan::show_numberkeyboard_ui);
    para_init();
    menulist_init();
    language_changed();
}

QVariantList linkwlan::inForce()
{
    return {g_str_ip.get(), g_srt_mask.get(), g_str_gateway.get()};
}

void linkwlan::fillRow(int row, const QString& value)
{
    const QStringList parts = value.split(QLatin1Char('.'));
    for (int k = 0; k < 4; ++k)
        field[row * 4 + k]->setText(k < parts.size() ? parts.at(k) : QString());
}

void linkwlan::menulist_init()
{
    focus_list.assign(field, field + kFields);
    focus_list.push_back(Button_apply);
    focus_list.push_back(Button_cancle);
    for (int i = 0; i < kFields; ++i)
        setLook(i, false);
    ui_select = 0;
    focus_widget = field[0];
    focused_field = field[0];
    focused_button = Button_apply;
    setLook(0, true);
}

void linkwlan::setLook(int index, bool focused)
{
    if (index >= kFields) {
        QPushButton* b = index == kApply ? Button_apply : Button_cancle;
        b->setStyleSheet(focused ? style_button_focus : style_button);
        if (focused)
            focused_button = b;
        return;
    }
    if (focused) {
        field[index]->setStyleSheet(style_field_focus);
        focused_field = field[index];
        return;
    }
    const int position = index % 4;
    field[index]->setStyleSheet(position == 0 ? style_first : position == 3 ? style_last : style_middle);
}

void linkwlan::language_changed()
{
    label_title->setText(text(Title));
    label_IpSet->setText(text(IpSet));
    label_netmask->setText(text(Netmask));
    label_gateway->setText(text(Gateway));
    Button_apply->setText(text(Apply));
    Button_cancle->setText(text(Cancel));
    showOutcome(outcome_, reason_);
}

void linkwlan::syncUpdate(int)
{
    // The fields are the operator's working copy: only the texts follow a language change.
    if (PageNav::languageChanged())
        language_changed();
}

QString linkwlan::rowText(int row) const
{
    QStringList parts;
    for (int k = 0; k < 4; ++k)
        parts << field[row * 4 + k]->text();
    return parts.join(QLatin1Char('.'));
}

void linkwlan::show_numberkeyboard_ui(QString)
{
    auto* f = qobject_cast<My_lineEdit*>(sender());
    if (!f || !g_numberkeyboard)
        return;
    int index = 0;
    while (index < kFields && field[index] != f)
        ++index;
    if (index == kFields)
        return;
    // The keypad titles are these English words in every language; the gateway row is an "IP" too.
    const QString title = index / 4 == 1 ? QStringLiteral("Mask") : QStringLiteral("IP");
    QPointer<linkwlan> self(this);
    // An octet is 0-255: the keypad refuses anything else and the field keeps its text.
    const bool changed = g_numberkeyboard->editField(f, title, 0, 255);
    if (!self)
        return;
    TopWindow::activate(this); // the keys come back to the page, unless a pop-up is over it
    if (changed)
        showOutcome(Outcome::None, 0);
}

void linkwlan::showOutcome(Outcome outcome, int reason)
{
    outcome_ = outcome;
    reason_ = reason;
    QString message;
    bool bad = true;
    switch (outcome) {
    case Outcome::Refused:
        switch (Ipv4::Verdict(reason)) {
        case Ipv4::Verdict::BadMask: message = text(BadMask); break;
        case Ipv4::Verdict::HostIsNetwork:
        case Ipv4::Verdict::HostIsBroadcast: message = text(HostReserved); break;
        case Ipv4::Verdict::BadGateway: message = text(BadGateway); break;
        case Ipv4::Verdict::GatewayOutside: message = text(GatewayOutside); break;
        default: message = text(reason == kWifiSubnet ? WifiSubnet : BadAddress); break;
        }
        break;
    case Outcome::NotSaved: message = text(NotSaved); break;
    case Outcome::Applied: message = text(Applied); bad = false; break;
    case Outcome::SavedNotApplied: message = text(SavedNotApplied); break;
    case Outcome::ChangedElsewhere: message = text(ChangedElsewhere); break;
    default: break;
    }
    label_result->setStyleSheet(bad ? QStringLiteral("color: rgb(255, 110, 110);border:none;")
                                    : QStringLiteral("color: rgb(120, 230, 120);border:none;"));
    label_result->setText(message);
}

void linkwlan::on_Button_net_apply_clicked()
{
    const QVariantList rows = {rowText(0), rowText(1), rowText(2)};
    const QVariantList now = inForce();
    if (origin_.changedElsewhere(now)) {
        // A PC tool set the address meanwhile: the rows the operator left show it now, and only
        // a set the operator has seen whole is applied.
        const QVariantList shown = origin_.rebase(rows, now);
        for (int row = 0; row < 3; ++row)
            if (shown.at(row) != rows.at(row))
                fillRow(row, shown.at(row).toString());
        const bool typed = origin_.changedByOperator(shown);
        writeLogMsg(LOG_INFO, typed ? "wired address: changed elsewhere while the page was open, not applied"
                                    : "wired address: changed elsewhere, the page shows it");
        showOutcome(typed ? Outcome::ChangedElsewhere : Outcome::Unchanged, 0);
        return;
    }
    if (!origin_.changedByOperator(rows)) {
        showOutcome(Outcome::Unchanged, 0);
        return;
    }
    const QString ip = rows.at(0).toString(), mask = rows.at(1).toString(), gateway = rows.at(2).toString();
    qDebug() << ip;
    qDebug() << mask;
    qDebug() << gateway;
    // A set the box cannot use would make it unreachable from its next start: nothing is stored.
    const Ipv4::Verdict verdict = Ipv4::check(ip, mask, gateway);
    if (verdict != Ipv4::Verdict::Ok) {
        writeLogMsg(LOG_WARNING, ("wired address refused: " + ip + " / " + mask + " / " + gateway + ": ").toStdString()
                                     + Ipv4::verdictName(verdict));
        showOutcome(Outcome::Refused, int(verdict));
        return;
    }
    // Replies to the phones on the access point would leave through eth0.
    if (Ipv4::wiredSetClashes(ip, mask)) {
        writeLogMsg(LOG_WARNING, ("wired address refused: " + ip + " / " + mask + ": the Wi-Fi access point's subnet").toStdString());
        showOutcome(Outcome::Refused, kWifiSubnet);
        return;
    }
    ConfigEngine* config = ConfigEngine::p_config;
    const bool stored = config && config->write_config_variants({{ConfigItem::IPAddress, ip},
                                                                 {ConfigItem::SubNetMask, mask},
                                                                 {ConfigItem::GateWay, gateway}});
    if (!stored) {
        writeLogMsg(LOG_ERROR, "wired address: the INI file could not be written");
        showOutcome(Outcome::NotSaved, 0);
        return;
    }
    Utils::system_plain(QStringLiteral("sync"));
    Delay::us(100);
    // Loads the globals from the INI store even when eth0 is missing, so a reopened page shows
    // what the next start applies.
    const bool applied = Utils::initIPAddress() == 0;
    origin_.start(inForce());
    if (VyrRamPara* store = VyrRamPara::p_vyrrampara_config)
        store->test_signal(1);
    showOutcome(applied ? Outcome::Applied : Outcome::SavedNotApplied, 0);
}

void linkwlan::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
    switch (event->key()) {
    case PanelKey::Left:
    case PanelKey::Right: {
        const bool right = event->key() == PanelKey::Right;
        qDebug(right ? "this is right-code [linkwlan][Release] ui_select=%#x" : "this is left-code [linkwlan][Release] ui_select=%#x",
               ui_select);
        setLook(ui_select, false);
        const int n = kCancel + 1;
        ui_select = uint8_t(right ? (ui_select + 1) % n : (ui_select + n - 1) % n);
        focus_widget = focus_list[ui_select];
        setLook(ui_select, true);
        break;
    }
    case PanelKey::OK:
        qDebug("this is OK button(linkwlan)[Release]\n");
        if (ui_select < kFields)
            Q_EMIT field[ui_select]->send_show(field[ui_select]->text());
        else if (ui_select == kApply)
            on_Button_net_apply_clicked();
        else
            slot_Button_back_clicked();
        break;
    case PanelKey::Back:
        qDebug("this is back button(linkwlan)[Release]\n");
        slot_Button_back_clicked();
        break;
    case PanelKey::Mode:
        qDebug("this is mode-code [linkwlan][Release]");
        PageNav::modeShortcut();
        break;
    default:
        break;
    }
}

void linkwlan::slot_Button_back_clicked()
{
    PageNav::back(this);
}
