#include "tools/smartmapping.h"

QPointer<SmartMapping> g_smartmapping;

SmartMapping::SmartMapping(QWidget* parent)
    : VyrPage(24, "SmartMapping", UiText::TitleSmartMapping, parent)
{
}
