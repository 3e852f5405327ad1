#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

// Other-settings page (code 17, under the advanced menu). So far its frame in the page navigation.
class othersetup : public VyrPage {
    Q_OBJECT
public:
    explicit othersetup(QWidget* parent = nullptr);

public Q_SLOTS:
    void slot_Button_back_clicked() override;
};

extern QPointer<othersetup> g_othersetup;
