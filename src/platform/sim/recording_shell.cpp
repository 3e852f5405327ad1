#include "platform/sim/recording_shell.h"

#include "platform/paths.h"
#include "platform/sim/shell_files.h"
#include "platform/sim/shell_words.h"
#include "platform/sim/sim_board.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace platform::Sim {
namespace {

// Tools of the box that change the host's network, clock or processes: answered, never run.
bool isBoardTool(const std::string& name)
{
    static const char* const tools[] = {"ifconfig", "route", "date", "hwclock", "hostapd", "udhcpd",
                                        "kill", "pidof", "chattr", "dos2unix", "sed"};
    for (const char* t : tools)
        if (name == t)
            return true;
    return false;
}

std::string baseName(const std::string& word)
{
    const size_t slash = word.rfind('/');
    return slash == std::string::npos ? word : word.substr(slash + 1);
}

std::string logPath()
{
    return platform::Paths::resolve("/sim/shell.log");
}

int status(int exitCode)
{
    return (exitCode & 0xFF) << 8;
}

void defaultReboot()
{
    // Worker threads are still running, so static destructors must not run under them.
    std::fflush(nullptr);
    ::_exit(77);
}

}

int RecordingShell::system(const std::string& command)
{
    return run(command, nullptr);
}

int RecordingShell::capture(const std::string& command, std::string* output)
{
    return run(command, output);
}

int RecordingShell::run(const std::vector<std::string>& argv)
{
    // Logged as the words joined by blanks, as the line would read; answered like a command
    // line, but never split again.
    std::string line;
    for (const std::string& word : argv)
        line += (line.empty() ? "" : " ") + word;
    std::lock_guard<std::mutex> lock(mutex_);
    record(line);
    argvLog_.push_back(argv);
    if (const Answer* answer = scripted(line))
        return status(answer->exitCode);
    const std::string name = argv.empty() ? std::string() : baseName(argv[0]);
    if (!name.empty() && isBoardTool(name))
        return 0;
    if (!name.empty() && isFileCommand(name)) {
        std::vector<ShellWord> words;
        for (size_t i = 1; i < argv.size(); ++i)
            words.push_back(ShellWord{argv[i], false});
        return status(runFileCommand(name, words));
    }
    std::fprintf(stderr, "sim shell: %s: not found\n", name.c_str());
    return status(127);
}

int RecordingShell::run(const std::string& command, std::string* output)
{
    if (output)
        output->clear();
    std::function<void()> reboot;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        record(command);
        if (const Answer* answer = scripted(command)) {
            if (output)
                *output = answer->output;
            return status(answer->exitCode);
        }
        const ShellCommandLine line = parseCommandLine(command);
        const std::string name = line.words.empty() ? std::string() : baseName(line.words[0].text);
        if (name.empty() || isBoardTool(name))
            return 0;
        if (isFileCommand(name)) {
            if (line.compound) {
                std::fprintf(stderr, "sim shell: compound command not modelled: %s\n", command.c_str());
                return status(1);
            }
            return status(runFileCommand(name, {line.words.begin() + 1, line.words.end()}));
        }
        if (name != "reboot") {
            std::fprintf(stderr, "sim shell: %s: not found\n", name.c_str());
            return status(127);
        }
        reboot = reboot_ ? reboot_ : defaultReboot;
    }
    // Outside the lock: a handler may well use the shell itself.
    reboot();
    return 0;
}

void RecordingShell::record(const std::string& command)
{
    log_.push_back(command);
    std::error_code ec;
    std::filesystem::create_directories(platform::Paths::resolve("/sim"), ec);
    std::ofstream(logPath(), std::ios::app | std::ios::binary) << command << '\n';
}

const RecordingShell::Answer* RecordingShell::scripted(const std::string& command) const
{
    const Answer* best = nullptr;
    size_t bestLength = 0;
    for (const auto& [prefix, answer] : scripts_) {
        if (command.compare(0, prefix.size(), prefix) == 0 && (!best || prefix.size() > bestLength)) {
            best = &answer;
            bestLength = prefix.size();
        }
    }
    return best;
}

void RecordingShell::script(const std::string& prefix, int exitCode, const std::string& output)
{
    std::lock_guard<std::mutex> lock(mutex_);
    scripts_[prefix] = Answer{exitCode, output};
}

void RecordingShell::clearScripts()
{
    std::lock_guard<std::mutex> lock(mutex_);
    scripts_.clear();
}

std::vector<std::string> RecordingShell::commands() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
}

std::vector<std::vector<std::string>> RecordingShell::argumentRuns() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return argvLog_;
}

void RecordingShell::clearLog()
{
    std::lock_guard<std::mutex> lock(mutex_);
    log_.clear();
    argvLog_.clear();
    if (std::filesystem::exists(logPath()))
        std::ofstream(logPath(), std::ios::trunc | std::ios::binary);
}

void RecordingShell::setRebootHandler(std::function<void()> handler)
{
    std::lock_guard<std::mutex> lock(mutex_);
    reboot_ = std::move(handler);
}

RecordingShell& recordingShell()
{
    static RecordingShell shell;
    return shell;
}

// The test face forwards to the one shell the program uses.
void ShellSim::script(const std::string& prefix, int exitCode, const std::string& output)
{
    recordingShell().script(prefix, exitCode, output);
}

void ShellSim::clearScripts()
{
    recordingShell().clearScripts();
}

std::vector<std::string> ShellSim::commands() const
{
    return recordingShell().commands();
}

std::vector<std::vector<std::string>> ShellSim::argumentRuns() const
{
    return recordingShell().argumentRuns();
}

void ShellSim::clearLog()
{
    recordingShell().clearLog();
}

void ShellSim::setRebootHandler(std::function<void()> handler)
{
    recordingShell().setRebootHandler(std::move(handler));
}

ShellSim& shellSim()
{
    static ShellSim face;
    return face;
}

}

namespace platform {

Shell& shell()
{
    return Sim::recordingShell();
}

}
