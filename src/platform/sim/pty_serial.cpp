#include "platform/sim/pty_serial.h"

#include "platform/paths.h"
#include "platform/serial_port.h"

#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::Sim {
namespace {

struct State {
    std::mutex mutex;
    std::map<int, std::vector<bool>> rts;
    std::set<int> openFails;
    bool rtsFails = false;
};

State& state()
{
    static State s;
    return s;
}

class PtyPort : public SerialPort {
public:
    PtyPort(int index, int master, int peer) : index_(index), master_(master), peer_(peer) {}
    ~PtyPort() override
    {
        close(master_);
        close(peer_);
    }
    int fd() const override { return master_; }
    bool isTerminal() const override { return isatty(master_) == 1; }
    // The settings live on the peer side: that is what a tool reading the port sees.
    int setParity(int dataBits, char parity, int stopBits) override
    {
        return serialSetParity(peer_, dataBits, parity, stopBits);
    }
    int setSpeed(int baud) override { return serialSetSpeed(peer_, baud); }
    ssize_t read(void* buffer, size_t length) override { return ::read(master_, buffer, length); }
    ssize_t write(const void* data, size_t length) override { return ::write(master_, data, length); }
    int drain() override { return 0; } // a pty has no line to wait for
    int setRts(bool on) override
    {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.rts[index_].push_back(on);
        return s.rtsFails ? -1 : 0;
    }

private:
    int index_;
    int master_;
    int peer_; // held open so the master never sees a hang-up while no tool is connected
};

}

std::string SerialSim::peerPath(int index) const
{
    return Paths::resolve("/sim/ttyS" + std::to_string(index));
}

std::vector<bool> SerialSim::rtsEdges(int index) const
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.rts.find(index);
    return it == s.rts.end() ? std::vector<bool>() : it->second;
}

void SerialSim::clearRts(int index)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.rts.erase(index);
}

void SerialSim::failRts(bool fail)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.rtsFails = fail;
}

void SerialSim::failOpen(int index, bool fail)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (fail)
        s.openFails.insert(index);
    else
        s.openFails.erase(index);
}

SerialSim& serialSim()
{
    static SerialSim sim;
    return sim;
}

}

namespace platform {

std::unique_ptr<SerialPort> openSerialPort(int index)
{
    {
        Sim::State& s = Sim::state();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.openFails.count(index))
            return nullptr;
    }
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0)
        return nullptr;
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
        close(master);
        return nullptr;
    }
    const int peer = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (peer < 0) {
        close(master);
        return nullptr;
    }
    const std::string link = Sim::serialSim().peerPath(index);
    mkdir(Paths::resolve("/sim").c_str(), 0755);
    unlink(link.c_str());
    if (symlink(name, link.c_str()) != 0) {
        close(peer);
        close(master);
        return nullptr;
    }
    return std::make_unique<Sim::PtyPort>(index, master, peer);
}

}
