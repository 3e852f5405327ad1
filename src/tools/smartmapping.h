#pragma once
#include "ui/vyrpage.h"

#include <QPointer>
#include <QStringList>
#include <cstdint>
#include <functional>

class My_lineEdit;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QToolButton;

// Smart mapping page (code 24, under the settings menu): four functions in a column on the left,
// each on its own pages of the stacked area on the right: the quick screen set-up wizard (job 1),
// the scan-file load (job 2), parameter curing (job 3) and the mapping switch (job 4). The FPGA
// worker runs the jobs and reports through CardJobReport's signals, which reach this page queued
// into the GUI thread: a page that has gone receives nothing. While a job's progress bar is up,
// BACK, MODE, every job button and every button that would leave a running job's page are refused.
class SmartMapping : public VyrPage {
    Q_OBJECT
public:
    explicit SmartMapping(QWidget* parent = nullptr);
    ~SmartMapping() override;

    void language_changed() override;
    void syncUpdate(int code) override;
    void button_select(QPushButton* button);
    void menulist_main_sel();
    void wlan_init(unsigned char mode, unsigned char unused = 0);
    void line_select(char mode);
    void get_file_list_smartpath();
    void get_file_list_usbpath();
    void scan_file_list();
    void language_for_shortcutt_page0();
    void language_for_shortcutt_page1();
    void language_for_shortcutt_page2();
    void language_for_shortcutt_page3();
    void language_for_loadscan_page4();
    void language_for_loadscan_page5();
    void language_for_paraweld_page6();
    void language_for_mapping_onoff_page7();

    // What the page shows, for its tests and for the refresh.
    int mainIndex() const { return main_index; }
    int level() const { return level_; }
    int scanFileCount() const { return scan_count; }
    int shortcutStep() const { return sc_step; }
    bool pickerOpen() const { return picker_open; }
    bool tileChoice() const { return main_index == 1 ? ls_tile_choice : sc_tile_choice; }
    int tileIndex() const { return tile_index; }
    int portGroup() const { return group; }
    int loadScanStep() const { return ls_step; }
    int filePage() const { return file_page; }
    int lastFilePage() const { return last_page; }
    int fileSelection() const { return selection; }
    int fileFocus() const { return file_focus; }
    bool inButtonRow() const { return in_row; }
    const QStringList& scanFiles() const { return files; }
    int localFileCount() const { return local_count; }
    QStringList shownFileNames() const;  // the file labels of the page shown
    bool mappingIconOn() const { return mapping_on_icon; }
    QString resultText() const;          // the outcome line under the stacked area
    QWidget* focusedItem() const { return focus_item; }
    QFrame* tileFrame(int i) const;      // the frame of tile i of the group shown, or null

    // A scan file by its name: the suffix "qzfile", or in the mapping folder the name a PC tool's
    // upload (tag QZFR) is stored under.
    static bool isScanFile(const QString& name, bool mappingFolder);

    // The keypad for one line edit: true when a number within [min, max] replaced its text.
    // Tests put their own in its place.
    static std::function<bool(QLineEdit* field, const QString& title, int min, int max)> askNumber;

    // What the line under the stacked area says: a job's outcome, or why nothing was sent.
    enum class Note {
        None, Done, Failed, MappingFailed, BadSize, BadGrid, TooMany, BadOffset, NoCards, Busy, NoFpga,
        NoCardFound,  // curing or the switch reached no card on any port
        MoreCards,    // value: the port's cards, second: the wall's cells
        CuringFailedOn, MappingFailedOn, // value: the ports that failed, a bit each
    };
    void showNote(Note note, int value = 0, int second = 0);

