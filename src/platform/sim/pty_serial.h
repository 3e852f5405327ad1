#pragma once
#include <string>
#include <vector>

// Test face of the simulated serial ports. Each opened port is a pseudo-terminal pair: the program
// holds the master, and the other end is published as <root>/sim/ttyS<n> (a link to its
// /dev/pts node) for a test or a PC tool to open like the box's port. A pty has no modem lines;
// the RTS changes the program asks for are recorded here instead.
namespace platform::Sim {

class SerialSim {
public:
    std::string peerPath(int index) const;     // <root>/sim/ttyS<n>
    std::vector<bool> rtsEdges(int index) const; // every RTS level set, oldest first
    void clearRts(int index);
    void failRts(bool fail);                   // RTS requests fail, as TIOCMGET does on a pty
    void failOpen(int index, bool fail);       // the port cannot be opened
};
SerialSim& serialSim();

}
