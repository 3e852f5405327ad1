#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

// EDID settings page (code 8, under the input choice page). So far its frame in the page navigation.
class EDIDset : public VyrPage {
    Q_OBJECT
public:
    explicit EDIDset(QWidget* parent = nullptr);
};

extern QPointer<EDIDset> g_edidset;
