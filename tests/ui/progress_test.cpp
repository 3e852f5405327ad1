// The round progress bar: range and value rules, its text and arc, one bar at a time, closing at
// 100, and progress from a worker thread reaching only a bar that is still there.
#include "panel_fixture.h"

#include "ui/qroundprogressbar.h"

#include <QDialog>
#include <QImage>
#include <QPainter>
#include <memory>
#include <thread>

namespace {
// What a job's queued progress signal does: a call of the bar's slot posted from the worker.
void report(QRoundProgressBar* bar, int percent)
{
    QMetaObject::invokeMethod(bar, "para_sync", Qt::QueuedConnection, Q_ARG(int, percent));
}

QColor pixel(QWidget* w, int x, int y) { return w->grab().toImage().pixelColor(x, y); }
}

TEST(RoundProgress, ValuesRangesAndText)
{
    QRoundProgressBar bar(nullptr, QRoundProgressBar::StyleDonut);
    struct Case {
        double value;
        double shown;
        const char* text;
        double arc;
    } cases[] = {
        {0, 0, "0%", 0}, {42, 42, "42%", 151.2}, {99, 99, "99%", 356.4}, {150, 100, "100%", 360}, {-5, 0, "0%", 0},
    };
    for (const Case& c : cases) {
        bar.setValue(c.value);
        EXPECT_DOUBLE_EQ(bar.value(), c.shown) << c.value;
        EXPECT_EQ(bar.valueText(), QLatin1String(c.text)) << c.value;
        EXPECT_NEAR(bar.arcDegrees(), c.arc, 1e-9) << c.value;
    }
    bar.setDecimals(2);
    bar.setValue(33);
    EXPECT_EQ(bar.valueText(), QStringLiteral("33.00%"));
    bar.setDecimals(-1); // ignored
    EXPECT_EQ(bar.valueText(), QStringLiteral("33.00%"));
    bar.setRange(200, 100); // bounds in either order; the value pulled in
    EXPECT_DOUBLE_EQ(bar.minimum(), 100);
    EXPECT_DOUBLE_EQ(bar.maximum(), 200);
    EXPECT_DOUBLE_EQ(bar.value(), 100);
    EXPECT_EQ(bar.valueText(), QStringLiteral("0.00%"));
    bar.setValue(150.0);
    EXPECT_EQ(bar.valueText(), QStringLiteral("50.00%"));
    EXPECT_DOUBLE_EQ(bar.arcDegrees(), 180);
    bar.setMaximum(100); // equal bounds: no division by zero
    EXPECT_EQ(bar.valueText(), QStringLiteral("0.00%"));
    EXPECT_DOUBLE_EQ(bar.arcDegrees(), 0);
}

TEST(RoundProgress, RingDiscAndArcArePainted)
{
    QDialog page;
    page.resize(320, 240);
    QRoundProgressBar::create_qround_bar(&page);
    ASSERT_TRUE(g_qround_bar);
    QRoundProgressBar* bar = g_qround_bar;
    EXPECT_EQ(bar->geometry(), QRect(120, 70, 100, 100));
    // Empty: grey ring at the top, white disc inside.
    EXPECT_EQ(pixel(bar, 50, 5), QColor(QStringLiteral("#DEE3E7")));
    EXPECT_EQ(pixel(bar, 50, 25), QColor(Qt::white));
    bar->para_sync(30); // a quarter and more: the ring's right point (3 o'clock) is blue, the left grey
    EXPECT_EQ(pixel(bar, 95, 50), QColor(QStringLiteral("#2F8DED")));
    EXPECT_EQ(pixel(bar, 5, 50), QColor(QStringLiteral("#DEE3E7")));
    bar->grab().save(QStringLiteral(VYR_BINARY_DIR "/screenshots/progress_30.png"));
    g_qround_bar = nullptr;
}

TEST(RoundProgress, OneBarAtATimeAndHundredClosesIt)
{
    QDialog page;
    page.show();
    QRoundProgressBar::create_qround_bar(&page);
    QRoundProgressBar* first = g_qround_bar;
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    QRoundProgressBar::create_qround_bar(&page);
    EXPECT_EQ(g_qround_bar.data(), first);
    EXPECT_EQ(page.findChildren<QRoundProgressBar*>().size(), 1);
    first->para_sync(99);
    EXPECT_EQ(first->valueText(), QStringLiteral("99%"));
    EXPECT_TRUE(first->isVisible());
    first->para_sync(100);
    EXPECT_FALSE(first->isVisible());
    EXPECT_FALSE(g_qround_bar);
    first->para_sync(50); // a closed bar takes no more progress
    EXPECT_EQ(first->valueText(), QStringLiteral("99%"));
    QRoundProgressBar::create_qround_bar(&page);
    EXPECT_NE(g_qround_bar.data(), nullptr);
    QRoundProgressBar::del_qround_bar();
    EXPECT_FALSE(g_qround_bar);
}

TEST(RoundProgress, ProgressFromAWorkerReachesTheBarAndNothingAfterItsPageWent)
{
    auto page = std::make_unique<QDialog>();
    page->show();
    QRoundProgressBar::create_qround_bar(page.get());
    QRoundProgressBar* bar = g_qround_bar;
    std::thread([&] { report(bar, 64); }).join();
    ASSERT_TRUE(Panel::waitFor([] { return g_qround_bar && g_qround_bar->value() == 64; }));
    EXPECT_EQ(g_qround_bar->valueText(), QStringLiteral("64%"));
    // The page goes (MODE) while the job still runs: the pointer follows and late progress is dropped.
    std::thread([&] { report(bar, 80); }).join();
    page.reset();
    EXPECT_FALSE(g_qround_bar);
    Panel::pump(20);
    EXPECT_FALSE(g_qround_bar);
}
