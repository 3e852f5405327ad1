// Interlace conversion and noise reduction of capture channels 0-3: the de-interlacer set-up and
// the stage setters. Each stage takes a level 1-3 (motion filter 1-4) of its port; any other level
// switches the stage off.
#include "scaler/c331_manage.h"

#include "scaler/c331_drv.h"

#include <algorithm>
#include <cstdint>

using namespace c331in;

namespace {

constexpr uint32_t kFreeze = 0x002901;

bool stageChannel(int c) { return c >= 0 && c < kIpChannels; }
bool validPort(int p) { return p >= 0 && p < kPorts; }

// Consecutive one-byte registers from `first` (a one-byte descriptor).
template <size_t N>
void writeRun(c331_drv* drv, int fd, uint32_t first, const uint8_t (&values)[N], uint32_t offset)
{
    for (size_t i = 0; i < N; ++i)
        drv->write_C331(fd, first + (uint32_t(i) << 8), values[i], offset);
}

// Block noise reduction by format. Rows by level 1-3: the filter strength, ten shape values.
struct BlockFormat {
    int height;              // active lines of the port that select it
    bool interlaced;         // interlaced members leave out the second block group
    uint16_t strength[3];    // 0x1539
    uint8_t shape[3][10];    // 0x153B-0x1544
};
const BlockFormat kBlockFormats[] = {
    {240, true, {4427, 4427, 1611},
     {{144, 64, 80, 96, 128, 32, 132, 65, 6, 16}, {160, 64, 80, 96, 128, 16, 66, 51, 4, 16},
      {176, 64, 80, 96, 128, 16, 66, 51, 4, 6}}},
    {480, false, {4427, 4427, 1611},
     {{144, 64, 80, 96, 128, 32, 132, 65, 6, 16}, {160, 64, 80, 96, 128, 16, 66, 51, 4, 16},
      {176, 64, 80, 96, 128, 16, 66, 51, 4, 6}}},
    {540, true, {8855, 8855, 3223},
     {{144, 64, 80, 96, 128, 32, 132, 65, 6, 16}, {160, 64, 80, 96, 128, 16, 66, 51, 4, 16},
      {176, 64, 80, 96, 128, 16, 66, 51, 4, 6}}},
    {720, false, {6641, 6641, 2417},
     {{144, 64, 80, 96, 128, 32, 132, 65, 6, 16}, {160, 64, 80, 96, 128, 16, 66, 51, 4, 16},
      {176, 64, 80, 96, 128, 16, 66, 51, 4, 6}}},
    {1080, false, {8855, 8855, 3223},
     {{144, 64, 80, 96, 128, 32, 132, 65, 6, 16}, {160, 64, 80, 96, 128, 16, 66, 51, 4, 16},
      {176, 64, 80, 96, 128, 16, 66, 51, 4, 6}}},
};

// Levels 1-3 of the mosquito filter: 0x1509-0x150E, 0x151C-0x1521, 0x1526-0x152E.
const uint8_t kMosqA[3][6] = {{1, 128, 56, 8, 16, 4}, {1, 160, 48, 12, 24, 6}, {1, 192, 40, 16, 32, 8}};
const uint8_t kMosqB[3][6] = {{16, 32, 48, 64, 8, 4}, {24, 40, 56, 72, 12, 6}, {32, 48, 64, 80, 16, 8}};
const uint8_t kMosqC[3][9] = {{4, 8, 12, 16, 20, 24, 28, 32, 2},
                              {6, 10, 14, 18, 22, 26, 30, 34, 3},
                              {8, 12, 16, 20, 24, 28, 32, 36, 4}};
// Levels 1-3 of the temporal filter: 0x1208-0x120E, 0x1210-0x1214.
const uint8_t kTpxA[3][7] = {{3, 49, 117, 185, 16, 8, 4}, {3, 65, 133, 201, 24, 12, 6}, {3, 81, 149, 217, 32, 16, 8}};
const uint8_t kTpxB[3][5] = {{8, 16, 32, 64, 1}, {12, 24, 40, 80, 1}, {16, 32, 48, 96, 1}};
// Diagonal filter levels 1-3: 0x1450-0x145F.
const uint8_t kDiag[3][16] = {{9, 255, 119, 0, 4, 16, 3, 8, 10, 20, 4, 4, 2, 2, 16, 50},
                              {11, 127, 119, 3, 4, 16, 1, 4, 10, 20, 4, 4, 2, 2, 16, 50},
                              {11, 127, 119, 19, 9, 16, 3, 8, 10, 20, 4, 4, 2, 2, 16, 49}};
const uint8_t kComb[3][3] = {{1, 16, 128}, {1, 20, 128}, {1, 112, 160}};
// Motion filter levels 1-4: groups G1, G2, G3.
const uint8_t kMvflt[4][3] = {{4, 8, 8}, {8, 8, 16}, {8, 16, 24}, {16, 24, 31}};
// Interlace classes 5-8: 0x142C-0x1434 (the first two are the cadence enables), 0x1438-0x143A,
// 0x1442-0x144A.
const uint8_t kIpA[4][9] = {{0, 0, 26, 16, 17, 142, 6, 128, 192},
                            {0, 0, 26, 16, 17, 142, 6, 128, 160},
                            {0, 0, 22, 14, 15, 120, 5, 112, 176},
                            {0, 0, 24, 15, 16, 130, 6, 120, 184}};
const uint8_t kIpB[4][3] = {{8, 16, 4}, {8, 16, 4}, {6, 12, 3}, {7, 14, 4}};
const uint8_t kIpC[4][9] = {{16, 32, 8, 4, 64, 2, 1, 128, 48},
                            {16, 32, 8, 4, 64, 2, 1, 128, 48},
                            {12, 24, 6, 3, 48, 2, 1, 96, 36},
                            {14, 28, 7, 4, 56, 2, 1, 112, 42}};

int level3(int v) { return v >= 1 && v <= 3 ? v : 0; }

}

