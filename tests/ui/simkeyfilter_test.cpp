// The simulated board's desktop keys arrive as the panel's key codes.
#include "ui/panelkeys.h"
#include "ui/simkeyfilter.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

namespace {
class KeyRecorder : public QWidget {
public:
    std::vector<std::pair<QEvent::Type, int>> keys;

protected:
    void keyPressEvent(QKeyEvent* e) override { keys.push_back({QEvent::KeyPress, e->key()}); }
    void keyReleaseEvent(QKeyEvent* e) override { keys.push_back({QEvent::KeyRelease, e->key()}); }
};
}

TEST(SimKeyFilter, MapsTheFiveDesktopKeysAndNothingElse)
{
    EXPECT_EQ(SimKeyFilter::panelKey(Qt::Key_Return), PanelKey::OK);
    EXPECT_EQ(SimKeyFilter::panelKey(Qt::Key_Enter), PanelKey::OK);
    EXPECT_EQ(SimKeyFilter::panelKey(Qt::Key_Left), PanelKey::Left);
    EXPECT_EQ(SimKeyFilter::panelKey(Qt::Key_Right), PanelKey::Right);
    EXPECT_EQ(SimKeyFilter::panelKey(Qt::Key_M), PanelKey::Mode);
    EXPECT_EQ(SimKeyFilter::panelKey(Qt::Key_Escape), PanelKey::Back);
    EXPECT_EQ(SimKeyFilter::panelKey(Qt::Key_Backspace), PanelKey::Back);
    for (int other : {int(Qt::Key_Up), int(Qt::Key_Down), int(Qt::Key_Space), int(Qt::Key_N), PanelKey::OK, PanelKey::Back})
        EXPECT_EQ(SimKeyFilter::panelKey(other), 0) << other;
}

TEST(SimKeyFilter, WidgetsReceiveThePanelCodesOnPressAndRelease)
{
    SimKeyFilter filter;
    qApp->installEventFilter(&filter);
    KeyRecorder widget;
    for (int key : {int(Qt::Key_Escape), int(Qt::Key_M), int(Qt::Key_Up)}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
        QApplication::sendEvent(&widget, &press);
        QApplication::sendEvent(&widget, &release);
    }
    qApp->removeEventFilter(&filter);
    const std::vector<std::pair<QEvent::Type, int>> expected = {
        {QEvent::KeyPress, PanelKey::Back}, {QEvent::KeyRelease, PanelKey::Back},
        {QEvent::KeyPress, PanelKey::Mode}, {QEvent::KeyRelease, PanelKey::Mode},
        {QEvent::KeyPress, Qt::Key_Up},     {QEvent::KeyRelease, Qt::Key_Up},
    };
    EXPECT_EQ(widget.keys, expected);
}
