#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

class QPushButton;

// Communication menu (code 10, under the settings menu): serial port, wired network and the USB
// upgrade. Its buttons are reached by keys only; taps do nothing.
class LinkOption : public VyrPage {
    Q_OBJECT
public:
    explicit LinkOption(QWidget* parent = nullptr);
    void language_changed() override;

    QPushButton* Button_com;
    QPushButton* Button_wlan;
    QPushButton* Button_usb;

public Q_SLOTS:
    void slot_Button_back_clicked() override;
    void on_Button_linkcom_clicked();
    void on_Button_linkwlan_clicked();
    void on_Button_firmware_usbgrade_clicked();

protected:
    void okReleased() override;
};

extern QPointer<LinkOption> g_linkoption;