void c331_manage::set_ip(int fd, int c)
{
    if (!stageChannel(c))
        return;
    const int owner = g_ich_owner[c];
    if (!vyrApi_IsWinValid(owner))
        return;
    const int p = PM_INPUT[owner];
    if (!validPort(p))
        return;
    const uint32_t off = 16u * uint32_t(c);
    const bool interlaced = PI_SCAN_MODE[p] != 0;
    const bool nr = PI_STATE[p] > 3 && (PM_HNR[p] || PM_VNR[p] || PM_TNR[p] || PM_BNR[p] || PM_MNR[p]);
    if (!nr && !interlaced) {
        drv->write_C331(fd, 0x157001, 0, off);
        set_nr(fd, c, p);
    } else {
        wait1_pivs(fd, c);
        wait1_pivs(fd, c);
        drv->write_C331(fd, kFreeze, 0x80, 0);
        // Line count and line length of the channel; a dead counter reads 0xFFFF, which must not
        // wrap the 2-byte registers below.
        const uint32_t a = std::min<uint32_t>(drv->read_C331(fd, 0xA80802 + 0x600u * c, 0) + 1, 0xFFFF);
        const uint32_t b = drv->read_C331(fd, 0xA80A02 + 0x600u * c, 0);
        drv->write_C331(fd, kFreeze, 0, 0);
        // Lines per field (an odd frame count rounded up) plus 32.
        const uint32_t n = std::min<uint32_t>((interlaced ? (a + 1) / 2 : a) + 32, 0xFFFF);
        const uint32_t scale = interlaced ? 2 : 1;
        drv->write_C331(fd, 0x140802, n, off);
        drv->write_C331(fd, 0x140A02, std::min<uint32_t>((b + 16) * 2, 0xFFFF), off);
        drv->write_C331(fd, 0x146D02, (((n + 1) * 3 / 4) & 0x3FFF) | 0x8000, off);
        drv->write_C331(fd, 0x140C01, 1, off);
        drv->write_C331(fd, 0x140F02, uint32_t(PI_ACT[p][1]), off);
        drv->write_C331(fd, 0x141302, uint32_t(PI_ACT[p][3]) * scale, off);
        drv->write_C331(fd, 0x141102, (uint32_t(PI_ACT[p][2]) * scale) | 0x8000, off);
        set_mvflt(fd, c, p);
        set_diag(fd, c, p);
        set_ipregs(fd, c, p);
        set_comb(fd, c, p);
        set_nr(fd, c, p);
        drv->write_C331(fd, 0x142A01, interlaced ? (PM_IPEN[p] ? 0 : 32) : 16, off);
        drv->write_C331(fd, 0x146701, interlaced ? 8 : 0, off);
        drv->write_C331(fd, 0x146801, interlaced ? 4 : 0, off);
    }
    // field stores: 0x1718, 0x171C, 0x1720, 0x1724 and their copies at 0x1708-0x1714
    uint32_t stores[4];
    if (interlaced) {
        const uint32_t k = uint32_t(PS_MWI_IP[c] & 31) << 10;
        const uint32_t first = uint32_t(PS_MEM_IP_I[c][0]), second = uint32_t(PS_MEM_IP_I[c][1]);
        stores[0] = k + first, stores[1] = first, stores[2] = k + second, stores[3] = second;
    } else {
        const uint32_t first = uint32_t(PS_MEM_IP_P[c][0]), second = uint32_t(PS_MEM_IP_P[c][1]);
        stores[0] = stores[2] = first, stores[1] = stores[3] = second;
    }
    for (uint32_t i = 0; i < 4; ++i) {
        drv->write_C331(fd, 0x171804 + (i * 4 << 8), stores[i], off);
        ICH_DI_ADDR[c][i] = stores[i];
    }
    for (uint32_t i = 0; i < 4; ++i) {
        drv->write_C331(fd, 0x170804 + (i * 4 << 8), stores[i], off);
        ICH_MV_ADDR[c][i] = stores[i];
    }
    drv->write_C331(fd, 0x175902, interlaced ? uint32_t(PS_MEM_IPYOFF[c]) : 0, off);
    drv->write_C331(fd, 0x165B01, interlaced ? 1 : 0, off);
    ICH_DI_EN[c] = interlaced ? 1 : 0;
}

