#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

// Test pattern page (code 16, under the settings menu). So far its frame in the page navigation
// and the pattern switched off on leaving.
class test_chart : public VyrPage {
    Q_OBJECT
public:
    explicit test_chart(QWidget* parent = nullptr);

public Q_SLOTS:
    void slot_Button_back_clicked() override;
};

extern QPointer<test_chart> g_test_chart;
