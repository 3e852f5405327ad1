#include "ui/pages_picture/imagelayout.h"

QPointer<ImageLayout> g_imagelayout;

ImageLayout::ImageLayout(QWidget* parent)
    : VyrPage(9, "ImageLayout", UiText::TitleImageLayout, parent)
{
}
