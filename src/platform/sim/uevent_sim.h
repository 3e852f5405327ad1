#pragma once
#include <string>

// Test face of the simulated board's kernel events: a Unix datagram socket at <root>/sim/uevent
// takes kernel-format messages ("add@/devices/...\0ACTION=add\0..."); a USB stick is the folder
// "/mnt/usb1" under the root.
namespace platform::Sim {
std::string ueventSocketPath();                // "<root>/sim/uevent"
bool sendUevent(const std::string& message);   // one datagram to the program's socket
// A stick plugged in: "/proc/scsi/usb-storage" appears, "/proc/mounts" lists "/mnt/usb1", the
// partition's add event is sent. Unplugged: the remove event, the mount line and the folder go.
bool plugStick();
bool unplugStick();
}