    QLabel* label_result;
    QPushButton* Button_shortcut;
    QPushButton* Button_loadscan;
    QPushButton* Button_paraweld;
    QPushButton* Button_mapping;
    QStackedWidget* stackedWidget;
    QFrame* frame;
    // step 1
    QLabel* label_step1;
    QLabel* label_boxwidth;
    QLabel* label_boxheight;
    My_lineEdit* lineEdit_X;
    My_lineEdit* lineEdit_Y;
    QPushButton* Button_next;
    // step 2
    QLabel* label_step2;
    QPushButton* Button_wlan1;
    QPushButton* Button_wlan2;
    QPushButton* Button_wlan3;
    QPushButton* Button_wlan4;
    QFrame* line_2;
    QPushButton* Button_front_2;
    QPushButton* Button_next_2;
    // step 3
    QLabel* label_step3;
    QLabel* label_boxline;
    QLabel* label_boxlcolumn;
    QLabel* label_routeway;
    QLabel* label_horizon;
    QLabel* label_vert;
    My_lineEdit* lineEdit_line;
    My_lineEdit* lineEdit_column;
    My_lineEdit* lineEdit_horzion;
    My_lineEdit* lineEdit_vert;
    QPushButton* Button_route;
    QPushButton* Button_front_3;
    QPushButton* Button_send;
    // routing picker
    QToolButton* Button_routes[16];
    QPushButton* Button_cancel;
    // load scan
    QLabel* label_step1_5;
    QPushButton* Button_wlan5;
    QPushButton* Button_wlan6;
    QPushButton* Button_wlan7;
    QPushButton* Button_wlan8;
    QFrame* line;
    QPushButton* Button_next_5;
    QLabel* label_step2_6;
    QLabel* label_step2_7;
    QPushButton* Button_front_6;
    QPushButton* Button_load;
    QFrame* frame_file = nullptr;
    QPushButton* previous = nullptr;
    QPushButton* next = nullptr;
    // curing, mapping
    QLabel* label_step1_6;
    QPushButton* Button_confirm;
    QLabel* label_step1_7;
    QPushButton* Button_mapping_state;

Q_SIGNALS:
    void sig_qround_bar_update(int percent);

public Q_SLOTS:
    void Button_back_clicked() { slot_Button_back_clicked(); }
    void slot_Button_back_clicked() override;
    // The mapping files changed (a PC tool stored or deleted one): GUI thread.
    static void cardFilesChanged(bool fromDelete);
    void on_Button_shortcut_clicked();
    void on_Button_loadscan_clicked();
    void on_Button_paraweld_clicked();
    void on_Button_mapping_clicked();
    void on_Button_next_clicked();
    void on_Button_wlan1_clicked();
    void on_Button_wlan2_clicked();
    void on_Button_wlan3_clicked();
    void on_Button_wlan4_clicked();
    void vyr_button_wlan_clicked();
    void on_Button_front_2_clicked();
    void on_Button_next_2_clicked();
    void on_Button_front_3_clicked();
    void on_Button_route_clicked();
    void on_Button_cancel_clicked();
    void on_Button_send_clicked();
    void show_numberkeyboard_ui(QString text);
    void on_Button_wlan5_clicked();
    void on_Button_wlan6_clicked();
    void on_Button_wlan7_clicked();
    void on_Button_wlan8_clicked();
    void on_Button_next_5_clicked();
    void vyr_Button_previous_clicked();
    void vyr_Button_next_clicked();
    void vyr_button_file_clicked();
    void on_Button_front_6_clicked();
    void on_Button_load_clicked();
    void on_Button_confirm_clicked();
    void on_Button_mapping_state_clicked();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private Q_SLOTS:
    void job_progress(int percent);
    void job_finished(int job, bool ok, uint detail);

private:
    void buildFrame();
    void buildShortcutPages();
    void buildScanPages();
    void mainKey(int key);
    void shortcutKey(int key);
    void loadscanKey(int key);
    void backToMain();
    void showStack(int index);
    void countScanFiles();
    void setItem(QWidget* w, bool focused, bool lineEditStyle = false);
    void focusShortcut(int step, int index);
    void chooseGroup(int g, bool loadScan);
    void moveTile(bool right);
    void enterFileStep();
    void fileKey(int key);
    void restyleFiles();
    bool jobRunning() const;
    bool postJob(int job);
    void clearNote();
    void readMapping();
    QString routingText(int mode) const;

    // main column
    std::vector<QPushButton*> main_list;
    QPushButton* main_focused = nullptr;
    int main_index = 0;
    int level_ = 0;
    int scan_count = 0;
    int scan_step = 0;         // traced only
    bool file_list_shown = false;
    // quick set-up
    int sc_step = 0;
    int sc_focus[3] = {};
    bool sc_tile_choice = false;
    uint8_t saved_port = 0;
    bool picker_open = false;
    int picker_focus = 0;
    // port tiles
    int group = 0;
    int tile_index = 0;
    QFrame* tile_box = nullptr;
    QFrame* tiles[8] = {};
    QPushButton* group_chosen = nullptr;
    // load scan
    int ls_step = 0;
    int ls_focus = 0;
    bool ls_tile_choice = false;
    bool ls_tile_confirmed = false;
    int file_focus = 0;
    bool in_row = false;
    int row_index = 1;
    QStringList files;
    int local_count = 0;
    int total = 0;
    int file_page = 0;
    int last_page = 0;
    int selection = 0;
    QLabel* file_labels[3] = {};
    QString shown_paths[3];
    // jobs
    int posted_job = 0;      // the job this page posted and has not yet seen end
    bool mapping_on_icon = false;
    QWidget* focus_item = nullptr;
    Note note_;
    int note_value_ = 0;
    int note_second_ = 0;
    bool note_shown_ = false;

    QString style_button;
    QString style_button_focused;
    QString style_main_held;
    QString style_unavailable;
    QString style_group_chosen;
    QString style_edit;
    QString style_edit_focused;
    QString style_file_focused;
    QString style_file_chosen;
    QString style_file;
    QString style_stick_focused;
    QString style_stick_chosen;
    QString style_stick;
};

extern QPointer<SmartMapping> g_smartmapping;
