#include "video_chips/sdi_it66121.h"

#include "base/delay.h"
#include "fpga/fpga_manage.h"
#include "video_chips/drv_i2c.h"
#include "video_chips/keltosource.h"

#include <cstring>

namespace {
// The input manager's bus; the transmitter shares the descriptor of the IT6602 driver.
Drv_I2C0* bus(int* fd)
{
    keltosource* k = keltosource::p_kelto_source;
    if (!k || !k->i2c || !k->it6602)
        return nullptr;
    *fd = k->it6602->fd;
    return k->i2c;
}
}

// ---- I2C access --------------------------------------------------------------------------------

int sdi_it66121::I2C2_IT66121_Read(uint8_t address, uint8_t reg, int count, uint8_t* out)
{
    int fd = -1;
    Drv_I2C0* b = bus(&fd);
    if (!b || !out || count <= 0 || count > ReadLimit)
        return 0;
    return b->i2c_read(fd, address, reg, out, count);
}

int sdi_it66121::I2C2_IT66121_Write(uint8_t address, uint8_t reg, int count, const uint8_t* bytes)
{
    int fd = -1;
    Drv_I2C0* b = bus(&fd);
    const int n = uint8_t(count); // the write counter is 8 bits wide
    if (!b || (n > 0 && !bytes))
        return 0;
    return b->i2c_write(fd, address, reg, bytes, n);
}

uint8_t sdi_it66121::HDMITX_ReadI2C_Byte(uint8_t reg)
{
    uint8_t value = 0;
    I2C2_IT66121_Read(Address, reg, 1, &value);
    return value;
}

int sdi_it66121::HDMITX_ReadI2C_ByteN(uint8_t reg, uint8_t* out, int count)
{
    return I2C2_IT66121_Read(Address, reg, count, out);
}

int sdi_it66121::HDMITX_WriteI2C_Byte(uint8_t reg, uint8_t value)
{
    return I2C2_IT66121_Write(Address, reg, 1, &value);
}

int sdi_it66121::HDMITX_SetI2C_Byte(uint8_t reg, uint8_t mask, uint8_t value)
{
    if (mask == 0xFF)
        return HDMITX_WriteI2C_Byte(reg, value);
    uint8_t old = 0;
    if (I2C2_IT66121_Read(Address, reg, 1, &old) != 1)
        return 0; // do not write back a guess
    return HDMITX_WriteI2C_Byte(reg, uint8_t((old & ~mask) | (value & mask)));
}

// ---- register tables ---------------------------------------------------------------------------

// The two register-unlock values for 0xF8 are ours to choose: the chip takes the pair as a key.
const uint8_t it66121_hdmitx_drv::HDMITX_Init_Table[] = {
    0x0F, 0x40, 0x00, 0x62, 0x08, 0x00, 0x64, 0x04, 0x00, 0x01, 0x00, 0x00, 0x04, 0x20, 0x20, 0x04, 0x1D, 0x1D,
    0x01, 0x00, 0x00, 0x0F, 0x01, 0x00, 0xD1, 0x0E, 0x0C, 0x65, 0x03, 0x00, 0x71, 0xFC, 0x1C, 0x8D, 0xFF, 0x9C,
    0x0F, 0x08, 0x08, 0xF8, 0xFF, 0xC3, 0xF8, 0xFF, 0xA5, 0x20, 0x80, 0x80, 0x37, 0x01, 0x00, 0x20, 0x80, 0x00,
    0xF8, 0xFF, 0xFF, 0x5D, 0x03, 0x01, 0x59, 0xD8, 0x40, 0xE1, 0x20, 0x00, 0x05, 0xC0, 0x40, 0x09, 0xFF, 0xFC,
    0x0A, 0xFF, 0xF8, 0x0B, 0xFF, 0xF7, 0x0C, 0xFF, 0xFF, 0x0D, 0xFF, 0xFF, 0x0E, 0x03, 0x03, 0x0C, 0xFF, 0x00,
    0x0D, 0xFF, 0x00, 0x0E, 0x02, 0x00, 0x09, 0x03, 0x00, 0x20, 0x01, 0x00, 0x00, 0x00, 0x00,
};
static_assert(sizeof(it66121_hdmitx_drv::HDMITX_Init_Table) == 35 * 3, "34 rows and the end row");

