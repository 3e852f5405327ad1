#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

// Receiving-card recovery page (code 25, under the advanced menu). So far its frame in the page
// navigation; the page names its back menulist_back_page.
class rcv_recovery : public VyrPage {
    Q_OBJECT
public:
    explicit rcv_recovery(QWidget* parent = nullptr);

public Q_SLOTS:
    void menulist_back_page() { slot_Button_back_clicked(); }
};

extern QPointer<rcv_recovery> g_rcv_recovery;
