#include "ui/pages_picture/edidset.h"

QPointer<EDIDset> g_edidset;

EDIDset::EDIDset(QWidget* parent)
    : VyrPage(8, "EDIDset", UiText::TitleEDIDset, parent)
{
}
