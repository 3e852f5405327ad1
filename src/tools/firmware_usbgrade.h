#pragma once
#include "ui/vyrpage.h"

#include <QPointer>
#include <QStringList>
#include <QVector>
#include <cstdint>

class QFrame;
class QLabel;
class QPushButton;

// "USB UPDATE" page (code 26, under the communication menu): lists the packages on the stick,
// OK starts the upgrade once per visit (the FPGA worker does it), and the end of the run shows
// what was written, skipped or failed. BACK always leaves; the run goes on.
class firmware_usbgrade : public VyrPage {
    Q_OBJECT
public:
    explicit firmware_usbgrade(QWidget* parent = nullptr);
    void language_changed() override;
    void syncUpdate(int code) override;
    void get_file_list_smartpath(); // the stick's packages
    void upgrade_file_list();       // rows of the current list page
    void menulist_button_ok_page(); // start
    int fileCount() const { return files_.size(); }
    int currentPage() const { return current_page; }
    int lastPage() const { return last_page; }
    uint8_t file_downing = 0;       // OK started a run in this visit
    uint8_t file_select = 0;        // highlighted row 0-3 (a tap moves it)
    bool fileSelected(int i) const { return i >= 0 && i < selected_.size() && selected_[i]; }

    QFrame* frame;
    QFrame* frame_file = nullptr;
    QLabel* label_log;
    QLabel* label_result; // written, skipped, failed
    QPushButton* Button_grade;
    QPushButton* previous = nullptr;
    QPushButton* next = nullptr;

public Q_SLOTS:
    void menulist_back_page() { slot_Button_back_clicked(); }
    void vyr_Button_previous_clicked();
    void vyr_Button_next_clicked();
    void vyr_button_file_clicked(); // a row tapped: it becomes the highlighted one
    void on_Button_grade_clicked();

protected:
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void showResult();
    QStringList files_;
    QVector<bool> selected_; // per file: the first "VYR" and every "VYRZK" are shown blue
    int current_page = 0;
    int last_page = 0;
    uint32_t run_ = 0; // the run this page started or found running; only its end is shown here
    QString start_time;
};

extern QPointer<firmware_usbgrade> g_firmware_usbgrade;
