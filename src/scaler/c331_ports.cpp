// Input ports: the port and device tables, the timing copy from the input manager, the check the
// receiver drivers ask for, the chip's own measurement of every used port, the output frame wait
// and the direct source change of a window.
#include "scaler/c331_manage.h"

#include "scaler/c331_drv.h"
#include "base/delay.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "base/utils.h"
#include "video_chips/keltosource.h"

#include <QMutexLocker>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace c331in;

namespace {

constexpr uint32_t kFreeze = 0x002901;
constexpr int kSourcePort[6] = {3, 2, 1, 0, 5, 4};  // source id -> chip port
constexpr int kPortDevice[6] = {3, 2, 1, 0, 5, 4};  // chip port -> input-manager device
constexpr int kRelockWrap = 29;

bool validPort(int p) { return p >= 0 && p < kPorts; }

// The receiver's lanes in use, as its re-arm mask.
uint32_t laneMask(int lanes) { return lanes == 8 ? 0xFF : lanes == 4 ? 0xF0 : lanes == 2 ? 0xC0 : 0x80; }

// A glitch frame period gives rates far beyond any picture: held to an int before the conversion.
int roundedRate(double rate)
{
    if (!(rate > 0))
        return 0;
    return rate + 0.5 >= double(INT32_MAX) ? INT32_MAX : int(rate + 0.5);
}

// The five measurement registers of a port: line length, line count, second count, frame period
// (24-bit) and active width.
void measurementRegisters(int p, uint32_t regs[5])
{
    if (p < kCmosPorts) {
        const uint32_t o = 0x200u * uint32_t(p);
        regs[0] = 0xAE0802 + o, regs[1] = 0xAE2002 + o, regs[2] = 0xAE3802 + o;
        regs[3] = 0xAE5003 + 0x300u * uint32_t(p), regs[4] = 0xAF0802 + o;
    } else {
        const uint32_t v = uint32_t(p - 4), o = 0x800u * v;
        regs[0] = 0xAE1002 + o, regs[1] = 0xAE2802 + o, regs[2] = 0xAE4002 + o;
        regs[3] = 0xAE5C03 + 0xC00u * v, regs[4] = 0xAF1002 + o;
    }
}

bool within(int a, int b, int tolerance) { return std::abs(a - b) <= tolerance; }

const char* const kWordNames[16] = {"Hact", "Hsync", "Hback", "Hpol",  "Htotal", "Vact", "Vsync",    "Vback",
                                    "Vpol", "Vtotal", "pfreq", "type", "datamode", "lane", "ip", "nosignal"};

}

InputPortState::InputPortState()
{
    for (int c = 0; c < kIpChannels; ++c) {
        const int base = kIpStoreBase + c * kIpStoreStep;
        PS_MEM_IP_I[c][0] = base;
        PS_MEM_IP_I[c][1] = base + kIpStoreStep / 4;
        PS_MEM_IP_P[c][0] = base + kIpStoreStep / 2;
        PS_MEM_IP_P[c][1] = base + 3 * kIpStoreStep / 4;
        PS_MEM_IPYOFF[c] = kIpStoreStep / 8;
        PS_MWI_IP[c] = kDefaultUnits;
    }
    for (int p = 0; p < kPorts; ++p) {
        PI_PORT_INFO[p][PINFO_NOSIG] = 1;
        PI_ACT_FULL[p][0] = PI_ACT_FULL[p][2] = 16;
    }
}

int c331_manage::vyrApi_inputCvtC331(int source)
{
    return source >= 0 && source < 6 ? kSourcePort[source] : 255;
}

int c331_manage::vyrApi_GetPortDevId(int port)
{
    return validPort(port) ? kPortDevice[port] : 3;
}

bool c331_manage::vyrApi_IsWinValid(int win)
{
    return win >= 0 && win < kWindows;
}

bool c331_manage::vyrApi_IsPatternGen() const
{
    return pattern_flag != 0;
}

