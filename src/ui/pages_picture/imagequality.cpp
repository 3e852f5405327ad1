#include "ui/pages_picture/imagequality.h"

#include "base/global.h"
#include "ui/outputset.h"
#include "ui/pagenav.h"
#include "ui/pages_settings/quality.h"
#include "ui/pages_settings/temperature.h"

#include <QPushButton>

QPointer<ImageQuality> g_imagequality;

namespace {
const char* const kTexts[5][2] = {
    {"画质", "色温"},
    {"Quality", "Temperature"},
    {"Качество", "Цветовая\nтемпература"},
    {"Chất lượng", "Nhiệt độ\nmàu"},
    {"畫質", "色溫"},
};
}

ImageQuality::ImageQuality(QWidget* parent)
    : VyrPage(11, "ImageQuality", UiText::TitleImageQuality, parent)
{
    Button_quality = menuTextButton(this, "Button_quality", 15, 47);
    Button_temperature = menuTextButton(this, "Button_temperature", 115, 47);
    connect(Button_quality, &QPushButton::clicked, this, &ImageQuality::on_Button_quality_clicked);
    connect(Button_temperature, &QPushButton::clicked, this, &ImageQuality::on_Button_temperature_clicked);
    language_changed();
    setFocusList({Button_quality, Button_temperature});
}

void ImageQuality::language_changed()
{
    VyrPage::language_changed();
    const auto& t = kTexts[languageColumn(g_language.load())];
    Button_quality->setText(QString::fromUtf8(t[0]));
    Button_temperature->setText(QString::fromUtf8(t[1]));
}

void ImageQuality::on_Button_quality_clicked() { PageNav::openModal(new quality(nullptr)); }
void ImageQuality::on_Button_temperature_clicked() { PageNav::openModal(new temperature(nullptr)); }
