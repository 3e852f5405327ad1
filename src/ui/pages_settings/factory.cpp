#include "ui/pages_settings/factory.h"

QPointer<factory> g_factory;

factory::factory(QWidget* parent)
    : VyrPage(18, "factory", UiText::TitleFactory, parent)
{
}
