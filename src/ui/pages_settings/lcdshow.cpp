#include "ui/pages_settings/lcdshow.h"

QPointer<lcdshow> g_lcdshow;

lcdshow::lcdshow(QWidget* parent)
    : VyrPage(15, "lcdshow", UiText::TitleLcdshow, parent)
{
}
