#include "ui/outputset.h"

QPointer<OutputSet> g_outputset;

OutputSet::OutputSet(QWidget* parent)
    : VyrPage(6, "OutputSet", UiText::TitleOutputSet, parent)
{
}
