#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

// Picture menu (code 11, under the settings menu). So far its frame in the page navigation.
class ImageQuality : public VyrPage {
    Q_OBJECT
public:
    explicit ImageQuality(QWidget* parent = nullptr);
};

extern QPointer<ImageQuality> g_imagequality;