void c331_manage::writeNrMode(int fd, int c, uint32_t mode)
{
    if (!stageChannel(c))
        return;
    drv->write_C331(fd, 0x150801, mode, 16u * uint32_t(c));
    ICH_NR_EN[c] = int(mode);
}

void c331_manage::set_nr(int fd, int c, int p)
{
    if (!stageChannel(c) || !validPort(p))
        return;
    const uint32_t off = 16u * uint32_t(c);
    if (PI_STATE[p] > 3) {
        set_nr_block(fd, c, p);
        set_nr_tpx(fd, c, p);
        set_nr_hvpx(fd, c, p);
        set_nr_mosq(fd, c, p);
        const uint32_t mode = PI_SCAN_MODE[p] ? 0 : PM_BNR[p] ? 3 : (PM_HNR[p] || PM_VNR[p] || PM_TNR[p] || PM_MNR[p]) ? 1 : 0;
        writeNrMode(fd, c, mode);
        return;
    }
    for (uint32_t reg : {0x153902u, 0x120801u, 0x156B01u, 0x150901u})
        drv->write_C331(fd, reg, 0, off);
    writeNrMode(fd, c, 0);
}

void c331_manage::set_nr_hvpx(int fd, int c, int p)
{
    if (!stageChannel(c) || !validPort(p))
        return;
    static const uint8_t kPair[4][2] = {{0, 0}, {66, 150}, {117, 201}, {168, 252}};
    const uint32_t off = 16u * uint32_t(c);
    const int h = level3(PM_HNR[p]), v = level3(PM_VNR[p]);
    drv->write_C331(fd, 0x156B01, (PM_VNR[p] ? 0x10 : 0) | (PM_HNR[p] ? 1 : 0), off);
    drv->write_C331(fd, 0x156E01, kPair[h][0], off);
    drv->write_C331(fd, 0x156F01, kPair[h][1], off);
    drv->write_C331(fd, 0x156C01, kPair[v][0], off);
    drv->write_C331(fd, 0x156D01, kPair[v][1], off);
}

void c331_manage::set_nr_block(int fd, int c, int p)
{
    if (!stageChannel(c) || !validPort(p))
        return;
    const uint32_t off = 16u * uint32_t(c);
    const int level = level3(PM_BNR[p]);
    if (level == 0) {
        drv->write_C331(fd, 0x153902, 0, off);
        return;
    }
    const BlockFormat* f = nullptr;
    for (const BlockFormat& b : kBlockFormats)
        if (b.height == PI_ACT[p][3])
            f = &b;
    if (!f)
        return; // a format without a table keeps the stage as it was
    writeNrMode(fd, c, 3);
    drv->write_C331(fd, 0x153902, f->strength[level - 1], off);
    writeRun(drv, fd, 0x153B01, f->shape[level - 1], off);
    static const uint8_t kCommon[] = {64, 0, 0, 6, 4};
    writeRun(drv, fd, 0x154501, kCommon, off);
    if (!f->interlaced) {
        static const uint8_t kSecond[] = {64, 18, 16};
        writeRun(drv, fd, 0x154A01, kSecond, off);
        drv->write_C331(fd, 0x154D02, 384, off);
        drv->write_C331(fd, 0x154F02, 96, off);
        writeRun(drv, fd, 0x155101, kSecond, off);
        drv->write_C331(fd, 0x155402, 768, off);
        drv->write_C331(fd, 0x155602, 192, off);
    }
    static const uint8_t kZero4[] = {0, 0, 0, 0};
    writeRun(drv, fd, 0x155801, kZero4, off);
    for (uint32_t reg : {0x155C02u, 0x155E02u, 0x156002u, 0x156202u})
        drv->write_C331(fd, reg, 0, off);
    static const uint8_t kTail[] = {18, 0, 0};
    writeRun(drv, fd, 0x156401, kTail, off);
    drv->write_C331(fd, 0x156702, 0, off);
    drv->write_C331(fd, 0x156901, 8, off);
    drv->write_C331(fd, 0x156A01, 36, off);
}

