#include "ui/pages_settings/netset.h"

QPointer<netset> g_netset;

netset::netset(QWidget* parent)
    : VyrPage(14, "netset", UiText::TitleNetset, parent)
{
}
