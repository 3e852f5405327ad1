#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

// LED screen size page (code 13, under the output menu). So far its frame in the page navigation.
class ledset : public VyrPage {
    Q_OBJECT
public:
    explicit ledset(QWidget* parent = nullptr);
};

extern QPointer<ledset> g_ledset;
