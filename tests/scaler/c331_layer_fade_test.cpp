// Layers and fades: the members of each layer group in layer order, the blending coefficients,
// the ramp of a fade step by step, and its bounds.
#include "scaler_fixture.h"

#include <array>
#include <chrono>

using namespace scaler_test;

namespace {

// Coefficient j of layer mask k in group g.
uint32_t coef(int g, int k, int j) { return c331Chip().value(0x0E1101 + (uint32_t(5 * k + j) << 8), uint32_t(16 * g)); }

class LayerTest : public ScalerFixture {
protected:
    void SetUp() override
    {
        ScalerFixture::SetUp();
        bringUp();
        settle();
        // Output channels 0-2 show windows 0-2; windows 1 and 2 lie over window 0 in group 1,
        // channel 3 shows window 3 alone in group 2.
        const int winNum[8] = {0, 1, 2, 3, 6, 6, 6, 6};
        const int overlay[8] = {2, 2, 2, 3, 0, 0, 0, 0}; // group g is value g + 1
        for (int o = 0; o < 8; ++o) {
            scaler->PM_WIN_NUM[o] = winNum[o];
            scaler->PM_AREA_NUM[o] = 0;
            scaler->PM_OVERLAY[o] = overlay[o];
        }
        scaler->wincnt = 4;
        for (int w = 0; w < 4; ++w)
            scaler->winState.recordSlot[w] = w;
    }

    void priorities(std::initializer_list<int> pri)
    {
        int w = 0;
        for (int p : pri)
            scaler->gWininfo[w++].pri = uint8_t(p);
    }

    // Members of group g as the chip holds them, lowest layer first.
    std::vector<int> members(int g)
    {
        const uint32_t v = c331Chip().value(0x0E0904, uint32_t(16 * g));
        std::vector<int> out;
        for (int i = 0; i < 8 && (v >> (4 * i)) & 0xF; ++i)
            out.push_back(int((v >> (4 * i)) & 0xF) - 8);
        return out;
    }

    size_t rampSteps() const
    {
        size_t n = 0;
        for (const auto& t : c331Chip().writesTo(0x002201))
            n += t.value == 255;
        return n;
    }
};

}

// Priority 0 is the top: the group lists its members from the lowest layer up.
TEST_F(LayerTest, GroupsListTheirMembersByLayer)
{
    struct Case {
        std::vector<int> pri;
        std::vector<int> group1;
    };
    const Case cases[] = {
        {{0, 1, 2, 3}, {2, 1, 0}},
        {{5, 4, 3, 2}, {0, 1, 2}},
        {{2, 0, 1, 3}, {0, 2, 1}},
    };
    for (const Case& c : cases) {
        priorities({c.pri[0], c.pri[1], c.pri[2], c.pri[3]});
        scaler->c331_SetWinPriority1(scaler->c331_fd);
        EXPECT_EQ(members(1), c.group1);
        EXPECT_EQ(members(2), std::vector<int>{3});
        EXPECT_EQ(members(0), std::vector<int>{});
        // only the top layer of a mask is seen; an empty group mixes nothing
        EXPECT_EQ(coef(1, 0, 0), 128u);
        EXPECT_EQ(coef(1, 7, 3), 128u);
        EXPECT_EQ(coef(1, 7, 2), 0u);
        EXPECT_EQ(coef(1, 5, 3), 128u);
        EXPECT_EQ(coef(0, 7, 3), 0u);
        EXPECT_EQ(c331Chip().value(0x0E0F02, 16), 0u);
    }
}

// A priority outside 0-5 is taken modulo 6; a window put on another's layer keeps it and the
// other moves to the lowest free layer, so no two windows share one.
TEST_F(LayerTest, SetPriorityKeepsLayersDistinct)
{
    priorities({0, 1, 2, 3});
    scaler->c331_SetWinPriority(2, 7); // 7 -> 1, taken by window 1
    scaler->c331_SetWinPriority1(scaler->c331_fd);
    // priorities now 0, 2, 1, 3: window 1 moved to 2, the lowest one free
    EXPECT_EQ(members(1), (std::vector<int>{1, 2, 0}));
    // out-of-table windows and negative priorities change nothing or clamp
    scaler->c331_SetWinPriority(6, 3);
    scaler->c331_SetWinPriority(-1, 3);
    scaler->c331_SetWinPriority1(scaler->c331_fd);
    EXPECT_EQ(members(1), (std::vector<int>{1, 2, 0}));
}

