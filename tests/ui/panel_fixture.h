#pragma once
#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <map>
#include <gtest/gtest.h>
#include <string>
#include <vector>

class QWidget;
class VyrPage;
class VyrRamPara;

// The front panel as main starts it (root menu, home screen on top, queued refresh slot) on the
// offscreen platform, with the parameter store and the scaler's hand-over point without its worker.
class PanelTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    VyrRamPara* store = nullptr;
};

// Keys and checks played from a timer, so that they go on inside the modal loops of the pages.
// Keys go to the active window, as the panel's keys do.
class Script {
public:
    Script& key(int code);
    Script& keys(std::initializer_list<int> codes);
    // The focus on the entry of the menu on top whose object name is `entry`, taken with the right
    // key as a person would: the script waits for a menu with that entry, and fails when a round of
    // the menu never focuses it. Tests reach pages by entry, so a new entry shifts none of them.
    Script& focus(const char* entry);
    Script& choose(const char* entry); // focus(entry), then OK
    Script& until(std::function<bool()> condition, const std::string& what);
    Script& act(std::function<void()> action);
    // Plays the steps; false (with a test failure) when a check did not hold within timeoutMs
    // (scaled by TimeLimit).
    // Modal pages still open at the end are closed, so every loop returns.
    bool run(int timeoutMs = 5000);

private:
    struct Step {
        std::function<bool()> run;
        std::string what;
    };
    std::vector<Step> steps_;
    std::string broken_; // set by a step that can never happen
};

namespace Panel {
void pump(int ms = 0);                 // runs the event loop for a while
bool waitFor(const std::function<bool()>& condition, int timeoutMs = 3000); // limit scaled by TimeLimit
void tick(int count);                  // the 10 ms tick, count times
void refresh(int code = 1);            // a scaler pass's signal, then the queued refresh
void openLater(VyrPage* (*make)());    // opens a page modally from a queued call
void closeModalPages();
void shot(QWidget* widget, const QString& name); // <build>/screenshots/<name>.png
// One line per visible text of the window whose font is below 10 px or that does not fit its
// label or button (word-wrapped labels measured with their wrap).
QStringList misfits(QWidget* window, const QString& where);
// One line per visible text of the window whose colour contrasts less than 4.5:1 with what it is
// drawn on (measured on a picture of the window taken without that text).
QStringList lowContrast(QWidget* window, const QString& where);
// The colour most pixels of the area have (the lowest of equals); the image is Format_RGB32.
QRgb commonestColour(const QImage& image, const QRect& area);
// The colour counted most often (the lowest of equals); 0 for no count.
QRgb commonestOf(const std::map<QRgb, int>& count);
}

// A keypad that answers from `answers` in order in place of a page's number keypad hook
// (Page::askNumber); each question is recorded in `asked` as "title value min-max".
template <typename Page>
struct FakeNumberKeypad {
    std::deque<std::pair<bool, int>> answers;
    QStringList asked;
    FakeNumberKeypad()
    {
        Page::askNumber = [this](const QString& title, const QString& value, int min, int max, int* out) {
            asked << QStringLiteral("%1 %2 %3-%4").arg(title, value).arg(min).arg(max);
            if (answers.empty())
                return false;
            const auto a = answers.front();
            answers.pop_front();
            *out = a.second;
            return a.first;
        };
    }
    ~FakeNumberKeypad() { Page::askNumber = nullptr; }
};
