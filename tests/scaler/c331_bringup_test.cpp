// Identification, bring-up and the initial register programme, driven pass by pass against the
// simulated chip; one test runs the real worker thread.
#include "scaler/c331_manage.h"
#include "base/global.h"
#include "params/vyrrampara.h"
#include "platform/sim/devices/c331_chip.h"

#include <gtest/gtest.h>
#include <chrono>
#include <fstream>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using platform::Sim::c331Chip;
using Transfer = platform::Sim::C331Chip::Transfer;

namespace {

class BringUp : public ::testing::Test {
protected:
    void SetUp() override
    {
        store = VyrRamPara::pInstance();
        scaler = c331_manage::instanceWithoutWorker();
        ASSERT_EQ(scaler->c331_fd, 0);
    }

    void runUntilRunning()
    {
        for (int i = 0; i < 10 && scaler->thread_state < 6; ++i)
            scaler->runOnce();
        ASSERT_EQ(scaler->thread_state, 6);
    }

    // Data writes of the log in one bank.
    std::vector<Transfer> writesInBank(uint8_t bank)
    {
        std::vector<Transfer> out;
        for (const Transfer& t : c331Chip().log())
            if (t.kind == Transfer::Write && t.bank == bank)
                out.push_back(t);
        return out;
    }

    // The two values each bank-0x02 group takes after its selector pulses, in order.
    std::vector<uint8_t> groupValues()
    {
        std::vector<uint8_t> out;
        for (const Transfer& t : writesInBank(0x02))
            if (t.addr != 0x7F)
                out.push_back(t.value);
        return out;
    }

    void prepareModel()
    {
        scaler->load_system_param();
        scaler->define_param();
    }

    VyrRamPara* store = nullptr;
    c331_manage* scaler = nullptr;
};

}

TEST_F(BringUp, FiveGoodIdReadsThenBringUpRaisesTheStartFlag)
{
    for (int i = 1; i <= 5; ++i) {
        scaler->runOnce();
        EXPECT_EQ(scaler->thread_state, i);
        EXPECT_EQ(g_fpga_c331_start.load(), 0);
    }
    scaler->runOnce();
    EXPECT_EQ(scaler->thread_state, 6);
    EXPECT_EQ(g_fpga_c331_start.load(), 1);
}

TEST_F(BringUp, ABadIdReadDoesNotResetTheCount)
{
    scaler->runOnce();
    scaler->runOnce();
    c331Chip().setChipId(0x23);
    for (int i = 0; i < 3; ++i)
        scaler->runOnce();
    EXPECT_EQ(scaler->thread_state, 2);
    c331Chip().setChipId(0x24);
    for (int i = 0; i < 3; ++i)
        scaler->runOnce();
    EXPECT_EQ(scaler->thread_state, 5);
}

TEST_F(BringUp, AChipWithAnotherIdIsNeverProgrammed)
{
    c331Chip().setChipId(0x42);
    c331Chip().clearLog();
    for (int i = 0; i < 50; ++i)
        scaler->runOnce();
    EXPECT_EQ(scaler->thread_state, 0);
    EXPECT_EQ(g_fpga_c331_start.load(), 0);
    size_t writes = 0;
    for (const Transfer& t : c331Chip().log())
        writes += t.kind == Transfer::Write;
    EXPECT_EQ(writes, 0u);
}

TEST_F(BringUp, ForcedGreenOnAllEightOutputChannels)
{
    g_force_bkcolor = 1;
    runUntilRunning();
    for (uint32_t n = 0; n < 8; ++n) {
        EXPECT_EQ(c331Chip().value(0x084903, 16 * n), 0x00FF00u) << n;
        EXPECT_EQ(c331Chip().value(0x084801, 16 * n), 1u) << n;
    }
}

TEST_F(BringUp, NoForcedColourOnceTheFpgaIsUp)
{
    g_force_bkcolor = 0;
    runUntilRunning();
    for (uint32_t n = 0; n < 8; ++n) {
        for (const Transfer& t : writesInBank(uint8_t(0x08 + 16 * n)))
            EXPECT_FALSE(t.addr == 0x4A && t.value == 0xFF) << "green written on channel " << n;
        EXPECT_NE(c331Chip().value(0x084903, 16 * n), 0x00FF00u) << n;
    }
    EXPECT_EQ(g_fpga_c331_start.load(), 1);
}

TEST_F(BringUp, PictureControlsTakeTheBlockValues)
{
    store->setU16(0x882, 100); // contrast
    store->setU16(0x886, 0);   // saturation
    c331Chip().preset(0x0C1B02, 0x155, 0x70);
    runUntilRunning();
    EXPECT_EQ(c331Chip().value(0x0C2802, 0x70), 1023u);
    EXPECT_EQ(c331Chip().value(0x0C1B02, 0x70), 0u);
}

