#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

// Wired network page (code 22, under the communication menu). So far its frame in the page navigation.
class linkwlan : public VyrPage {
    Q_OBJECT
public:
    explicit linkwlan(QWidget* parent = nullptr);
};

extern QPointer<linkwlan> g_linkwlan;
