#include "ui/machinestate.h"

QPointer<MachineState> g_machinestate;

MachineState::MachineState(QWidget* parent)
    : VyrPage(2, "MachineState", UiText::TitleMachineState, parent)
{
}