TEST_F(BringUp, LoadParamRaisesOnlyTheWordsOfChangedValues)
{
    scaler->load_param();
    for (int w = 0; w < 6; ++w)
        EXPECT_EQ(scaler->g_chg_geometry[w], 1u) << w; // every default window has a shape

    for (int w = 0; w < 6; ++w) {
        scaler->g_chg_geometry[w] = scaler->g_chg_memmode[w] = scaler->g_chg_fade[w] = scaler->g_chg_dbd[w] = 0;
        scaler->g_chg_input[w] = 0;
    }
    scaler->g_chg_overlay = scaler->g_chg_priority = 0;
    scaler->osd_attribute_word = scaler->osd_content_word = 0;
    scaler->osd_mode_word[0] = scaler->osd_mode_word[1] = 0;

    scaler->PM_INPUT[2] = 0;
    scaler->PM_WIN_FADE_IN[4] = 10;
    scaler->PM_OVERLAY[5] = 0;
    scaler->PM_OSD_MODE[1] = 3;       // back to 0: no request
    scaler->PM_OSD_UPDATE_BUTTON = 1; // back to 0: no request
    scaler->load_param();
    for (int w = 0; w < 6; ++w) {
        EXPECT_EQ(scaler->g_chg_input[w], w == 2 ? 1 : 0) << w;
        EXPECT_EQ(scaler->g_chg_fade[w], w == 4 ? 1u : 0u) << w;
        EXPECT_EQ(scaler->g_chg_geometry[w], 0u) << w;
        EXPECT_EQ(scaler->g_chg_dbd[w], 0u) << w;
    }
    EXPECT_EQ(scaler->PM_INPUT[2], 1);
    EXPECT_EQ(scaler->g_chg_overlay, 1u);
    EXPECT_EQ(scaler->g_chg_priority, 0u);
    EXPECT_EQ(scaler->osd_mode_word[1], 0u);
    EXPECT_EQ(scaler->osd_content_word, 0u);
    EXPECT_EQ(scaler->PM_OSD_MODE[1], 0);
}

TEST_F(BringUp, PanelFollowsTransmitterModeAndLayout)
{
    struct Case {
        int mode, layout, hw, vw, hshape, vshape;
    };
    const Case cases[] = {
        {0, 0, 7680, 2160, 4, 1}, {0, 1, 3840, 4320, 2, 2}, {2, 0, 3840, 2160, 2, 1},
        {2, 3, 1920, 4320, 1, 2}, {1, 0, 15360, 2160, 8, 1}, {3, 1, 7680, 4320, 4, 2},
    };
    for (const Case& c : cases) {
        scaler->load_system_param();
        scaler->PS_VBOTX_MODE = c.mode;
        scaler->PS_VBOTX_LAYOUT = c.layout;
        scaler->define_param();
        EXPECT_EQ(scaler->PS_PANEL_HW, c.hw) << c.mode << "/" << c.layout;
        EXPECT_EQ(scaler->PS_PANEL_VW, c.vw) << c.mode << "/" << c.layout;
        EXPECT_EQ(scaler->PS_PANEL_HSHAPE, c.hshape) << c.mode << "/" << c.layout;
        EXPECT_EQ(scaler->PS_PANEL_VSHAPE, c.vshape) << c.mode << "/" << c.layout;
    }
    EXPECT_EQ(scaler->PS_OAOIHST, 176);
    EXPECT_EQ(scaler->PS_OAOIHED, 2096);
    EXPECT_EQ(scaler->PS_OAOIVST, 82);
    EXPECT_EQ(scaler->PS_OAOIVED, 2242);
    for (int c = 0; c < 8; ++c)
        EXPECT_EQ(scaler->g_ich_owner[c], -1);
}

