#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

// Serial port page (code 21, under the communication menu). So far its frame in the page navigation.
class linkcom : public VyrPage {
    Q_OBJECT
public:
    explicit linkcom(QWidget* parent = nullptr);
};

extern QPointer<linkcom> g_linkcom;
