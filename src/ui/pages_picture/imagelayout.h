#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

// Window layout page (code 9, under the settings menu). So far its frame in the page navigation.
class ImageLayout : public VyrPage {
    Q_OBJECT
public:
    explicit ImageLayout(QWidget* parent = nullptr);
};

extern QPointer<ImageLayout> g_imagelayout;
