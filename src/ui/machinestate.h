#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

class QFrame;
class QLabel;

// Device information page (code 2): serial number, link state of the sixteen LED output ports,
// which inputs carry a signal, program and FPGA versions. Nothing on it can be changed.
class MachineState : public VyrPage {
    Q_OBJECT
public:
    static const char kProgramVersion[]; // also the installed version the USB upgrade compares

    explicit MachineState(QWidget* parent = nullptr);
    void language_changed() override;
    void syncUpdate(int code) override;
    void source_check();
    void initWlan();
    void version_changed();

    QFrame* frame;
    QLabel* label_2;
    QLabel* label_state1;
    QLabel* label_state2;
    QLabel* label_state3;
    QLabel* source_name[6];
    QLabel* source_pixmap[6];
    bool source_online[6] = {};
    QLabel* label_MCU;
    QLabel* label_FPGA1;
    QFrame* port_panel = nullptr;
    uint16_t port_links = 0; // the link word the port panel shows

public Q_SLOTS:
    void on_Button_back_clicked() { slot_Button_back_clicked(); }

protected:
    void okReleased() override {}
};

extern QPointer<MachineState> g_machinestate;
