#include "ui/linkcom.h"

QPointer<linkcom> g_linkcom;

linkcom::linkcom(QWidget* parent)
    : VyrPage(21, "linkcom", UiText::TitleLinkcom, parent)
{
}
