#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

// USB upgrade page (code 26, under the communication menu). So far its frame in the page
// navigation; the page names its back menulist_back_page.
class firmware_usbgrade : public VyrPage {
    Q_OBJECT
public:
    explicit firmware_usbgrade(QWidget* parent = nullptr);

public Q_SLOTS:
    void menulist_back_page() { slot_Button_back_clicked(); }
};

extern QPointer<firmware_usbgrade> g_firmware_usbgrade;
