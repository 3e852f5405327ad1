#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

// Input choice page (code 3). So far its frame in the page navigation.
class InputChoose : public VyrPage {
    Q_OBJECT
public:
    explicit InputChoose(QWidget* parent = nullptr);
};

extern QPointer<InputChoose> g_inputchoose;
