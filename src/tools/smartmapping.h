#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

// Smart mapping page (code 24, under the settings menu). So far its frame in the page navigation;
// the page names its back Button_back_clicked.
class SmartMapping : public VyrPage {
    Q_OBJECT
public:
    explicit SmartMapping(QWidget* parent = nullptr);

public Q_SLOTS:
    void Button_back_clicked() { slot_Button_back_clicked(); }
};

extern QPointer<SmartMapping> g_smartmapping;
