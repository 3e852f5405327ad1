#pragma once

// What of the tools the front panel (ui/, below them) opens: the tools' pages by their codes and
// the upgrade's progress window. Once, on the GUI thread, before the panel opens: app/'s
// connectPages, and the tests' main.
void registerPanelTools();