// A record that was not packed into a slot has no window; the record behind a gap reaches the
// slot it was packed into.
TEST_F(LayerTest, PriorityOfARecordReachesItsSlot)
{
    priorities({0, 1, 2, 3});
    for (int r = 0; r < 6; ++r)
        scaler->winState.recordSlot[r] = -1;
    scaler->winState.recordSlot[1] = 0; // records 1, 3, 4, 5 shown in slots 0-3
    scaler->winState.recordSlot[3] = 1;
    scaler->winState.recordSlot[4] = 2;
    scaler->winState.recordSlot[5] = 3;
    scaler->c331_SetWinPriority(0, 5); // record 0 is off: nothing
    scaler->c331_SetWinPriority1(scaler->c331_fd);
    EXPECT_EQ(members(1), (std::vector<int>{2, 1, 0}));
    scaler->c331_SetWinPriority(4, 0); // record 4 is slot 2: on top; slots 0 and 1 move down
    scaler->c331_SetWinPriority1(scaler->c331_fd);
    EXPECT_EQ(members(1), (std::vector<int>{1, 0, 2}));
}

// Fade out of window 1 (second layer of group 1) over 60 steps: 61 ramp steps, each ending in one
// output-frame wait; the window's weight falls 128 -> 0 while the layer below rises. The first
// step's full weight is already in the register and does not go out again.
TEST_F(LayerTest, FadeRampsTheWindowsWeightStepByStep)
{
    priorities({0, 1, 2, 3});
    scaler->c331_SetWinPriority1(scaler->c331_fd); // group 1: 2, 1, 0 -> window 1 at position 1
    c331Chip().clearLog();
    scaler->set_layer_coef(scaler->c331_fd, 1, 60, 0);
    EXPECT_EQ(rampSteps(), 61u);
    size_t frameWaits = 0;
    for (const auto& t : c331Chip().writesTo(0x050901))
        frameWaits += t.value == 1;
    EXPECT_EQ(frameWaits, 61u);
    // window 1's weight is layer 1's coefficient in masks 2 and 3; what shows through is below it
    std::vector<uint32_t> weights;
    for (const auto& t : c331Chip().writesTo(0x0E1101 + (uint32_t(5 * 2 + 2) << 8), 16))
        weights.push_back(t.value);
    ASSERT_EQ(weights.size(), 60u);
    EXPECT_EQ(weights.front(), 126u);
    EXPECT_EQ(weights[29], 64u);
    EXPECT_EQ(weights.back(), 0u);
    EXPECT_TRUE(std::is_sorted(weights.rbegin(), weights.rend()));
    EXPECT_EQ(coef(1, 2, 0), 128u) << "mask 2: the background shows through";
    EXPECT_EQ(coef(1, 3, 1), 128u) << "mask 3: layer 0 shows through";
    EXPECT_EQ(c331Chip().value(0x002201), 0xA9u);
    EXPECT_EQ(c331Chip().value(0x002301), 0xCBu);
    // fade in ends at full weight
    scaler->set_layer_coef(scaler->c331_fd, 1, 4, 1);
    EXPECT_EQ(coef(1, 2, 2), 128u);
    EXPECT_EQ(coef(1, 2, 0), 0u);
    // a zero-length fade is one step straight to the end, a negative one nothing
    c331Chip().clearLog();
    scaler->set_layer_coef(scaler->c331_fd, 1, 0, 0);
    EXPECT_EQ(rampSteps(), 1u);
    EXPECT_EQ(coef(1, 2, 2), 0u);
    scaler->set_layer_coef(scaler->c331_fd, 1, -1, 1);
    scaler->set_layer_coef(scaler->c331_fd, 7, 5, 1);
    EXPECT_EQ(rampSteps(), 1u);
}

