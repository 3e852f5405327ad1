#pragma once

// The front panel as start-up leaves it: root menu and home screen shown (home on top, page 0),
// and the store's change signal queued to the refresh-and-save slot.
void showPanel();
