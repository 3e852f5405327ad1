#include "ui/pages_settings/temperature.h"

QPointer<temperature> g_temperature;

temperature::temperature(QWidget* parent)
    : VyrPage(20, "temperature", UiText::TitleTemperature, parent)
{
}
