#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

// LED output port view (code 14, under the output menu). So far its frame in the page navigation.
class netset : public VyrPage {
    Q_OBJECT
public:
    explicit netset(QWidget* parent = nullptr);
};

extern QPointer<netset> g_netset;
