#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

// Front LCD times page (code 15, under the advanced menu). So far its frame in the page navigation.
class lcdshow : public VyrPage {
    Q_OBJECT
public:
    explicit lcdshow(QWidget* parent = nullptr);
};

extern QPointer<lcdshow> g_lcdshow;