int c331_manage::vyrApi_GetWinDbdMultiPort(int win, int* list) const
{
    for (int i = 0; i < 6; ++i)
        list[i] = kNoPort;
    if (!vyrApi_IsWinValid(win))
        return 0;
    auto fill = [&](std::initializer_list<int> ports) {
        int i = 0;
        for (int p : ports)
            list[i++] = p;
        return 1;
    };
    switch (PM_WIN_DBD_MODE[win]) {
    case DBD_CMOS_IN12:
    case DBD_CMOS_IN12V: return fill({0, 1});
    case DBD_CMOS_IN34:
    case DBD_CMOS_IN34V: return fill({2, 3});
    case DBD_CMOS_IN123: return fill({0, 1, 2});
    case DBD_CMOS_IN1234:
    case DBD_CMOS_IN1234Q: return fill({0, 1, 2, 3});
    case DBD_VBO_IN12:
    case DBD_VBO_IN12V: return fill({5, 4});
    default: return 0;
    }
}

void c331_manage::load_hdmi()
{
    call_log.record("load_hdmi", {});
    keltosource* inputs = keltosource::p_kelto_source;
    if (!inputs)
        return;
    for (int p = 0; p < kPorts; ++p) {
        const int d = vyrApi_GetPortDevId(p);
        HDMI_INFO rec;
        {
            QMutexLocker lock(&Utils::_source_hdminfo_mutex);
            rec = inputs->hdminfo[d];
        }
        if (rec.stable == 0)
            continue;
        uint32_t now[17], held[17];
        memcpy(now, &rec, sizeof now);
        memcpy(held, &PI_HDMI_INFO[p], sizeof held);
        bool changed = false;
        for (int i = 0; i < 16; ++i) {
            if (now[i] == held[i])
                continue;
            held[i] = now[i];
            changed = true;
            if (traceOn())
                printf("\n [load_hdmi]%s=%d,%d,chaned! \n", kWordNames[i], int(now[i]), p);
        }
        if (!changed)
            continue;
        memcpy(&PI_HDMI_INFO[p], held, sizeof held);
        printf("[load_hdmi] chg_input, port:%d, dev_id:%d\n", p, d);
        if (traceOn()) {
            const HDMI_INFO& h = PI_HDMI_INFO[p];
            printf("[load_hdmi] H: act %d sync %d back %d pol %d total %d\n", h.hact, h.hsync, h.hback, h.hpol, h.htt);
            printf("[load_hdmi] V: act %d sync %d back %d pol %d total %d\n", h.vact, h.vsync, h.vback, h.vpol, h.vtt);
            printf("[load_hdmi] pfreq %.3f type %d datamode %d lane %d ip %d nosignal %d\n", double(h.pfreq), h.type,
                   h.datamode, h.lane, h.ip, h.nosignal);
        }
        for (int w = 0; w < kWindows; ++w) {
            int ports[6];
            if (vyrApi_GetWinDbdMultiPort(w, ports) == 0) {
                if (PM_INPUT[w] == p) {
                    g_chg_input[w] = 1;
                    printf("\n[load_hdmi] g_chg_input[%d] = 1\n", w);
                }
                continue;
            }
            for (int q : ports) {
                if (q != p)
                    continue;
                g_chg_input[w] = 1;
                printf("\n[load_hdmi] g_chg_input[%d] = 1 for dbd:%d\n", w, PM_WIN_DBD_MODE[w]);
                set_ichsel(c331_fd, w);
                break;
            }
        }
    }
}

// Restart of a V-by-One receiver with the given lane mask.
void c331_manage::rearmVbo(int fd, int v, uint32_t laneMask)
{
    drv->write_C331(fd, 0x027F01, v == 0 ? 0x0E : 0x0D, 0);
    drv->write_C331(fd, 0x027F01, 0x0F, 0);
    drv->write_C331(fd, 0x024001 + 0x1C00u * uint32_t(v), 5, 0);
    drv->write_C331(fd, 0x024F01 + 0x1C00u * uint32_t(v), laneMask, 0);
}

uint32_t c331_manage::usedPorts(bool shownOnly) const
{
    uint32_t used = 0;
    for (int w = 0; w < kWindows; ++w) {
        if (shownOnly && !winInUse(w))
            continue;
        int ports[6];
        if (vyrApi_GetWinDbdMultiPort(w, ports) == 1) {
            for (int q : ports)
                if (validPort(q))
                    used |= 1u << q;
        } else if (validPort(PM_INPUT[w])) {
            used |= 1u << PM_INPUT[w];
        }
    }
    return used;
}

