#pragma once
#include "ui/vyrpage.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <cstdint>

class QFrame;
class QLabel;
class QPushButton;

// Receiving-card recovery page (code 25, under the advanced menu). Query asks the FPGA worker to
// check every card of the recovery file's screens (job 5), Recovery restores the card it found
// (job 6). The worker's progress, result lines and outcome come in as queued signals only, so a
// page closed meanwhile is never reached; while the progress bar is up, the page cannot be left.
class rcv_recovery : public VyrPage {
    Q_OBJECT
public:
    explicit rcv_recovery(QWidget* parent = nullptr);
    void language_changed() override;
    void syncUpdate(int code) override;

    void menulist_init();
    void menulist_sel_left();
    void menulist_sel_right();
    void menulist_button_ok_page();
    void rcv_self_recovery_file_list(); // rebuilds the result frame

    // Result lines "SS/PP/CC/NN" as the worker reported them, and how many of them to show.
    QStringList rcv_lines;
    uint8_t result_count = 0;
    uint32_t refused = 0;        // the last shown line is red: that card cannot be restored
    uint8_t selected_line = 0;
    int failed_job = 0;          // 5 or 6 when the last job this page posted failed

    QFrame* frame;
    QFrame* frame_file = nullptr;
    QLabel* label_para_file;
    QPushButton* Button_closetest;
    QLabel* label_rcv_update;
    QPushButton* Button_check;
    QPushButton* Button_self_covery;
    QLabel* label_failed = nullptr;
    QLabel* line_labels[4] = {};
    QString line_texts[4];

Q_SIGNALS:
    void sig_qround_bar_update(int percent);

public Q_SLOTS:
    void menulist_back_page();
    void vyr_button_file_clicked();
    // The recovery files changed (a PC tool stored or deleted one): GUI thread.
    static void cardFilesChanged(bool fromDelete);

protected:
    void keyReleaseEvent(QKeyEvent* event) override;
    void okReleased() override { menulist_button_ok_page(); }

private:
    void post(uint8_t job);
    void onResult(const QString& line);
    void onResultCleared();
    void onJobFinished(int job, bool ok);
    int posted_job_ = 0; // the job this page posted and has not yet seen end
};

extern QPointer<rcv_recovery> g_rcv_recovery;
