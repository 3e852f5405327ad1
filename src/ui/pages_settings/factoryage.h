#pragma once
#include "ui/vyrpage.h"

#include <QFont>
#include <QPointer>
#include <QString>
#include <cstdint>

class QFrame;
class QLabel;
class QPushButton;

// Ageing-log page (code 23, under the advanced menu after the access code): sixteen samples of the
// in-memory ageing log a page, each with its time, the counter register, the five status bits in
// green or red and the third register, beside the histogram of the counter's jumps, the number of
// samples and the page counter. It only reads. The same texts in every language, and no title.
class factoryage : public VyrPage {
    Q_OBJECT
public:
    static constexpr int kLinesPerPage = 16;

    explicit factoryage(QWidget* parent = nullptr);
    void language_changed() override {} // nothing depends on the language
    void syncUpdate(int) override {}    // the log changes only with the tick's samples
    void para_init() {}
    void menulist_init();
    void ageloginit();    // builds the view anew: the waiting line, or the current page
    void update_agelog(); // renders the current page and the side labels

    int pageCount() const; // 16 samples a page, 0 for an empty log

    uint8_t page_index = 0;
    QString page_text; // rich text of the page shown
    QFont view_font;

    QFrame* frame;
    QWidget* view = nullptr;       // rebuilt with the view
    QLabel* view_label = nullptr;
    QLabel* page_info;
    QLabel* label_page;
    QPushButton* ButtonNext;
    QPushButton* ButtonPriv;
    QLabel* label_3;
    QLabel* label_5;
    QLabel* label_10;
    QLabel* label_20;
    QLabel* label_more;

public Q_SLOTS:
    void on_ButtonNext_clicked();
    void on_ButtonPriv_clicked();
    void slot_Button_back_clicked() override;

private:
    void showCounts(uint32_t d3, uint32_t d5, uint32_t d10, uint32_t d20, uint32_t more, int entries);
};

extern QPointer<factoryage> g_factoryage;
