#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

class QPushButton;

// Picture menu (code 11, under the settings menu): picture quality and colour temperature.
class ImageQuality : public VyrPage {
    Q_OBJECT
public:
    explicit ImageQuality(QWidget* parent = nullptr);
    void language_changed() override;

    QPushButton* Button_quality;
    QPushButton* Button_temperature;

public Q_SLOTS:
    void on_Button_quality_clicked();
    void on_Button_temperature_clicked();
};

extern QPointer<ImageQuality> g_imagequality;
