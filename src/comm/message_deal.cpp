// Dispatch of a control frame to its command group.
#include "comm/message_deal.h"
#include "comm/cloud_commands.h"
#include "params/vyrrampara.h"

#include "base/global.h"
#include "ui/mainwindow.h"

#include <QCoreApplication>
#include <cstring>

namespace {
constexpr uint32_t kHeadLength = 10; // destination .. group; anything shorter is not a frame
constexpr uint32_t kSmallestReply = 13; // head, status, one data byte, check byte
}

uint32_t MessageFrame::status(uint8_t s, uint32_t r)
{
    body[10] = s;
    if (r > 1)
        memset(body + 11, 0, r - 1);
    return r;
}

uint8_t message_deal::blockWriteStatus(bool done, bool wrote)
{
    const VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    return done && (!wrote || (store && store->settingsSavable())) ? 0 : 1;
}

uint32_t message_deal::message_group_deal(uint8_t* body, uint32_t length, uint32_t capacity, uint64_t peer, SlowWork* slow)
{
    // A buffer that cannot hold the request and the smallest reply is a transport fault: no reply.
    if (!body || length < kHeadLength || capacity < kSmallestReply || length > capacity)
        return 0;
    MessageFrame f{body, length, capacity, peer, slow};
    switch (body[9]) {
    case 0x60:
        return write_ram(f);
    case 0x61:
        return read_ram(f);
    case 0x81:
        return param_save(f);
    case 0xA0:
        return write_register(f);
    case 0xA1:
        return read_register(f);
    case 0xB0:
        return vedio_write_single_para(f);
    case 0x70:
        return cmd_erase_flash(f);
    case 0x71:
        return cmd_write_flash(f);
    case 0x72:
        return cmd_read_flash(f);
    case 0x82:
        return get_card_version(f);
    case 0x83:
        return get_card_uid(f);
    case 0x87:
        return write_rtc_time(f);
    case 0xA2:
        return f.at(10) == 30 ? set_barcode(f) : f.at(10) == 31 ? read_barcode(f) : 0;
    case 0xA4:
        return f.at(10) == 1 ? net_ip_set(f) : f.at(10) == 3 ? net_eth_search(f) : f.at(10) == 16 ? get_device_info(f) : 0;
    case 0xC0:
        return write_file_group(f);
    case 0x84:
        return start_update(f);
    case 0xC3:
        return f.at(10) == 11 ? project_set_setproperty(f) : 0;
    case 0xC4:
        return message_deal_4g().message_deal_4G(f);
    default:
        return 0;
    }
}

void message_deal::requestUpgradeDialog(bool show)
{
    // The main window pointer belongs to the GUI thread, so it is looked at there; before the
    // window exists there is no dialog to show.
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(app, [show] {
        MainWindow* window = g_mainwindow.data();
        if (!window)
            return;
        if (show)
            window->update_start();
        else
            window->update_over();
    }, Qt::QueuedConnection);
}

void message_deal::upgradeFlagFromRegister(bool active)
{
    if (active) {
        if (g_update_flag.exchange(1) == 0)
            requestUpgradeDialog(true);
    } else if (g_update_flag.exchange(0) != 0) {
        requestUpgradeDialog(false);
    }
}