void c331_manage::set_nr_mosq(int fd, int c, int p)
{
    if (!stageChannel(c) || !validPort(p))
        return;
    const uint32_t off = 16u * uint32_t(c);
    const int level = level3(PM_MNR[p]);
    if (level == 0) {
        drv->write_C331(fd, 0x150901, 0, off);
        return;
    }
    writeRun(drv, fd, 0x150901, kMosqA[level - 1], off);
    writeRun(drv, fd, 0x151C01, kMosqB[level - 1], off);
    writeRun(drv, fd, 0x152601, kMosqC[level - 1], off);
}

void c331_manage::set_nr_tpx(int fd, int c, int p)
{
    if (!stageChannel(c) || !validPort(p))
        return;
    const uint32_t off = 16u * uint32_t(c);
    const int level = level3(PM_TNR[p]);
    if (level == 0) {
        drv->write_C331(fd, 0x120801, 0, off);
        return;
    }
    writeRun(drv, fd, 0x120801, kTpxA[level - 1], off);
    writeRun(drv, fd, 0x121001, kTpxB[level - 1], off);
}

void c331_manage::set_diag(int fd, int c, int p)
{
    if (!stageChannel(c) || !validPort(p))
        return;
    const uint32_t off = 16u * uint32_t(c);
    const int level = PI_STATE[p] > 3 ? level3(PM_DIAG[p]) : 0;
    if (level == 0) {
        static const uint8_t kOff[16] = {};
        writeRun(drv, fd, 0x145001, kOff, off);
        return;
    }
    writeRun(drv, fd, 0x145001, kDiag[level - 1], off);
    static const uint8_t kZero4[] = {0, 0, 0, 0};
    writeRun(drv, fd, 0x146001, kZero4, off);
}

void c331_manage::set_comb(int fd, int c, int p)
{
    if (!stageChannel(c) || !validPort(p) || PI_STATE[p] <= 3)
        return;
    const uint32_t off = 16u * uint32_t(c);
    const int level = level3(PM_COMB[p]);
    if (level == 0) {
        drv->write_C331(fd, 0x143B01, 0, off);
        return;
    }
    writeRun(drv, fd, 0x143B01, kComb[level - 1], off);
}

void c331_manage::set_mvflt(int fd, int c, int p)
{
    if (!stageChannel(c) || !validPort(p))
        return;
    const uint32_t off = 16u * uint32_t(c);
    const int level = PI_STATE[p] > 3 ? PM_MVFLT[p] : 0;
    if (level <= 0) {
        drv->write_C331(fd, 0x141501, 0, off);
        static const uint8_t kOff[8] = {};
        writeRun(drv, fd, 0x141A01, kOff, off);
        return;
    }
    drv->write_C331(fd, 0x141501, 31, off);
    if (level > 4)
        return;
    const uint8_t* g = kMvflt[level - 1];
    // G1 = 1A, 1B, 1E, 1F; G2 = 1C, 20; G3 = 1D, 21
    const uint8_t values[8] = {g[0], g[0], g[1], g[2], g[0], g[0], g[1], g[2]};
    writeRun(drv, fd, 0x141A01, values, off);
}

void c331_manage::set_ipregs(int fd, int c, int p)
{
    if (!stageChannel(c) || !validPort(p))
        return;
    const int cls = PI_STATE[p];
    if (cls < STATE_I1125_HIGH || cls > STATE_I625)
        return;
    const uint32_t off = 16u * uint32_t(c);
    uint8_t a[9];
    std::copy(std::begin(kIpA[cls - 5]), std::end(kIpA[cls - 5]), a);
    a[0] = PM_22PD[p] ? 1 : 0; // 2:2 cadence detection
    a[1] = PM_23PD[p] ? 1 : 0; // 2:3 cadence detection
    writeRun(drv, fd, 0x142C01, a, off);
    writeRun(drv, fd, 0x143801, kIpB[cls - 5], off);
    writeRun(drv, fd, 0x144201, kIpC[cls - 5], off);
}
