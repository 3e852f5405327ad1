#include "ui/pages_picture/imagequality.h"

QPointer<ImageQuality> g_imagequality;

ImageQuality::ImageQuality(QWidget* parent)
    : VyrPage(11, "ImageQuality", UiText::TitleImageQuality, parent)
{
}
