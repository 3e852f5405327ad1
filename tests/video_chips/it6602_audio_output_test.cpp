#include "it6602_fixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

// Audio hand-over and the output colour set-up of the IT6602 receivers, observed through the
// simulated receivers' registers and write logs.
namespace {

using namespace it6602_test;

const HdmiTiming P576p50{720, 576, 864, 625, 64, 68, 5, 39, false, false, false, 27000};

class It6602Av : public It6602Fixture {
protected:
    bool audioOutputsOn(int r) { return (chip(r).reg(0, 0x52) & 0x0F) == 0; }
};

struct AudioCase {
    const char* name;
    uint8_t flags;
    bool requested; // the capabilities were taken
    uint8_t mode;   // register 0x54 bits 4-6
    bool pcmPath;   // register 0x7D bit 4 cleared
};

TEST_F(It6602Av, AnnouncedAudioIsSetUpAndSwitchedOnAfterTheReadyWait)
{
    const AudioCase cases[] = {
        {"2-channel PCM", 0x80, true, 0x10, true},
        {"high bit rate", 0xC0, true, 0x00, false},
        {"one-bit audio", 0xA0, true, 0x10, false},
        {"nothing announced", 0x00, false, 0, false},
    };
    int r = 0;
    for (const AudioCase& c : cases) {
        SCOPED_TRACE(c.name);
        chip(r).setHdmiMode(true);
        chip(r).setAudio(c.flags, 2, 0x03);
        chip(r).connect(P1080p60);
        bringUp(r, 1); // sync found, picture not on yet
        EXPECT_FALSE(audioOutputsOn(r));
        EXPECT_EQ(chip(r).reg(0, 0x10) & 0x02, 0x02); // held in reset while off
        chip(r).clearLog();
        run(r, 1); // picture on, audio requested and its capabilities read
        ASSERT_EQ(drv_.get_IT6602_dev_data(r)->videoState, VSTATE_VideoOn);
        if (!c.requested) {
            run(r, 20);
            EXPECT_TRUE(values(r, 0, 0x54).empty());
            EXPECT_FALSE(audioOutputsOn(r));
            ++r;
            continue;
        }
        const auto mode = values(r, 0, 0x54);
        ASSERT_EQ(mode.size(), 1u);
        EXPECT_EQ(mode[0] & 0x70, c.mode);
        const auto dsd = values(r, 0, 0x7D);
        EXPECT_EQ(dsd.size(), c.pcmPath ? 1u : 0u);
        if (!dsd.empty()) {
            EXPECT_EQ(dsd[0] & 0x10, 0);
        }
        EXPECT_EQ(chip(r).reg(0, 0x8C) & 0x03, 0x02); // hardware-mute clear mode, not muted
        EXPECT_EQ(values(r, 0, 0x10).size(), 2u);      // reset pulse: set, then released
        EXPECT_EQ(chip(r).reg(0, 0x10) & 0x02, 0);
        EXPECT_FALSE(audioOutputsOn(r));
        run(r, 2);
        EXPECT_FALSE(audioOutputsOn(r));
        run(r, 1);
        EXPECT_TRUE(audioOutputsOn(r));
        EXPECT_EQ(drv_.get_IT6602_dev_data(r)->audioState, ASTATE_AudioOn);
        ++r;
    }
}

TEST_F(It6602Av, ChangedCapabilitiesRequestTheAudioAgainAndLossSwitchesItOff)
{
    chip(1).setHdmiMode(true);
    chip(1).setAudio(0x80, 2, 0x03);
    chip(1).connect(P1080p60);
    bringUp(1, 7);
    ASSERT_TRUE(audioOutputsOn(1));
    chip(1).clearLog();
    run(1, 10); // unchanged: read again, nothing written
    EXPECT_TRUE(values(1, 0, 0x54).empty());
    EXPECT_TRUE(audioOutputsOn(1));
    chip(1).setAudio(0x80, 2, 0x02); // another sample rate
    run(1, 3);
    EXPECT_EQ(values(1, 0, 0x54).size(), 1u);
    run(1, 3);
    EXPECT_TRUE(audioOutputsOn(1));

    // a mode change on the unselected port 1 is not the picture's
    chip(1).clearLog();
    chip(1).poke(0, 0x06, 0x20);
    run(1, 3);
    EXPECT_TRUE(values(1, 0, 0x54).empty());
    EXPECT_TRUE(values(1, 0, 0x65).empty());
    EXPECT_TRUE(audioOutputsOn(1));

    // the source turns DVI: audio off and the output set up for RGB again
    chip(1).clearLog();
    chip(1).setHdmiMode(false);
    run(1, 1);
    EXPECT_FALSE(audioOutputsOn(1));
    EXPECT_EQ(chip(1).reg(0, 0x10) & 0x02, 0x02);
    EXPECT_FALSE(values(1, 0, 0x65).empty());

    // pulled: audio stays off
    chip(1).setHdmiMode(true);
    run(1, 8);
    ASSERT_TRUE(audioOutputsOn(1));
    chip(1).disconnect();
    run(1, 2);
    EXPECT_FALSE(audioOutputsOn(1));
    EXPECT_EQ(drv_.get_IT6602_dev_data(1)->audioState, ASTATE_AudioOff);
}

// ---- colour set-up ---------------------------------------------------------------------------

// Applies the converter as loaded at bank 1 0x70-0x84: three signed offsets, nine coefficients
// with 10 fractional bits; chroma centred on 0 on the YUV side.
std::vector<double> convert(const uint8_t* m, bool inYuv, bool outYuv, const std::vector<double>& in)
{
    std::vector<double> out(3);
    for (int i = 0; i < 3; ++i) {
        double v = int8_t(m[i]);
        for (int j = 0; j < 3; ++j) {
            const double c = int16_t(uint16_t(m[3 + 2 * (3 * i + j)] | (m[4 + 2 * (3 * i + j)] << 8))) / 1024.0;
            v += c * (in[size_t(j)] - (inYuv && j > 0 ? 128.0 : 0.0));
        }
        out[size_t(i)] = v + (outYuv && i > 0 ? 128.0 : 0.0);
    }
    return out;
}

struct Bar {
    std::vector<double> in, out;
};

// 100 % colour bars in limited-range YUV (Y, Cb, Cr) and the RGB they stand for
const std::vector<Bar> Bars709 = {{{235, 128, 128}, {255, 255, 255}}, {{16, 128, 128}, {0, 0, 0}},
                                  {{63, 102, 240}, {255, 0, 0}},      {{173, 42, 26}, {0, 255, 0}},
                                  {{32, 240, 118}, {0, 0, 255}}};
const std::vector<Bar> Bars601 = {{{235, 128, 128}, {255, 255, 255}}, {{16, 128, 128}, {0, 0, 0}},
                                  {{81, 90, 240}, {255, 0, 0}},       {{145, 54, 34}, {0, 255, 0}},
                                  {{41, 240, 110}, {0, 0, 255}}};
// RGB range expansion 16-235 -> 0-255
const std::vector<Bar> Expand = {{{16, 16, 16}, {0, 0, 0}}, {{235, 235, 235}, {255, 255, 255}}, {{235, 16, 126}, {255, 0, 128}}};

std::vector<Bar> swapped(const std::vector<Bar>& bars)
{
    std::vector<Bar> out;
    for (const Bar& b : bars)
        out.push_back({b.out, b.in});
    return out;
}
std::vector<Bar> limitedRgb(const std::vector<Bar>& bars) // RGB side scaled to 16-235
{
    std::vector<Bar> out = bars;
    for (Bar& b : out)
        for (double& v : b.out)
            v = 16 + v * 219.0 / 255.0;
    return out;
}

struct ColourCase {
    const char* name;
    bool hdmi;
    uint8_t pb[4]; // AVI data bytes 1-4
    uint8_t config;
    bool tall; // 1080 lines, else 576
    const std::vector<Bar>* bars; // nullptr: converter bypassed
    bool limitedOut, inYuv, outYuv;
    uint8_t inFormat; // register 0x51 bits 4-5
};

TEST_F(It6602Av, ColourConverterFollowsTheAviInformationAndTheOutputConfiguration)
{
    const std::vector<Bar> bars709To601Rgb = swapped(Bars709), barsLimitedRgbTo709 = swapped(limitedRgb(Bars709));
    const std::vector<Bar> bars709Limited = limitedRgb(Bars709), compress = swapped(Expand);
    const ColourCase cases[] = {
        {"DVI", false, {}, 0, true, nullptr, false, false, false, 0},
        {"YUV 4:4:4 BT.709", true, {0x40, 0x80, 0, 16}, 0, true, &Bars709, false, true, false, 2},
        {"YUV 4:2:2 BT.601", true, {0x20, 0x40, 0, 16}, 0, true, &Bars601, false, true, false, 1},
        {"YUV without colorimetry, HD", true, {0x40, 0x00, 0, 16}, 0, true, &Bars709, false, true, false, 2},
        {"YUV without colorimetry, SD", true, {0x40, 0x00, 0, 17}, 0, false, &Bars601, false, true, false, 2},
        {"xvYCC601", true, {0x40, 0xC0, 0x00, 16}, 0, true, &Bars601, false, true, false, 2},
        {"xvYCC709", true, {0x40, 0xC0, 0x10, 16}, 0, true, &Bars709, false, true, false, 2},
        {"RGB limited by quantisation", true, {0x00, 0, 0x04, 0}, 0, true, &Expand, false, false, false, 0},
        {"RGB of a numbered format, default range", true, {0x00, 0, 0x00, 16}, 0, true, &Expand, false, false, false, 0},
        {"RGB of an IT format, default range", true, {0x00, 0, 0x00, 0}, 0, true, nullptr, false, false, false, 0},
        {"RGB full", true, {0x00, 0, 0x08, 16}, 0, true, nullptr, false, false, false, 0},
        {"YUV to limited RGB", true, {0x40, 0x80, 0, 16}, VOC_Limited, true, &bars709Limited, true, true, false, 2},
        {"full RGB to limited RGB", false, {}, VOC_Limited, true, &compress, true, false, false, 0},
        {"full RGB to YUV 4:4:4, HD", false, {}, VOC_YUV444, true, &bars709To601Rgb, false, false, true, 0},
        {"limited RGB to YUV 4:2:2", true, {0x00, 0x80, 0x04, 16}, VOC_YUV422, true, &barsLimitedRgbTo709, false, false,
         true, 0},
        {"YUV to YUV", true, {0x40, 0x80, 0, 16}, VOC_YUV444, true, nullptr, false, true, true, 2},
    };
    int r = 0;
    for (const ColourCase& c : cases) {
        SCOPED_TRACE(c.name);
        chip(r).setHdmiMode(c.hdmi);
        if (c.hdmi)
            chip(r).setAvi(c.pb[0], c.pb[1], c.pb[2], c.pb[3]);
        chip(r).connect(c.tall ? P1080p60 : P576p50);
        select(r);
        ASSERT_EQ(drv_.IT6602_fsm_init(fd_, r), 1);
        drv_.IT6602_fsm_init_1(fd_, r);
        drv_.get_IT6602_dev_data(r)->outputConfig = c.config;
        chip(r).clearLog();
        run(r, 4);
        ASSERT_EQ(drv_.get_IT6602_dev_data(r)->videoState, VSTATE_VideoOn);
        const bool loaded = !chip(r).writesTo(1, 0x70).empty();
        EXPECT_EQ(loaded, c.bars != nullptr);
        const uint8_t mode = chip(r).reg(0, 0x65);
        const uint8_t wantMode = !c.bars ? 0 : c.inYuv ? 0x20 : c.outYuv ? 0x10 : 0x30;
        EXPECT_EQ(mode & 0x30, wantMode);
        const uint8_t format = c.config & VOC_Format;
        EXPECT_EQ(mode & 0x03, format == VOC_RGB444 ? 0 : format == VOC_YUV444 ? 2 : 1);
        EXPECT_EQ((chip(r).reg(0, 0x51) >> 4) & 3, c.inFormat);
        EXPECT_EQ(chip(r).reg(0, 0x51) & 0x01, 0); // port 0 stays selected
        if (c.bars && loaded) {
            uint8_t m[21];
            for (int i = 0; i < 21; ++i)
                m[i] = chip(r).reg(1, uint8_t(0x70 + i));
            for (const Bar& b : *c.bars) {
                const auto out = convert(m, c.inYuv, c.outYuv, b.in);
                for (int i = 0; i < 3; ++i)
                    EXPECT_NEAR(out[size_t(i)], b.out[size_t(i)], 2.0)
                        << "channel " << i << " of " << b.in[0] << "," << b.in[1] << "," << b.in[2];
            }
        }
        r = (r + 1) % 4;
        if (r == 0)
            i2cBoard().reset();
        pathOn(true);
    }
}

TEST_F(It6602Av, NewAviInformationReconfiguresALivePictureAndKeepsThePortSelection)
{
    chip(2).setHdmiMode(true);
    chip(2).setAvi(0x00, 0x00, 0x08, 16); // full-range RGB: nothing to convert
    chip(2).connect(P1080p60);
    bringUp(2, 4);
    ASSERT_TRUE(chip(2).writesTo(1, 0x70).empty());
    drv_.IT6602PortSelect(fd_, 2, 1);
    chip(2).clearLog();
    chip(2).setAvi(0x40, 0x80, 0x00, 16); // now YUV 4:4:4 BT.709
    run(2, 2);
    EXPECT_EQ(chip(2).writesTo(1, 0x70).size(), 1u);
    EXPECT_EQ(chip(2).reg(0, 0x65) & 0x30, 0x20);
    EXPECT_EQ(chip(2).reg(0, 0x51) & 0x31, 0x21); // YUV 4:4:4 in, port 1 still selected
    EXPECT_EQ(chip(2).reg(1, 0x8D) | chip(2).reg(1, 0x8E), 0);
    // the same information again is no change
    chip(2).clearLog();
    chip(2).poke(0, 0x09, 0x01);
    run(2, 2);
    EXPECT_TRUE(chip(2).writesTo(1, 0x70).empty());
    EXPECT_TRUE(i2cBoard().violations().empty());
}

TEST_F(It6602Av, SourceMuteHoldsThePictureMutedUntilReleased)
{
    chip(0).connect(P1080p60);
    bringUp(0, 4);
    chip(0).poke(0, 0x07, 0x10); // mute on
    run(0, 3);
    EXPECT_EQ(chip(0).reg(0, 0x53) & 0x80, 0x80);
    chip(0).poke(0, 0x07, 0x20); // mute off
    run(0, 1);
    EXPECT_EQ(chip(0).reg(0, 0x53) & 0x80, 0);
    // a mute left set with no request from the source is released by the video handler
    chip(0).poke(0, 0x53, uint8_t(chip(0).reg(0, 0x53) | 0x80));
    run(0, 1);
    EXPECT_EQ(chip(0).reg(0, 0x53) & 0x80, 0);
    // both latched in one pass: off is handled first, so the picture ends muted
    chip(0).poke(0, 0x07, 0x30);
    run(0, 2);
    EXPECT_EQ(chip(0).reg(0, 0x53) & 0x80, 0x80);
}

}