void c331_manage::check_port_valid(int fd)
{
    call_log.record("check_port_valid", {});
    // Every window's ports, shown or not: a receiver waits for this confirmation before it
    // refreshes its timing record.
    const uint32_t used = usedPorts(false);
    for (int p = 0; p < kPorts; ++p) {
        if (!(used & (1u << p)))
            continue;
        {
            QMutexLocker lock(&Utils::_check_nosig_mutex);
            if (!(port_check[p] & 0x80))
                continue;
        }
        uint32_t regs[5], v[5];
        measurementRegisters(p, regs);
        drv->write_C331(fd, kFreeze, 0x80, 0);
        for (int i = 0; i < 5; ++i)
            v[i] = drv->read_C331(fd, regs[i], 0);
        drv->write_C331(fd, kFreeze, 0, 0);
        const bool good = v[0] >= 1 && v[0] <= 0xFFFD && v[2] >= 1 && v[2] <= 0xFFFD && v[3] >= 1 && v[3] <= 0xFFFFFD;
        {
            QMutexLocker lock(&Utils::_check_nosig_mutex);
            port_check[p] = (port_check[p] & 0xFE) | (good ? 0 : 1);
        }
        if (!good && p >= kCmosPorts) {
            rearmVbo(fd, p - 4, 0x80);
            set_VBORXfrange(fd, p - 4, 1);
        }
    }
}

void c331_manage::check_input_port(int fd)
{
    call_log.record("check_input_port", {});
    keltosource* inputs = keltosource::p_kelto_source;
    const uint32_t used = usedPorts(true);
    for (int p = 0; p < kPorts; ++p) {
        if (!(used & (1u << p)) || !inputs)
            continue;
        HDMI_INFO rec;
        {
            QMutexLocker lock(&Utils::_source_hdminfo_mutex);
            rec = inputs->hdminfo[vyrApi_GetPortDevId(p)];
        }
        if (rec.stable == 0)
            continue;
        measurePort(fd, p, rec.nosignal == 1);
    }
}

