#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

// Communication menu (code 10, under the settings menu). So far its frame in the page navigation.
class LinkOption : public VyrPage {
    Q_OBJECT
public:
    explicit LinkOption(QWidget* parent = nullptr);

public Q_SLOTS:
    void slot_Button_back_clicked() override;
};

extern QPointer<LinkOption> g_linkoption;
