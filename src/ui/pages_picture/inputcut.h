#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

// Crop page (code 7, from the input choice page or the settings menu). So far its frame in the page navigation.
class InputCut : public VyrPage {
    Q_OBJECT
public:
    explicit InputCut(QWidget* parent = nullptr);
};

extern QPointer<InputCut> g_inputcut;
