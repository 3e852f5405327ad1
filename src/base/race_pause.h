#pragma once
#include <cstdint>

// Pauses that only tests switch on, to widen the window between two steps of a worker into which
// another thread's action may fall. Nothing in the program sets them.
namespace RacePause {
enum Point {
    AfterWifiStep,   // between a Wi-Fi access-point step and its stamp
    BeforeTickAlarm, // between a worker's reckoning of its next tick and arming its alarm
    kPoints
};
void set(Point point, uint32_t milliseconds);
void at(Point point); // sleeps as long as set for the point, usually not at all
}
