#include "register_rows.h"

#include "video_chips/drv_i2c.h"
#include "video_chips/iTE6805_SYS.h"
#include "video_chips/kelto_it6602.h"
#include "video_chips/keltosource.h"
#include "video_chips/sdi_it66121.h"

#include "base/global.h"
#include "fpga/fpga_manage.h"
#include "params/config_engine.h"
#include "params/vyrrampara.h"
#include "platform/sim/board_config.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/devices/i2c_board.h"
#include "platform/sim/sim_board.h"

#include <gtest/gtest.h>

#include <functional>

// The register sequences of the receivers and the SDI transmitter, each compared with the chip's
// ordered write log. Rows are register/mask/value as the chip makers list them (B: the bank for
// the iTE6805, whose bank changes are left out); the compared bits of a masked row are its mask.
namespace {

using platform::Sim::i2cBoard;
using register_rows::Write;

struct TableCase {
    const char* name;
    std::function<std::vector<Write>(keltosource&)> run; // the sequence, from a cleared log
    const char* rows;
    bool inOrder; // only these rows are listed: other writes may come between them
};

// Its name in the test's name, where gtest would dump the object's bytes (pointers among them).
void PrintTo(const TableCase& c, std::ostream* os) { *os << c.name; }

void pathOn(uint32_t word) { platform::Sim::memSim().write16(platform::Sim::FpgaChip::WindowBase + word, 16); }

void select(keltosource& k, uint8_t channel) { ASSERT_EQ(k.i2c->i2c_write(k.it6602->fd, 0xEE, channel, nullptr, 0), 1); }

std::vector<Write> it6602Reset(keltosource& k)
{
    pathOn(0x207940);
    select(k, 0x01);
    i2cBoard().it6602(0).clearLog();
    k.it6602->IT6602_Rst(k.it6602->fd, 0);
    return i2cBoard().it6602(0).writes();
}

// A 1080p60 source on receiver 0, from its set-up to the picture: entering VSTATE_VideoOn.
std::vector<Write> it6602VideoOn(keltosource& k)
{
    pathOn(0x207940);
    select(k, 0x01);
    i2cBoard().it6602(0).connect(*platform::Sim::standardTiming("1920x1080p60"));
    const int fd = k.it6602->fd;
    k.it6602->IT6602_fsm_init(fd, 0);
    k.it6602->IT6602_fsm_init_1(fd, 0);
    i2cBoard().it6602(0).clearLog();
    for (int pass = 0; pass < 20 && k.it6602->get_IT6602_dev_data(0)->videoState != VSTATE_VideoOn; ++pass)
        k.it6602->IT6602_fsm(fd, 0);
    return i2cBoard().it6602(0).writes();
}

std::vector<Write> it66121Init(keltosource& k)
{
    k.it66121->sdi_it66121_init();
    i2cBoard().it66121().clearLog();
    k.it66121->IT66121_init();
    return i2cBoard().it66121().writes();
}

std::vector<Write> ite6805(keltosource& k, const std::function<void(ite6805_sys&)>& step)
{
    pathOn(0x207944);
    select(k, 0x20);
    i2cBoard().ite6805(0).clearLog();
    step(*k.ite6805);
    return i2cBoard().ite6805(0).writes();
}

class RegisterTables : public ::testing::TestWithParam<TableCase> {
protected:
    void SetUp() override
    {
        ConfigEngine::pInstance();
        VyrRamPara::pInstance();
        fpga_manage::instanceWithoutWorker();
        g_check_source = 0;
        k = keltosource::pInstance();
        ASSERT_EQ(k->initializeWithoutThread(), 0);
    }
    keltosource* k = nullptr;
};

TEST_P(RegisterTables, WritesFollowTheListedRows)
{
    const TableCase& c = GetParam();
    const std::vector<Write> log = c.run(*k);
    const auto rows = register_rows::parse(c.rows);
    EXPECT_EQ(c.inOrder ? register_rows::missingInOrder(log, rows) : register_rows::firstMismatch(log, rows), "");
}

const TableCase kTables[] = {
    {"IT6602_init_table", it6602Reset,
     "0F/03/00 10/FF/08 0F/03/00 10/FF/17 11/FF/1F 18/FF/1F 12/FF/F8 10/FF/10 11/FF/A0 18/FF/A0 12/FF/00 0F/03/01 "
     "B0/03/00 0F/03/00 17/C0/80 1E/C0/00 16/08/08 1D/08/08 2B/FF/07 31/FF/09 49/FF/09 35/1E/14 4B/1E/14 54/FF/11 "
     "6A/FF/81 74/FF/A0 50/1F/12 65/0C/00 7A/80/80 85/02/02 C0/03/03 87/FF/00 71/08/00 37/FF/A6 4D/FF/A6 67/80/00 "
     "7A/50/50 77/80/80 0F/03/01 C0/8C/88 0F/03/00 7E/40/40 52/20/20 53/CF/4F 58/FF/33 59/FF/AA 25/FF/1F 3D/FF/1F "
     "27/FF/1F 28/FF/1F 29/FF/1F 3F/FF/1F 40/FF/1F 41/FF/1F 0F/03/01 BC/FF/06 CC/FF/00 C6/07/03 B5/03/03 B8/80/00 "
     "B6/07/03 10/FF/00 11/FF/00 12/FF/00 13/FF/00 28/FF/00 29/FF/00 2A/FF/00 2B/FF/00 2C/FF/00 0F/03/00 22/FF/00 "
     "3A/FF/00 26/FF/00 3E/FF/00 63/FF/3F 73/08/00 60/40/00 2A/01/00 42/01/00 77/0C/08",
     false},
    // Video output on, then 0x84 and 0x6A as the state is entered.
    {"IT6602_video_on", it6602VideoOn, "64/80/80 64/80/00 53/0F/00 84/FF/8F 6A/FF/81", true},
    // Pause rows write nothing; the two unlock writes of 0xF8 are compared by register only.
    {"IT66121_tables", it66121Init,
     "0F/40/00 62/08/00 64/04/00 04/20/20 04/1D/1D 0F/01/00 D1/0E/0C 65/03/00 71/FC/1C 8D/FF/9C 0F/08/08 F8/00/00 "
     "F8/00/00 20/80/80 37/01/00 20/80/00 F8/FF/FF 5D/03/01 59/D8/40 E1/20/00 05/C0/40 09/FF/FC 0A/FF/F8 0B/FF/F7 "
     "0C/FF/FF 0D/FF/FF 0E/03/03 0C/FF/00 0D/FF/00 0E/02/00 09/03/00 20/01/00 "
     "72/FF/00 70/FF/00 72/FF/02 73/FF/00 74/FF/80 75/FF/00 76/FF/B8 77/FF/05 78/FF/B4 79/FF/01 7A/FF/93 7B/FF/00 "
     "7C/FF/49 7D/FF/3C 7E/FF/18 7F/FF/04 80/FF/9F 81/FF/3F 82/FF/D9 83/FF/3C 84/FF/10 85/FF/3F 86/FF/18 87/FF/04 "
     "88/F0/00 04/08/00 "
     "C0/01/01 C1/03/03 C6/03/03 "
     "0F/01/01 58/FF/10 59/FF/08 5A/FF/00 5B/FF/00 5C/FF/00 5D/FF/57 5E/FF/00 5F/FF/00 60/FF/00 61/FF/00 62/FF/00 "
     "63/FF/00 64/FF/00 65/FF/00 0F/01/00 CD/03/03 "
     "0F/01/01 68/FF/00 69/FF/00 6A/FF/00 6B/FF/00 6C/FF/00 6D/FF/71 0F/01/00 CE/03/03 "
     "0F/01/01 33/FF/00 34/FF/18 35/FF/00 91/FF/00 92/FF/00 93/FF/01 94/FF/00 98/FF/02 99/FF/DA 0F/01/00 "
     "0F/11/00 04/14/04 E0/FF/D1 E1/FF/01 E2/FF/E4 E3/FF/10 E4/FF/00 E5/FF/00 04/14/00",
     false},
    // The listed rows of the 133; the others are the chip maker's.
    {"iTE6805_init_table", [](keltosource& k) { return ite6805(k, [](ite6805_sys& s) { s.iTE6805_FSM(0); }); },
     "0:22/FF/08 0:22/FF/17 0:23/FF/1F 0:2B/FF/1F 0:24/FF/F8 0:22/FF/10 0:23/FF/A0 0:2B/FF/A0 0:24/FF/00 0:34/FF/00 "
     "3:AA/FF/EC 3:AC/FF/40 0:3A/FF/89 0:49/FF/E1 0:43/FF/01 4:43/FF/01 0:4F/FF/84 0:44/FF/19 0:46/FF/15 0:47/FF/88 "
     "1:C0/FF/42 3:E3/FF/07 7:E3/FF/07 0:F8/FF/C3 0:F8/FF/A5 0:F8/FF/FF 5:20/03/01 5:C7/FF/49 0:59/FF/00 5:CB/06/00",
     true},
    {"iTE6805_front_end_calibration",
     [](keltosource& k) { return ite6805(k, [](ite6805_sys& s) { s.drv->iTE6805_Init_CAOF(0); }); },
     "3:3A/80/00 3:A0/80/80 3:A1/80/80 3:A2/80/80 3:A4/08/08 3:3B/C0/00 3:A7/10/10 3:48/80/80 "
     "0:29/01/01 0:2A/41/41 0:2A/40/00 0:24/04/04 0:25/FF/00 0:26/FF/00 0:27/FF/00 0:28/FF/00 0:3C/10/00 "
     "7:3A/80/00 7:A0/80/80 7:A1/80/80 7:A2/80/80 7:A4/08/08 7:3B/C0/00 7:A7/10/10 7:48/80/80 "
     "0:32/41/41 0:32/40/00 0:2C/04/04 0:2D/6F/00 0:2E/FF/00 0:2F/FF/00 0:30/FF/00 4:3C/10/00 3:3A/80/80 "
     "7:3A/80/80 0:08/30/30 0:0D/30/30 0:29/01/00 0:24/04/00 0:3C/10/10 0:2C/04/00 4:3C/10/10 "
     "3:3A/80/00 3:A0/80/00 3:A1/80/00 3:A2/80/00 7:3A/80/00 7:A0/80/00 7:A1/80/00 7:A2/80/00",
     false},
    // Oscillator ready at once; its first readings pick page 0.
    {"iTE6805_oscillator_clock",
     [](keltosource& k) { return ite6805(k, [](ite6805_sys& s) { s.drv->iTE6805_OCLK_Load(0); }); },
     "0:F8/FF/C3 0:F8/FF/A5 0:34/FF/00 1:5F/FF/04 1:5F/FF/05 1:58/FF/12 1:58/FF/02 1:57/FF/01 "
     "1:50/FF/00 1:51/FF/00 1:54/FF/04 1:50/FF/00 1:51/FF/01 1:54/FF/04 "
     "1:50/FF/00 1:51/FF/B0 1:54/FF/04 1:50/FF/00 1:51/FF/B1 1:54/FF/04 1:5F/FF/00 0:F8/FF/00",
     false},
    // HDMI 2.0 automatic training on port 0.
    {"iTE6805_automatic_training",
     [](keltosource& k) { return ite6805(k, [](ite6805_sys& s) { s.eq->iTE6805_Trigger_SAREQ(0); }); },
     "3:20/FF/1B 3:21/FF/03 3:20/80/00 3:22/FF/00 0:07/FF/FF 0:23/FF/B0 0:23/FF/A0 0:3B/FF/23 3:26/FF/00 "
     "3:27/FF/1F 3:28/FF/1F 3:29/FF/1F 3:2C/C0/C0 3:2D/F0/20 3:2D/07/00 3:30/FF/8C 3:31/FF/B0 3:32/FF/43 "
     "3:33/FF/47 3:34/FF/4B 3:35/FF/53 3:36/C0/00 3:37/FF/0B 3:38/FF/F2 3:39/FF/0D 3:4A/80/00 3:4B/80/00 "
     "3:54/80/80 3:55/FF/40 3:22/04/04",
     false},
    // HDMI 1.x hardware training on port 0, TMDS clock below 1 GHz.
    {"iTE6805_hardware_training",
     [](keltosource& k) { return ite6805(k, [](ite6805_sys& s) { s.eq->iTE6805_Trigger_EQ(0); }); },
     "0:07/FF/FF 0:23/FF/B0 0:23/FF/A0 3:20/FF/1B 3:21/FF/03 3:26/FF/00 3:27/FF/00 3:28/FF/00 3:29/FF/00 "
     "3:22/FF/38 3:22/04/04 3:22/04/00",
     false},
};

INSTANTIATE_TEST_SUITE_P(Chips, RegisterTables, ::testing::ValuesIn(kTables),
                         [](const ::testing::TestParamInfo<TableCase>& info) { return std::string(info.param.name); });

} // namespace
