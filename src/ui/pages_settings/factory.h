#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

// Factory page (code 18, under the advanced menu). So far its frame in the page navigation.
class factory : public VyrPage {
    Q_OBJECT
public:
    explicit factory(QWidget* parent = nullptr);
};

extern QPointer<factory> g_factory;