TEST_F(BringUp, InitialSettingProgrammesClocksOrderStoresAndMatrix)
{
    prepareModel();
    c331Chip().clearLog();
    scaler->write_initial_setting(1);
    auto& chip = c331Chip();

    // The clock generator's rows stay in bank 0xFF although its first row selects bank 8.
    EXPECT_EQ(chip.value(0xFF0201), 200u);
    EXPECT_EQ(chip.value(0xFF0401), 0x61u);
    EXPECT_EQ(chip.value(0xFF0503), 1u);
    EXPECT_EQ(chip.value(0x080201), 0u);
    EXPECT_EQ(chip.value(0x080401), 0u);

    const uint32_t pll1[5] = {0, 137, 0, 1, 22};
    for (uint32_t i = 0; i < 5; ++i)
        EXPECT_EQ(chip.value(0x004701 + (i << 8)), pll1[i]) << i;
    const uint32_t pll2[4] = {137, 0, 2, 24};
    for (uint32_t i = 0; i < 4; ++i)
        EXPECT_EQ(chip.value(0x005101 + (i << 8)), pll2[i]) << i;

    for (uint32_t d : {0x035504u, 0x035E04u, 0x036204u})
        EXPECT_EQ(chip.value(d), 0x73625140u);
    EXPECT_EQ(chip.value(0x032C01), 5u);
    EXPECT_EQ(chip.value(0x033902), 0x780u);

    EXPECT_EQ(chip.value(0x161C04), 0x08800000u);
    EXPECT_EQ(chip.value(0x162804, 0x30), 0x22000000u + 3 * 0x2000);
    EXPECT_EQ(chip.value(0x161C04, 0x50), 0x08800000u + 4 * 0x2000 + 0x1E00);
    EXPECT_EQ(chip.value(0x162004, 0x70), 0x11000000u + 6 * 0x2000 + 0x1E00);

    const uint32_t matrix[9] = {0x4000, 0xC5DD, 0xFA23, 0x1B36, 0x5B8C, 0x093E, 0xF155, 0xCEAB, 0x4000};
    for (uint32_t n = 0; n < 8; ++n)
        for (uint32_t k = 0; k < 9; ++k)
            EXPECT_EQ(chip.value(0x103502 + (2 * k << 8), 16 * n), matrix[k]) << n << "/" << k;

    std::vector<uint8_t> selector;
    for (const Transfer& t : writesInBank(0x02))
        if (t.addr == 0x7F)
            selector.push_back(t.value);
    EXPECT_EQ(selector, (std::vector<uint8_t>{0x0E, 0x0F, 0x0D, 0x0F, 0x0B, 0x0F, 0x07, 0x0F}));
    EXPECT_EQ(groupValues(), (std::vector<uint8_t>{0x4C, 9, 0x4C, 9}));
}

TEST_F(BringUp, InitialSettingWithoutFullSetUpLeavesClocksAndPllGroupsAlone)
{
    prepareModel();
    c331Chip().clearLog();
    scaler->write_initial_setting(0);
    for (const Transfer& t : c331Chip().log()) {
        EXPECT_NE(t.bank, 0xFF) << t.addr;
        EXPECT_NE(t.bank, 0x01) << t.addr;
        EXPECT_NE(t.bank, 0x02) << t.addr;
    }
    EXPECT_EQ(c331Chip().value(0x161C04), 0x08800000u);
}

TEST_F(BringUp, DividerClassAndDataOrderFollowTheTransmitter)
{
    struct Case {
        int mode, multiplier;
        uint8_t dividerClass, modeValue;
    };
    // reference clock 4 MHz: the ratio is the multiplier (mode 1 doubles it)
    const Case cases[] = {{0, 20, 0x44, 9}, {0, 21, 0x48, 9}, {0, 40, 0x48, 9},
                          {0, 41, 0x4C, 9}, {1, 20, 0x48, 5}, {1, 21, 0x4C, 5}};
    for (const Case& c : cases) {
        scaler->load_system_param();
        scaler->PS_CLOCK[2] = 4000000;
        scaler->PS_PLL_SET1[4] = c.multiplier;
        scaler->PS_VBOTX_MODE = c.mode;
        c331Chip().clearLog();
        scaler->write_initial_setting(1);
        const std::vector<uint8_t> expected{c.dividerClass, c.modeValue, c.dividerClass, c.modeValue};
        EXPECT_EQ(groupValues(), expected) << c.mode << "/" << c.multiplier;
    }
    for (uint32_t d : {0x035504u, 0x035E04u, 0x036204u})
        EXPECT_EQ(c331Chip().value(d), 0x76543210u);
    EXPECT_TRUE(c331Chip().writesTo(0x032C01).empty()) << "mode 1 leaves the mode-0 rows out";

    scaler->PS_VBOTX_MODE = 2;
    scaler->write_initial_setting(0);
    EXPECT_EQ(c331Chip().value(0x035504), 0x00010000u);
    EXPECT_EQ(c331Chip().value(0x035E04), 0x76543210u);
}

TEST(ScalerWorker, ThreadIdentifiesBringsUpAndServesAHandOver)
{
    VyrRamPara::pInstance();
    c331_manage* scaler = c331_manage::pInstance();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (g_fpga_c331_start.load() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(g_fpga_c331_start.load(), 1);

    bool named = false;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        named |= name == "c331_manage";
    }
    EXPECT_TRUE(named);

    {
        ScalerHandOver h;
        h.commit(1);
    }
    uint8_t flag = 1;
    while (flag != 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        pthread_mutex_lock(&scaler->c331_mutex);
        flag = scaler->change_flag;
        pthread_mutex_unlock(&scaler->c331_mutex);
    }
    EXPECT_EQ(flag, 0) << "the worker served the hand-over";

    // Park the worker on the hand-over mutex, so the process can end while it never does.
    pthread_mutex_lock(&scaler->c331_mutex);
    scaler->change_flag = 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}
