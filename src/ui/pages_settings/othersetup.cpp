#include "ui/pages_settings/othersetup.h"

#include "ui/pagenav.h"

QPointer<othersetup> g_othersetup;

othersetup::othersetup(QWidget* parent)
    : VyrPage(17, "othersetup", UiText::TitleOthersetup, parent)
{
}

void othersetup::slot_Button_back_clicked()
{
    // The advanced menu is re-texted only when the language really changed here.
    PageNav::back(this, PageNav::languageChanged());
}
