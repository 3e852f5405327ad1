#include "ui/pages_settings/quality.h"

QPointer<quality> g_quality;

quality::quality(QWidget* parent)
    : VyrPage(19, "quality", UiText::TitleQuality, parent)
{
}
