#include "imagequality.h"

QPointer<ImageQuality> g_imagequality;

ImageQuality::ImageQuality(QWidget* parent)
    : VyrPage(11, "ImageQuality", UiText::TitleImageQuality, parent)
{
}
