#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

class QLabel;
class QPushButton;

// Settings menu (code 5): eight picture entries leading to the output menu, the crop page, the
// window layout, the communication menu, the picture menu, the test patterns, smart mapping and
// the advanced menu.
class Option : public VyrPage {
    Q_OBJECT
public:
    explicit Option(QWidget* parent = nullptr);
    void language_changed() override;
    void menulist_init();

    // Safe from any thread: carried out in the GUI thread, and only if the menu is still the page
    // on top when the queued call runs (a child may have opened meanwhile).
    static void requestLeave();  // a USB stick was mounted: back to the root menu
    static void requestRetext(); // files of the mapping folder were removed

    QPushButton* output_set;
    QPushButton* input_cut;
    QPushButton* image_layout;
    QPushButton* link_set;
    QPushButton* image_quality;
    QPushButton* test_chart;
    QPushButton* smart_mapping;
    QPushButton* AdvanceButton;
    QLabel* label_note_OK;
    QLabel* label_note_back;

public Q_SLOTS:
    void on_output_set_clicked();
    void on_input_cut_clicked();
    void on_image_layout_clicked();
    void on_link_set_clicked();
    void on_image_quality_clicked();
    void on_test_chart_clicked();
    void on_smart_mapping_clicked();
    void on_AdvanceButton_clicked();

protected:
    void okReleased() override;

private:
    std::vector<QPushButton*> menulist;
};

extern QPointer<Option> g_option;

void initMenuPictures(); // the menu pictures under ":/png/", with the common ones
// The "OK" and "back" notes at the foot of the menu pages.
void placeNotes(QWidget* page, QLabel** ok, QLabel** back);