// Fade lengths are block values up to 65,535; the ramp is clamped, and without output frames it
// goes to its end at once instead of waiting out every step.
TEST_F(LayerTest, FadeLengthIsBoundedAndEndsWithoutOutputFrames)
{
    priorities({0, 1, 2, 3});
    scaler->c331_SetWinPriority1(scaler->c331_fd);
    c331Chip().clearLog();
    scaler->set_layer_coef(scaler->c331_fd, 0, 65535, 1);
    EXPECT_EQ(rampSteps(), size_t(c331_manage::kMaxFadeSteps) + 1);

    c331Chip().setOutputFrameStalled(true);
    c331Chip().clearLog();
    const auto start = std::chrono::steady_clock::now();
    scaler->set_layer_coef(scaler->c331_fd, 0, 60, 0);
    const auto took = std::chrono::steady_clock::now() - start;
    c331Chip().setOutputFrameStalled(false);
    EXPECT_EQ(rampSteps(), 2u) << "first step, then the end";
    EXPECT_EQ(coef(1, 4, 3), 0u) << "window 0 (top of group 1) faded out";
    EXPECT_LT(took, TimeLimit::of(5000));
}

namespace {

// Six windows stacked in group 0, window p at position p (0 = lowest layer): a fade step of window
// p writes the position code (0E:0F) and, for every layer mask whose top layer is min(p, 3), the
// window's weight into its own coefficient and the other weight into the coefficient of the layer
// below it in the mask (0 the background).
struct FadePosition {
    int position;
    uint16_t code;
    std::vector<std::array<int, 3>> masks; // mask, coefficient of the window, coefficient shown through
};

const FadePosition kFadePositions[] = {
    {0, 0, {{1, 1, 0}}},
    {1, 0, {{2, 2, 0}, {3, 2, 1}}},
    {2, 0, {{4, 3, 0}, {5, 3, 1}, {6, 3, 2}, {7, 3, 2}}},
    {3, 0, {{8, 4, 0}, {9, 4, 1}, {10, 4, 2}, {11, 4, 2}, {12, 4, 3}, {13, 4, 3}, {14, 4, 3}, {15, 4, 3}}},
    {4, 0x100, {{8, 4, 0}, {9, 4, 1}, {10, 4, 2}, {11, 4, 2}, {12, 4, 3}, {13, 4, 3}, {14, 4, 3}, {15, 4, 3}}},
    {5, 0x200, {{8, 4, 0}, {9, 4, 1}, {10, 4, 2}, {11, 4, 2}, {12, 4, 3}, {13, 4, 3}, {14, 4, 3}, {15, 4, 3}}},
};

void PrintTo(const FadePosition& f, std::ostream* os) { *os << "position " << f.position; }

class LayerFadePosition : public ScalerFixture, public ::testing::WithParamInterface<FadePosition> {};

}

TEST_P(LayerFadePosition, StepWritesThePositionCodeAndTheMasksCoefficients)
{
    const FadePosition& f = GetParam();
    bringUp();
    settle();
    for (int o = 0; o < 8; ++o) {
        scaler->PM_WIN_NUM[o] = o < 6 ? o : 6;
        scaler->PM_OVERLAY[o] = o < 6 ? 1 : 0;
    }
    scaler->wincnt = 6;
    for (int w = 0; w < 6; ++w)
        scaler->gWininfo[w].pri = uint8_t(5 - w);
    scaler->c331_SetWinPriority1(scaler->c331_fd);
    c331Chip().clearLog();
    scaler->drv->init_reg_acc_param(); // every write of the step reaches the bus, even a repeated value
    scaler->set_layer_coef(scaler->c331_fd, f.position, 0, 1); // one step: weight 128, 0 through
    std::vector<std::pair<int, int>> expected = {{0x0F, f.code & 0xFF}, {0x10, f.code >> 8}};
    for (const auto& m : f.masks) {
        expected.push_back({0x11 + 5 * m[0] + m[1], 128});
        expected.push_back({0x11 + 5 * m[0] + m[2], 0});
    }
    std::vector<std::pair<int, int>> got;
    for (const auto& t : c331Chip().log())
        if (t.kind == platform::Sim::C331Chip::Transfer::Write && t.bank == 0x0E && t.addr != 0)
            got.push_back({t.addr, t.value});
    EXPECT_EQ(got, expected);
}

INSTANTIATE_TEST_SUITE_P(Positions, LayerFadePosition, ::testing::ValuesIn(kFadePositions),
                         [](const ::testing::TestParamInfo<FadePosition>& info) {
                             return "Position" + std::to_string(info.param.position);
                         });
