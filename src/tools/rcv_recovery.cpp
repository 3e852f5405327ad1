#include "tools/rcv_recovery.h"

QPointer<rcv_recovery> g_rcv_recovery;

rcv_recovery::rcv_recovery(QWidget* parent)
    : VyrPage(25, "rcv_recovery", UiText::TitleRcvRecovery, parent)
{
}
