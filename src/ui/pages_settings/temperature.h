#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

// Colour temperature page (code 20, under the picture menu). So far its frame in the page navigation.
class temperature : public VyrPage {
    Q_OBJECT
public:
    explicit temperature(QWidget* parent = nullptr);
};

extern QPointer<temperature> g_temperature;
