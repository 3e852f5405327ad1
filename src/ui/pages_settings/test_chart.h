#pragma once
#include "ui/vyrpage.h"

#include <QPixmap>
#include <QPointer>
#include <cstdint>

class QFrame;
class QLabel;
class QPushButton;

// Test pattern page (code 16, under the settings menu): eight patterns the scaler shows on the
// wall in place of the video, and Close. The pattern is switched off whenever the page goes,
// by Close, BACK or MODE alike.
class test_chart : public VyrPage {
    Q_OBJECT
public:
    explicit test_chart(QWidget* parent = nullptr);
    void language_changed() override;
    void syncUpdate(int code) override;

    static constexpr int kPatterns = 8;
    static constexpr int kCloseItem = 8;
    static QPixmap picture(int value); // the thumbnail of pattern 1-8

    QFrame* frame;
    QLabel* label_test[kPatterns];    // label_test1 .. label_test8
    QLabel* label_caption[kPatterns]; // label_red .. label_wline
    QPushButton* Button_closetest;
    QLabel* label_refused;            // says so when the scaler refused a pattern
    QWidget* focused_picture = nullptr;
    uint8_t requested = 0;            // the pattern last asked for, 0 none, until the scaler took it
    uint8_t replaced = 0;             // what the block held before that request

    static const char kPictureNormal[];
    static const char kPictureFocused[];
    static const char kButtonNormal[];
    static const char kButtonFocused[];

public Q_SLOTS:
    void slot_Button_on_clicked();
    void slot_Button_back_clicked() override;

protected:
    void keyReleaseEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void menulist_init();
    void setFocused(int item, bool focused);
    uint8_t writePattern(uint8_t value); // the value it replaced
    bool switched_off_ = false;
};

extern QPointer<test_chart> g_test_chart;