const uint8_t it66121_hdmitx_drv::HDMITX_DefaultVideo_Table[] = {
    0x72, 0xFF, 0x00, 0x70, 0xFF, 0x00, 0x72, 0xFF, 0x02, 0x73, 0xFF, 0x00, 0x74, 0xFF, 0x80, 0x75, 0xFF, 0x00,
    0x76, 0xFF, 0xB8, 0x77, 0xFF, 0x05, 0x78, 0xFF, 0xB4, 0x79, 0xFF, 0x01, 0x7A, 0xFF, 0x93, 0x7B, 0xFF, 0x00,
    0x7C, 0xFF, 0x49, 0x7D, 0xFF, 0x3C, 0x7E, 0xFF, 0x18, 0x7F, 0xFF, 0x04, 0x80, 0xFF, 0x9F, 0x81, 0xFF, 0x3F,
    0x82, 0xFF, 0xD9, 0x83, 0xFF, 0x3C, 0x84, 0xFF, 0x10, 0x85, 0xFF, 0x3F, 0x86, 0xFF, 0x18, 0x87, 0xFF, 0x04,
    0x88, 0xF0, 0x00, 0x04, 0x08, 0x00, 0x00, 0x00, 0x00,
};
static_assert(sizeof(it66121_hdmitx_drv::HDMITX_DefaultVideo_Table) == 27 * 3, "26 rows and the end row");

const uint8_t it66121_hdmitx_drv::HDMITX_SetHDMI_Table[] = {
    0xC0, 0x01, 0x01, 0xC1, 0x03, 0x03, 0xC6, 0x03, 0x03, 0x00, 0x00, 0x00,
};

const uint8_t it66121_hdmitx_drv::HDMITX_DefaultAVIInfo_Table[] = {
    0x0F, 0x01, 0x01, 0x58, 0xFF, 0x10, 0x59, 0xFF, 0x08, 0x5A, 0xFF, 0x00, 0x5B, 0xFF, 0x00, 0x5C, 0xFF, 0x00,
    0x5D, 0xFF, 0x57, 0x5E, 0xFF, 0x00, 0x5F, 0xFF, 0x00, 0x60, 0xFF, 0x00, 0x61, 0xFF, 0x00, 0x62, 0xFF, 0x00,
    0x63, 0xFF, 0x00, 0x64, 0xFF, 0x00, 0x65, 0xFF, 0x00, 0x0F, 0x01, 0x00, 0xCD, 0x03, 0x03, 0x00, 0x00, 0x00,
};

const uint8_t it66121_hdmitx_drv::HDMITX_DeaultAudioInfo_Table[] = {
    0x0F, 0x01, 0x01, 0x68, 0xFF, 0x00, 0x69, 0xFF, 0x00, 0x6A, 0xFF, 0x00, 0x6B, 0xFF, 0x00, 0x6C, 0xFF, 0x00,
    0x6D, 0xFF, 0x71, 0x0F, 0x01, 0x00, 0xCE, 0x03, 0x03, 0x00, 0x00, 0x00,
};

const uint8_t it66121_hdmitx_drv::HDMITX_Aud_CHStatus_LPCM_20bit_48Khz[] = {
    0x0F, 0x01, 0x01, 0x33, 0xFF, 0x00, 0x34, 0xFF, 0x18, 0x35, 0xFF, 0x00, 0x91, 0xFF, 0x00, 0x92, 0xFF, 0x00,
    0x93, 0xFF, 0x01, 0x94, 0xFF, 0x00, 0x98, 0xFF, 0x02, 0x99, 0xFF, 0xDA, 0x0F, 0x01, 0x00, 0x00, 0x00, 0x00,
};

const uint8_t it66121_hdmitx_drv::HDMITX_AUD_SPDIF_2ch_24bit[] = {
    0x0F, 0x11, 0x00, 0x04, 0x14, 0x04, 0xE0, 0xFF, 0xD1, 0xE1, 0xFF, 0x01, 0xE2, 0xFF, 0xE4, 0xE3, 0xFF, 0x10,
    0xE4, 0xFF, 0x00, 0xE5, 0xFF, 0x00, 0x04, 0x14, 0x00, 0x00, 0x00, 0x00,
};

void it66121_hdmitx_drv::HDMITX_InitTxDev(const uint8_t* description)
{
    if (description)
        memcpy(instance, description, sizeof instance);
}

void it66121_hdmitx_drv::Switch_HDMITX_Bank(uint8_t bank)
{
    io_.HDMITX_SetI2C_Byte(0x0F, 0x01, uint8_t(bank & 1));
}

void it66121_hdmitx_drv::hdmitx_LoadRegSetting(const uint8_t* table)
{
    if (!table)
        return;
    // A table is at most a few dozen rows; the bound keeps a missing end row from running away.
    for (int row = 0; row < 256; ++row, table += 3) {
        const uint8_t reg = table[0], mask = table[1], value = table[2];
        if (mask == 0 && value == 0) {
            if (reg == 0)
                return;
            Delay::ms(reg);
        } else if (mask == 0xFF) {
            io_.HDMITX_WriteI2C_Byte(reg, value);
        } else {
            io_.HDMITX_SetI2C_Byte(reg, mask, value);
        }
    }
}

