#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

// Output menu (code 6, under the settings menu). So far its frame in the page navigation.
class OutputSet : public VyrPage {
    Q_OBJECT
public:
    explicit OutputSet(QWidget* parent = nullptr);
};

extern QPointer<OutputSet> g_outputset;
