#include "ui/pages_settings/ledset.h"

QPointer<ledset> g_ledset;

ledset::ledset(QWidget* parent)
    : VyrPage(13, "ledset", UiText::TitleLedset, parent)
{
}
