// Console dumps of the chip model's parameters, of register groups and of every listed register.
#include "scaler/c331_manage.h"

#include "scaler/c331_debug_reglist.h"
#include "scaler/c331_drv.h"
#include "base/delay.h"
#include "base/utils.h"
#include "video_chips/keltosource.h"

#include <QMutexLocker>
#include <algorithm>
#include <cstdio>
#include <utility>

namespace {

const char* const kGroupNames[14] = {"c331_param", "c331_win", "c331_mem", "c331_mwi", "c331_mw1s", "c331_PI", "none",
                                     "none",       "none",     "none",     "none",     "none",     "none", "none"};

void line(const char* name, long long value) { printf("\t%s:%lld\n", name, value); }

void row(const char* name, const int* values, int count, bool hexLast = false)
{
    printf("\t%s:", name);
    for (int i = 0; i < count; ++i)
        printf(hexLast && i == count - 1 ? " %08X" : " %d", values[i]);
    printf("\n");
}

void section(const char* name) { printf("<<===%s\n", name); }

// The input manager's record of a device, copied under its lock.
HDMI_INFO deviceRecord(int device)
{
    HDMI_INFO info{};
    keltosource* inputs = keltosource::p_kelto_source;
    if (!inputs || device < 0 || device > 5)
        return info;
    QMutexLocker lock(&Utils::_source_hdminfo_mutex);
    return inputs->hdminfo[device];
}

void printTiming(const HDMI_INFO& t)
{
    printf("\tHact:%d Hsync:%d Hback:%d Hpol:%d Htotal:%d\n", t.hact, t.hsync, t.hback, t.hpol, t.htt);
    printf("\tVact:%d Vsync:%d Vback:%d Vpol:%d Vtotal:%d\n", t.vact, t.vsync, t.vback, t.vpol, t.vtt);
    printf("\tpfreq:%f type:%d lane:%d ip:%d datamode:%d nosignal:%d\n", double(t.pfreq), t.type, t.lane, t.ip,
           t.datamode, t.nosignal);
}

}

