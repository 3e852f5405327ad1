#pragma once
#include "platform/shell.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace platform::Sim {

// The shell of the simulated board (see ShellSim in sim_board.h for what it does).
class RecordingShell : public Shell {
public:
    int system(const std::string& command) override;
    int capture(const std::string& command, std::string* output) override;
    int run(const std::vector<std::string>& argv) override;

    void script(const std::string& prefix, int exitCode, const std::string& output);
    void clearScripts();
    std::vector<std::string> commands() const;
    std::vector<std::vector<std::string>> argumentRuns() const;
    void clearLog();
    void setRebootHandler(std::function<void()> handler);

private:
    struct Answer {
        int exitCode = 0;
        std::string output;
    };
    int run(const std::string& command, std::string* output);
    void record(const std::string& command);
    const Answer* scripted(const std::string& command) const;

    mutable std::mutex mutex_;
    std::map<std::string, Answer> scripts_;
    std::vector<std::string> log_;
    std::vector<std::vector<std::string>> argvLog_;
    std::function<void()> reboot_;
};

RecordingShell& recordingShell();

}
