#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

// Picture quality page (code 19, under the picture menu). So far its frame in the page navigation.
class quality : public VyrPage {
    Q_OBJECT
public:
    explicit quality(QWidget* parent = nullptr);
};

extern QPointer<quality> g_quality;