void c331_manage::vyrDbg_c331_param(int group)
{
    call_log.record("vyrDbg_c331_param", {group});
    const int n = ((group % 14) + 14) % 14;
    printf("[vyrDbg_c331_param] %s\n", kGroupNames[n]);
    const int fd = c331_fd;
    switch (n) {
    case 0: {
        printf("[vyrDbg_c331_param]\r\n");
        section("OCH SPEC");
        const std::pair<const char*, int> och[] = {
            {"PS_ACTHW", PS_ACTHW},     {"PS_HSW", PS_HSW},         {"PS_HBP", PS_HBP},         {"PS_HFP", PS_HFP},
            {"PS_HTOTAL", PS_HTOTAL},   {"PS_VTOTAL", PS_VTOTAL},   {"PS_ACTVW", PS_ACTVW},     {"PS_VSW", PS_VSW},
            {"PS_VBP", PS_VBP},         {"PS_OAOIHST", PS_OAOIHST}, {"PS_OAOIHED", PS_OAOIHED}, {"PS_ACTVST", PS_ACTVST},
            {"PS_OAOIVST", PS_OAOIVST}, {"PS_OAOIVED", PS_OAOIVED}, {"PS_ACTHST", PS_ACTHST}};
        for (const auto& v : och)
            line(v.first, v.second);
        section("PS VBO");
        line("PS_VBOTX_MODE", PS_VBOTX_MODE);
        line("PS_VBOTX_LAYOUT", PS_VBOTX_LAYOUT);
        section("PM_WIN_SHAPE");
        for (int w = 0; w < 6; ++w)
            row("PM_WIN_SHAPE", PM_WIN_SHAPE[w], 2);
        section("PM_WIN_FAD");
        for (int w = 0; w < 6; ++w) {
            const int fade[3] = {PM_WIN_FADE_EN[w], PM_WIN_FADE_IN[w], PM_WIN_FADE_OUT[w]};
            row("PM_WIN_FAD", fade, 3);
        }
        section("PM_INPUT");
        row("PM_INPUT", PM_INPUT, 6);
        section("PM_WIN_OFFSET");
        for (int w = 0; w < 6; ++w)
            row("PM_WIN_OFFSET", PM_WIN_OFFSET[w], 4);
        section("PM_INPUT_OFFSET_EN");
        for (int w = 0; w < 6; ++w) {
            const int crop[5] = {PM_INPUT_OFFSET_EN[w], PM_INPUT_OFFSET[w][0], PM_INPUT_OFFSET[w][1],
                                 PM_INPUT_OFFSET[w][2], PM_INPUT_OFFSET[w][3]};
            row("PM_INPUT_OFFSET_EN", crop, 5);
        }
        section("PM_WIN_NUM");
        row("PM_WIN_NUM", PM_WIN_NUM, 8);
        section("PM_AREA_NUM");
        row("PM_AREA_NUM", PM_AREA_NUM, 8);
        section("PM_OVERLAY");
        row("PM_OVERLAY", PM_OVERLAY, 8, true);
        section("PM OSD");
        line("PS_PANEL_HW", PS_PANEL_HW);
        line("PS_PANEL_VW", PS_PANEL_VW);
        line("PS_PANEL_HSHAPE", PS_PANEL_HSHAPE);
        line("PS_PANEL_VSHAPE", PS_PANEL_VSHAPE);
        section("OSD_WIN");
        const char* const win[4] = {"HST", "HW", "VST", "VW"};
        for (int k = 0; k < 4; ++k)
            line(win[k], OSD_WIN[k]);
        section("PM OSD");
        const std::pair<const char*, long long> osd[] = {
            {"PM_OSD_EN", PM_OSD_EN},
            {"PM_OSD_HZOOM_EN", PM_OSD_HZOOM_EN},
            {"PM_OSD_VZOOM_EN", PM_OSD_VZOOM_EN},
            {"PM_OSD_DATA_MODE", PM_OSD_DATA_MODE},
            {"PM_OSD_SCROLL_MODE", PM_OSD_SCROLL_MODE},
            {"PM_OSD_SCROLL_SPEED", PM_OSD_SCROLL_SPEED},
            {"PM_OSD_CHAR_64DOT", PM_OSD_CHAR_64DOT},
            {"PM_OSD_UPDATE_BUTTON", PM_OSD_UPDATE_BUTTON},
            {"PS_BG_HACT", PS_BG_HACT},
            {"PS_BG_VACT", PS_BG_VACT},
            {"PS_BG_COLOR", PS_BG_COLOR},
            {"PS_BG_TRANS", PS_BG_TRANS},
            {"PS_CHAR_HST", PS_CHAR_HST},
            {"PS_CHAR_VST", PS_CHAR_VST},
            {"PS_CHAR_COLOR", PS_CHAR_COLOR},
            {"OSD_CONTROL_FLAG", osd_control_flag},
            {"OSD_CHAR_SPACE", osd_char_space},
            {"OSD_LINE_SPACE", osd_line_space},
            {"g_osd_mwi", g_osd_mwi},
            {"g_osd_mwi_shift", g_osd_mwi_shift},
            {"g_font_addr_32ASCII", g_font_addr_32ASCII},
            {"g_font_addr_32CHN", g_font_addr_32CHN},
            {"g_font_addr_64ASCII", g_font_addr_64ASCII},
            {"g_font_addr_64CHN", g_font_addr_64CHN}};
        for (const auto& v : osd)
            line(v.first, v.second);
        row("PM_OSD_OUTPUT_OFFSET", PM_OSD_OUTPUT_OFFSET, 4);
        row("PM_OSD_INPUT_OFFSET", PM_OSD_INPUT_OFFSET, 4);
        row("PM_OSD_MODE", PM_OSD_MODE, 2);
        line("g_unicode_line", g_unicode_line);
        for (int n = 0; n < std::clamp(g_unicode_line, 0, kOsdLines); ++n) {
            printf("	line_%d:", n);
            for (int i = 0; i < kOsdLineChars && (osd_text[n][2 * i] | osd_text[n][2 * i + 1]); ++i)
                printf("[%#x,%#x] ", osd_text[n][2 * i], osd_text[n][2 * i + 1]);
            printf("\n");
        }
        section("PI HDMI INFO");
        for (int p = 0; p < 6; ++p) {
            printf("\tport:%d\n", p);
            printTiming(PI_HDMI_INFO[p]);
        }
        break;
    }
    case 1:
        for (int p = 0; p < 6; ++p) {
            printf("\tport_%d PI_UPDATE:%d PI_STATE:%d PI_HTOTAL:%d PI_VTOTAL:%d\n", p, PI_UPDATE[p], PI_STATE[p],
                   PI_HTOTAL[p], PI_VTOTAL[p]);
            row("PI_ACT", PI_ACT[p], 4);
            const int info[5] = {PI_PORT_INFO[p][c331in::PINFO_HTT], PI_PORT_INFO[p][c331in::PINFO_VTT],
                                 PI_PORT_INFO[p][c331in::PINFO_HW], PI_PORT_INFO[p][c331in::PINFO_STATE],
                                 PI_PORT_INFO[p][c331in::PINFO_NOSIG]};
            row("PI_PORT_INFO", info, 5);
        }
        break;
    case 2:
        for (int w = 0; w < 6; ++w) {
            // The active input area and scan mode are those of the window's port.
            const int port = PM_INPUT[w];
            const bool valid = port >= 0 && port < c331in::kPorts;
            const int act[4] = {valid ? PI_ACT[port][0] : 0, valid ? PI_ACT[port][1] : 0, valid ? PI_ACT[port][2] : 0,
                                valid ? PI_ACT[port][3] : 0};
            printf("\twin_%d IWIN(%d,%d,%d,%d) OWIN(%d,%d,%d,%d) PI_ACT(%d,%d,%d,%d) PM_IACTHST:%d PM_IACTVST:%d "
                   "PM_MEM_WMODE:%d PS_MEM_WMODE:%d PI_SCAN_MODE:%d\n",
                   w, IWIN[w].hst, IWIN[w].hw, IWIN[w].vst, IWIN[w].vw, OWIN[w].hst, OWIN[w].hw, OWIN[w].vst,
                   OWIN[w].vw, act[0], act[1], act[2], act[3], winState.iactHst[w], winState.iactVst[w],
                   PM_MEM_WMODE[w], PS_MEM_WMODE[w], valid ? PI_SCAN_MODE[port] : 0);
        }
        for (int p = 0; p < 6; ++p) {
            printf("\tport_%d PI_SCAN_MODE:%d PI_FPICLK:%f PI_FH:%f PI_FV:%f PI_IFH:%d PI_IFV:%d PI_SYNC_POL:%d\n", p,
                   PI_SCAN_MODE[p], PI_FPICLK[p], PI_FH[p], PI_FV[p], PI_IFH[p], PI_IFV[p], PI_SYNC_POL[p]);
        }
        for (int c = 0; c < 8; ++c)
            row("PS_MEM_SC", PS_MEM_SC[c], 5);
        for (int c = 0; c < c331in::kIpChannels; ++c) {
            const int ip[6] = {PS_MEM_IP_I[c][0], PS_MEM_IP_I[c][1], PS_MEM_IP_P[c][0], PS_MEM_IP_P[c][1],
                               PS_MEM_IPYOFF[c], PS_MWI_IP[c]};
            row("PS_MEM_IP", ip, 6);
        }
        for (int c = 0; c < c331in::kIpChannels; ++c) {
            const uint32_t* di = ICH_DI_ADDR[c];
            const uint32_t* mv = ICH_MV_ADDR[c];
            printf("\tICH%d DI:%08X %08X %08X %08X MV:%08X %08X %08X %08X NR_EN:%d IP_EN:%d\n", c, di[0], di[1], di[2],
                   di[3], mv[0], mv[1], mv[2], mv[3], ICH_NR_EN[c], ICH_DI_EN[c]);
        }
        for (int v = 0; v < 2; ++v)
            printf("\tVBO%d LANE_MODE:%X LANE_BITS:%02X\n", v, PI_VBO_LANE_MODE[v], PI_VBO_LANE_BITS[v]);
        row("PM_OVERLAY", PM_OVERLAY, 8);
        row("PM_OVERLAY_PRI", PM_OVERLAY_PRI, 6);
        break;
    case 5:
        printf("\tPI_UPDATE:");
        for (int p = 0; p < 6; ++p)
            printf(" %d", PI_UPDATE[p]);
        printf("\n");
        for (int p = 0; p < 6; ++p) {
            printf("\tport_%d PI_STATE:%d lane:%d\n", p, PI_STATE[p], PI_PORT_INFO[p][c331in::PINFO_LANES]);
            const HDMI_INFO t = deviceRecord(vyrApi_GetPortDevId(p));
            printf("\t%s\n", t.nosignal ? "Nosignal" : "Normal");
            printTiming(t);
            row("PI_ACT", PI_ACT[p], 4);
        }
        break;
    case 6: // white on every output until the outputs are programmed again
        for (uint32_t o = 0; o < 8; ++o) {
            drv->write_C331(fd, 0x084903, 0xFFFFFF, 16 * o);
            drv->write_C331(fd, 0x084801, 1, 16 * o);
        }
        break;
    case 7:
        for (uint32_t o = 0; o < 8; ++o)
            drv->write_C331(fd, 0x0A4601, 0xC3, 16 * o);
        break;
    case 8:
        for (uint32_t c = 0; c < 8; ++c) {
            drv->write_C331(fd, 0x504A01, 1, 16 * c);
            drv->write_C331(fd, 0x504B03, 0x80FF80, 16 * c);
        }
        printf("\n .........input change........... ");
        break;
    case 9:
        for (uint32_t bank : {0x0Au, 0x1Au})
            for (uint32_t address : {0x46u, 0x4Bu})
                drv->write_C331(fd, bank << 16 | address << 8 | 1, 3, 0);
        printf("\n .........B10_HZOOMCTCH1/B10_VZOOMCTCH1 change........... ");
        break;
    case 10:
        for (int port : {5, 4}) {
            const int device = vyrApi_GetPortDevId(port);
            printf("[iTE6805_Get_Hdmi] dev_id:%d, idx:%d\n", device, port);
            const HDMI_INFO t = deviceRecord(device);
            printTiming(t);
            printf("\t%s %s %s\n", t.type ? "IT6807" : "IT6602", t.ip ? "Interlaced" : "Progressive",
                   t.nosignal ? "No signal" : "Normal");
        }
        break;
    default: // 3, 4, 11-13: the name line only
        break;
    }
    fflush(stdout);
}