void it66121_hdmitx_drv::InitHDMITX()
{
    hdmitx_LoadRegSetting(HDMITX_Init_Table);
    option_flag = uint8_t(instance[2] >> 7);
    hdmitx_LoadRegSetting(HDMITX_DefaultVideo_Table);
    hdmitx_LoadRegSetting(HDMITX_SetHDMI_Table);
    hdmitx_LoadRegSetting(HDMITX_DefaultAVIInfo_Table);
    hdmitx_LoadRegSetting(HDMITX_DeaultAudioInfo_Table);
    hdmitx_LoadRegSetting(HDMITX_Aud_CHStatus_LPCM_20bit_48Khz);
    hdmitx_LoadRegSetting(HDMITX_AUD_SPDIF_2ch_24bit);
}

// ---- system layer ------------------------------------------------------------------------------

const uint8_t it66121_hdmitx_sys::InstanceData[20] = {0x00, 0x98, 0x40, 0x00, 0x01, 0x00, 0x01, 0x02};

void it66121_hdmitx_sys::InitHDMITX_Variable(it66121_hdmitx_drv& drv)
{
    drv.HDMITX_InitTxDev(InstanceData);
    hpd_state[0] = hpd_state[1] = 0;
}

void it66121_hdmitx_sys::HDMITX_ChangeDisplayOption(uint8_t code, uint8_t outputColorMode)
{
    uint32_t clock = 0;
    switch (code) {
    case 1:
        clock = 25000000;
        break;
    case 2: case 3: case 17: case 18:
        clock = 27000000;
        break;
    case 6: case 7: case 21: case 22:
        clock = 13500000;
        break;
    case 4: case 5: case 19: case 20: case 32: case 33: case 34: case 61:
        clock = 74250000;
        break;
    case 16: case 31:
        clock = 148500000;
        break;
    default:
        video_changed = 0;
        return;
    }
    vic = code;
    pixel_clock_hz = clock;
    pixel_repetition = clock == 13500000 ? 1 : 0;
    const bool fourThree = code == 1 || code == 2 || code == 6 || code == 17 || code == 21;
    aspect_16_9 = fourThree ? 0 : 1;
    const bool sdLines = code == 3 || code == 7 || code == 18 || code == 22;
    colorimetry_709 = (fourThree || sdLines) ? 0 : 1;
    output_color_mode = outputColorMode;
    video_changed = 1;
}

// The loop behind the ready flag (hot-plug, EDID, output set-up, HDCP) is not built: nothing in
// the box sets the flag, so this returns at once on every pass.
void it66121_hdmitx_sys::HDMITX_DevLoopProc()
{
}

// ---- the SDI path ------------------------------------------------------------------------------

it66121_sys::it66121_sys()
{
    hdmitx_sys = new it66121_hdmitx_sys();
    io = new sdi_it66121();
    hdmitx_drv = new it66121_hdmitx_drv(*io);
}

it66121_sys::~it66121_sys()
{
    delete hdmitx_drv;
    delete io;
    delete hdmitx_sys;
}

void it66121_sys::sdi_it66121_init()
{
    fpga_manage::gpio_write(fpga_manage::sdi_tx_en, 16);
    fpga_manage::gpio_write(fpga_manage::sdi_rst, 1);
}

int it66121_sys::IT66121_Test()
{
    hdmitx_drv->Switch_HDMITX_Bank(0);
    uint8_t id[2] = {0, 0};
    if (io->HDMITX_ReadI2C_ByteN(0x00, id, 2) != 1)
        return 0;
    return ((id[1] << 8) | id[0]) == 0x4954 ? 1 : 0;
}

void it66121_sys::CHANGE_INPUT(int n)
{
    static const uint8_t codes[18] = {1, 2, 3, 4, 5, 6, 7, 16, 17, 18, 19, 20, 21, 22, 31, 32, 33, 34};
    const unsigned index = unsigned(n) % 18u;
    hdmitx_sys->HDMITX_ChangeDisplayOption(codes[index], 0);
}

void it66121_sys::GS2971_Reset()
{
    fpga_manage::gpio_write(fpga_manage::sdi_rst, 0);
    Delay::ms(ResetPulseMs);
    fpga_manage::gpio_write(fpga_manage::sdi_rst, 1);
}

void it66121_sys::IT66121_init()
{
    hdmitx_sys->InitHDMITX_Variable(*hdmitx_drv);
    hdmitx_drv->InitHDMITX();
    CHANGE_INPUT(7);
    GS2971_Reset();
}

void it66121_sys::HDMITX_DevLoopProc()
{
    hdmitx_sys->HDMITX_DevLoopProc();
}