void c331_manage::measurePort(int fd, int p, bool receiverSaysNoSignal)
{
    const int* info = PI_PORT_INFO[p]; // read here; written through setPortInfo
    const bool vbo = p >= kCmosPorts;
    const int v = p - kCmosPorts;
    PI_UPDATE[p] = 0;
    const int old[5] = {info[PINFO_HTT], info[PINFO_VTT], info[PINFO_W2], info[PINFO_PERIOD], info[PINFO_HW]};
    const bool hadNoSignal = info[PINFO_NOSIG] != 0;

    uint32_t regs[5], r[5];
    measurementRegisters(p, regs);
    drv->write_C331(fd, kFreeze, 0x80, 0);
    for (int i = 0; i < 5; ++i)
        r[i] = drv->read_C331(fd, regs[i], 0);
    drv->write_C331(fd, kFreeze, 0, 0);
    const uint32_t htt = r[0] + 1, vtt = r[1], w2 = r[2] + 1, period = r[3] + 1, hw = r[4];
    bool noSignal = htt - 2 > 0xFFFCu || period - 2 > 0xFFFFFCu || receiverSaysNoSignal;
    if (!noSignal)
        noSignal = w2 - 2 > 0xFFFCu;
    setPortInfo(p, PINFO_HTT, int(htt));
    setPortInfo(p, PINFO_VTT, int(vtt));
    setPortInfo(p, PINFO_W2, int(w2));
    setPortInfo(p, PINFO_PERIOD, int(period));
    setPortInfo(p, PINFO_HW, int(hw));
    setPortInfo(p, PINFO_NOSIG, noSignal);

    if (noSignal && hadNoSignal) {
        if (vbo) {
            rearmVbo(fd, v, 0x80);
            set_VBORXfrange(fd, v, 1);
            vbo_relock[v] = uint8_t(vbo_relock[v] == 0 ? 1 : vbo_relock[v] >= kRelockWrap ? 0 : vbo_relock[v] + 1);
        }
        return;
    }
    if (noSignal) {
        set_input_bkg(fd, p, 1);
        PI_UPDATE[p] = PI_STATE[p] != STATE_NOSIGNAL ? 1 : 0;
        PI_IFH[p] = PI_IFV[p] = 0;
        PI_FV[p] = PI_FH[p] = PI_FPICLK[p] = 0;
        PI_HTOTAL[p] = PI_VTOTAL[p] = 0;
        PI_STATE[p] = PI_SCAN_MODE[p] = 0;
        setPortInfo(p, PINFO_STATE, 0);
        const int none[4] = {16, 0, 16, 0};
        memcpy(PI_ACT[p], none, sizeof none);
        memcpy(PI_ACT_FULL[p], none, sizeof none);
        if (!vbo) {
            set_pict(fd, 0, p);
        } else {
            rearmVbo(fd, v, 0x80);
            set_VBORXfrange(fd, v, 1);
        }
        return;
    }

    bool take = hadNoSignal || port_refresh[p] != 0 || !within(int(htt), old[0], 2) || !within(int(vtt), old[1], 2) ||
                !within(int(w2), old[2], 100) || !within(int(period), old[3], 100) || int(hw) != old[4];
    if (!take) {
        // Unchanged: taken over only for a window that asks for it.
        for (int w = 0; w < kWindows; ++w) {
            int ports[6];
            const bool multi = vyrApi_GetWinDbdMultiPort(w, ports) == 1;
            bool shows = !multi && PM_INPUT[w] == p;
            for (int i = 0; multi && i < 6; ++i)
                shows |= ports[i] == p;
            if (!shows)
                continue;
            if (traceOn())
                printf("\t port_info_chg:%d, g_chg_input[win_%d]:%d\n", 0, w, g_chg_input[w]);
            take = g_chg_input[w] != 0;
            break;
        }
    }
    if (take)
        takeTiming(fd, p);
    if (vbo)
        checkVboLock(fd, v);
    if (take) {
        if (traceOn()) {
            printf("PortInfo Updated.  port=%d  STATE=%d  IP=%d  HTOTAL=%4d  VTOTAL=%4d\n", p, PI_STATE[p],
                   PI_SCAN_MODE[p], PI_HTOTAL[p], PI_VTOTAL[p]);
            printf("                   ACTHW=%4d  ACTVW=%4d  FV=%8.4f  FPICLK=%.4f\n", PI_ACT[p][1], PI_ACT[p][3],
                   PI_FV[p], PI_FPICLK[p]);
        }
        vyrApi_updateCrop(p);
    }
}

void c331_manage::takeTiming(int fd, int p)
{
    const int* info = PI_PORT_INFO[p];
    const HDMI_INFO& h = PI_HDMI_INFO[p];
    // The period is at least 2 here: a smaller count was classed as no signal.
    PI_FV[p] = double(kReferenceClockHz) / double(info[PINFO_PERIOD]);
    const double clock = double(h.htt) * PI_FV[p] * double(h.vtt);
    int state, scan = 0;
    if (p < kCmosPorts) {
        set_pict(fd, h.datamode, p);
        set_sypol(fd, 0, p);
        state = h.datamode == 0 ? STATE_PROGRESSIVE : STATE_CMOS_DOUBLE;
        if (h.ip) {
            if (h.vtt >= 560 && h.vtt <= 565)
                state = PI_FV[p] >= 55.0 ? STATE_I1125_HIGH : STATE_I1125_LOW, scan = 1;
            else if (h.vtt >= 266 && h.vtt <= 350)
                state = STATE_I625, scan = 1;
            else if (h.vtt >= 260 && h.vtt <= 265)
                state = STATE_I525, scan = 1;
        }
    } else {
        const int v = p - kCmosPorts;
        const int lanes = h.lane;
        rearmVbo(fd, v, laneMask(lanes));
        // A record without a lane count is taken as one lane rather than dividing by zero.
        set_VBORXfrange(fd, v, 0, float(clock / double(lanes > 0 ? lanes : 1)));
        set_VBOInput(fd, v);
        state = h.hact <= 2176 && clock <= 324000000.0 && lanes < 4 ? STATE_PROGRESSIVE : STATE_VBO_WIDE;
    }
    PI_STATE[p] = state;
    PI_SCAN_MODE[p] = scan;
    setPortInfo(p, PINFO_STATE, state);
    setPortInfo(p, PINFO_LANES, h.lane);
    setPortInfo(p, PINFO_INTERLACED, scan);
    PI_HTOTAL[p] = h.htt;
    PI_VTOTAL[p] = h.vtt;
    PI_FPICLK[p] = clock;
    PI_FH[p] = PI_FV[p] * double(h.vtt);
    PI_IFH[p] = roundedRate(PI_FH[p]);
    PI_IFV[p] = roundedRate(PI_FV[p]);
    const int full[4] = {h.hsync + h.hback, h.hact, h.vsync + h.vback, h.vact};
    memcpy(PI_ACT_FULL[p], full, sizeof full);
    memcpy(PI_ACT[p], full, sizeof full);
    if (state < STATE_PROGRESSIVE) {
        PI_ACT[p][0] /= 2;
        PI_ACT[p][1] /= 2;
    }
    PI_UPDATE[p] = 1;
}