void c331_manage::vyrDbg_c331_print_regGrp(int group)
{
    call_log.record("vyrDbg_c331_print_regGrp", {group});
    printf("[%s] grp:%d\n", "vyrDbg_c331_print_regGrp", group);
    if (group != 0) {
        printf("\t not found valid grp!!!!!!!\n");
        fflush(stdout);
        return;
    }
    const int fd = c331_fd;
    for (int w = 0; w < 6; ++w) {
        printf("\twin_%d:", w);
        for (int k = 0; k < 8 && g_win_ich[w][k] >= 0; ++k)
            printf(" ICH%d", g_win_ich[w][k]);
        for (int m = 0; m < std::min(8, gWininfo[w].ochHCnt * gWininfo[w].ochVCnt); ++m)
            if (gWininfo[w].ochPosLst[m] < 8)
                printf(" OCH%d", gWininfo[w].ochPosLst[m]);
        printf("\n");
    }
    auto rd = [&](uint32_t d, uint32_t n) { return drv->read_C331(fd, d, 16 * n); };
    printf("\tCH OSFLD0-4 / ISFLD0-4\n");
    for (uint32_t n = 0; n < 8; ++n) {
        printf("\t%u", n);
        for (uint32_t a = 0x08; a <= 0x2C; a += 4)
            printf(" %08X", rd(0x160004 | a << 8, n));
        printf("\n");
    }
    printf("\tCH OSYCT ISYCT OMWI IMWI\n");
    for (uint32_t n = 0; n < 8; ++n)
        printf("\t%u %02X %02X %02X %02X\n", n, rd(0x080801, n), rd(0x100901, n), rd(0x163001, n), rd(0x163101, n));
    printf("\tCH OACT(HST HW VST VW) IACT(HST HW VST VW)\n");
    for (uint32_t n = 0; n < 8; ++n) {
        printf("\t%u", n);
        for (uint32_t a = 0x40; a <= 0x46; a += 2)
            printf(" %4u", rd(0x080002 | a << 8, n));
        for (uint32_t a = 0x16; a <= 0x1C; a += 2)
            printf(" %4u", rd(0x100002 | a << 8, n));
        printf("\n");
    }
    printf("\tCH ICHSEL ISCWCT OSCWCT\n");
    for (uint32_t n = 0; n < 8; ++n)
        printf("\t%u %02X %02X %02X\n", n, drv->read_C331(fd, (0x10 + n) << 8 | 1, 0),
               drv->read_C331(fd, (0x71 + n) << 8 | 1, 0), drv->read_C331(fd, (0x69 + n) << 8 | 1, 0));
    fflush(stdout);
}

void c331_manage::c331_print()
{
    // Runs in the protocol thread: every access is whole under the register layer's lock, so the
    // worker's programming goes on between two reads.
    for (uint32_t d : c331RegisterList()) {
        printf("%06X  %08Xh\n", d, drv ? drv->read_C331(c331_fd, d, 0) : 0);
        Delay::us(1);
    }
    fflush(stdout);
}
