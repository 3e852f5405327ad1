#pragma once

// Stops that only tests hold, to keep a worker between two of its steps while another thread's
// action falls into that window, however busy the machine. Nothing in the program holds them;
// unheld, a point costs one load.
namespace RacePause {
enum Point {
    AfterWifiStep,   // between a Wi-Fi access-point step and its stamp
    BeforeTickAlarm, // between a worker's reckoning of its next tick and arming its alarm
    LedStepWait,     // the scaler worker at the start of its wait for the FPGA's LED step
    WifiAnswerWait,  // the Wi-Fi command port's thread before it chooses how long to wait
    BlackScreenWriteBack, // the FPGA worker between its read of the black-screen word and its write
    StoreModeWord,        // a user mode's store between its file and its current-mode word
    kPoints
};
void hold(Point point);    // from now on a thread that comes to the point stops there
int parked(Point point);   // how many threads are stopped there now
void pass(Point point);    // those stopped there go on; later ones stop again
void release(Point point); // no more stops there; those stopped go on
void at(Point point);      // where the worker's code stops while the point is held
}
