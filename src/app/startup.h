#pragma once

// The start order before the Qt application exists: configuration, parameter store, the hardware
// managers with their workers, then the transports. Separate from main so tests can run it.
void startSystem();
// Once the Qt application exists: the tools' pages and progress window the panel opens, the
// pages that follow the subsystems' signals, and the notice of an FPGA image write that was cut.
void connectPages();
