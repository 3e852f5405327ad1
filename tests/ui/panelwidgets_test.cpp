// The contrast ratio the panel picks text colours by, against published WCAG 2 values, and the
// text colour it picks on each box colour the pages use.
#include "ui/panelwidgets.h"

#include <gtest/gtest.h>

TEST(PanelWidgets, ContrastRatiosAndTheTextColourPickedForEachBox)
{
    const struct {
        QRgb a, b;
        double ratio;
    } pairs[] = {
        {0x000000, 0xFFFFFF, 21.0}, {0xFFFFFF, 0x000000, 21.0}, {0x767676, 0xFFFFFF, 4.54},
        {0x777777, 0xFFFFFF, 4.48}, {0xFF0000, 0xFFFFFF, 4.00}, {0x0000FF, 0xFFFFFF, 8.59}, {0x123456, 0x123456, 1.0},
    };
    for (const auto& p : pairs)
        EXPECT_NEAR(PanelWidgets::contrast(QColor(p.a), QColor(p.b)), p.ratio, 0.01) << std::hex << p.a << " " << p.b;

    const QRgb white = 0xFFFFFF, dark = 0x10101C;
    const struct {
        QRgb box, text;
    } boxes[] = {
        {0x867AE9, dark},  {0x005A8D, white}, {0x39A9CB, dark}, {0xEBA83A, dark}, {0xFF96AD, dark},
        {0xD5E5FF, dark},  {0xFC5404, dark},  {0x4777FF, dark}, {0x00D65B, dark}, {0x212435, white},
        {0x000000, white}, {0xFFFFFF, dark},
    };
    for (const auto& b : boxes) {
        const QColor text = PanelWidgets::textColourOn(QColor(b.box));
        EXPECT_EQ(text.rgb() & 0xFFFFFF, b.text) << std::hex << b.box;
        EXPECT_GE(PanelWidgets::contrast(text, QColor(b.box)), 4.5) << std::hex << b.box;
    }
}

// The shared colours read with what they carry or stand on; the boxes take white text.
TEST(PanelWidgets, SharedColoursReadWithTheirText)
{
    using namespace PanelWidgets;
    const QColor white(0xFFFFFF), frame(0x212435), page(0x10101C);
    const struct {
        QColor ink, ground;
    } uses[] = {{white, kHighlight}, {white, kUnavailable}, {white, kWarningBox}, {kWarning, frame}, {kWarning, page}};
    for (const auto& u : uses)
        EXPECT_GE(contrast(u.ink, u.ground), 4.5) << qPrintable(u.ink.name()) << " on " << qPrintable(u.ground.name());
    for (const QColor& box : {kHighlight, kUnavailable, kWarningBox})
        EXPECT_EQ(textColourOn(box), white) << qPrintable(box.name());
}
