#include "ui/linkoption.h"

#include "ui/pagenav.h"

QPointer<LinkOption> g_linkoption;

LinkOption::LinkOption(QWidget* parent)
    : VyrPage(10, "LinkOption", UiText::TitleLinkOption, parent)
{
}

void LinkOption::slot_Button_back_clicked()
{
    // The settings menu keeps the language it had when this menu opened.
    PageNav::back(this, false);
}
