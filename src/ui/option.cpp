#include "ui/option.h"

QPointer<Option> g_option;

Option::Option(QWidget* parent)
    : VyrPage(5, "Option", UiText::TitleOption, parent)
{
}