void c331_manage::checkVboLock(int fd, int v)
{
    const uint32_t o16 = 0x800u * uint32_t(v), o24 = 0xC00u * uint32_t(v);
    uint32_t g16[4], g24[4];
    drv->write_C331(fd, kFreeze, 0x80, 0);
    for (uint32_t g = 0; g < 4; ++g) {
        g16[g] = drv->read_C331(fd, 0xAE4002 + o16 + (2 * g << 8), 0) + 1;
        g24[g] = drv->read_C331(fd, 0xAE5C03 + o24 + (3 * g << 8), 0) + 1;
    }
    drv->write_C331(fd, kFreeze, 0, 0);
    const int lanes = PI_HDMI_INFO[4 + v].lane;
    const int groups = lanes == 8 ? 4 : lanes == 4 ? 2 : 1;
    bool good = true;
    for (int g = 0; g < groups; ++g)
        good &= g24[g] - 2 <= 0xFFFFFCu && g16[g] - 2 <= 0xFFFCu;
    if (good) {
        vbo_relock[v] = 0;
        return;
    }
    vbo_relock[v] = uint8_t(vbo_relock[v] == 0 ? 1 : vbo_relock[v] >= kRelockWrap ? 0 : vbo_relock[v] + 1);
    rearmVbo(fd, v, laneMask(lanes));
}

bool c331_manage::wait1_povs(int fd, int o)
{
    if (o < 0 || o > 7)
        return false;
    drv->write_C331(fd, 0x050901, 1u << o, 0);
    drv->write_C331(fd, kFreeze, 0x80, 0);
    bool seen = false;
    // Bounded: without an output frame (chip stalled, no panel clock) the caller, often holding
    // the hand-over mutex, must not wait for minutes.
    for (int i = 0; i < kFrameWaitPolls && !seen; ++i) {
        seen = drv->read_C331(fd, 0x052301, 0) & (1u << o);
        if (!seen)
            Delay::ms(1);
    }
    drv->write_C331(fd, 0x050901, 0, 0);
    drv->write_C331(fd, kFreeze, 0, 0);
    if (!seen)
        writeLogMsg(LOG_WARNING, "no output frame on channel " + std::to_string(o));
    return seen;
}

void c331_manage::c331_SetInputsource(int win, int source)
{
    call_log.record("c331_SetInputsource", {win, source});
    if (win < 0 || win >= wincnt) {
        printf("    win:%d OOR, wincnt:%d\r\n", win, wincnt);
        return;
    }
    // Only the six inputs: a larger id is refused, not folded onto another input.
    const int port = vyrApi_inputCvtC331(source);
    if (port == 255) {
        printf("    input:%d OOR\r\n", source);
        writeLogMsg(LOG_WARNING, "window " + std::to_string(win) + ": source " + std::to_string(source) + " refused");
        return;
    }
    gWininfo[win].input = uint8_t(source);
    PM_INPUT[win] = port;
    g_chg_input[win] = 1;
    if (traceOn())
        printf("[c331_SetInputsource] win_%d, port_%d\n", win, port);
    ScalerCallLog::Nested quiet; // what follows is this setter's own work
    check_input_port(c331_fd);
    set_output(c331_fd);
    output_applied = 1;
}
