#include "ui/pages_picture/advancedoption.h"

QPointer<AdvancedOption> g_advancedoption;

AdvancedOption::AdvancedOption(QWidget* parent)
    : VyrPage(12, "AdvancedOption", UiText::TitleAdvancedOption, parent)
{
}
