#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

// Device information page (code 2). So far its frame in the page navigation; this page names its
// back slot on_Button_back_clicked.
class MachineState : public VyrPage {
    Q_OBJECT
public:
    explicit MachineState(QWidget* parent = nullptr);

public Q_SLOTS:
    void on_Button_back_clicked() { slot_Button_back_clicked(); }
};

extern QPointer<MachineState> g_machinestate;
