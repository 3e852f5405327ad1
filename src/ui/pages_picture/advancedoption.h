#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

// Advanced menu (code 12, under the settings menu). So far its frame in the page navigation.
class AdvancedOption : public VyrPage {
    Q_OBJECT
public:
    explicit AdvancedOption(QWidget* parent = nullptr);
};

extern QPointer<AdvancedOption> g_advancedoption;
