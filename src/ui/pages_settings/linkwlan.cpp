#include "ui/pages_settings/linkwlan.h"

QPointer<linkwlan> g_linkwlan;

linkwlan::linkwlan(QWidget* parent)
    : VyrPage(22, "linkwlan", UiText::TitleLinkwlan, parent)
{
}
