#include "platform/sim/shell_files.h"

#include "platform/sim/chmod_mode.h"
#include "platform/paths.h"

#include <cstdio>
#include <filesystem>
#include <glob.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace platform::Sim {
namespace {

struct Arguments {
    std::string options;              // option letters, in order
    std::vector<std::string> operands; // as given (the mode of chmod stays a text)
    std::vector<bool> globbed;
};

Arguments splitOptions(const std::vector<ShellWord>& words)
{
    Arguments a;
    bool optionsDone = false;
    for (const ShellWord& w : words) {
        if (!optionsDone && w.text == "--") {
            optionsDone = true;
        } else if (!optionsDone && w.text.size() > 1 && w.text[0] == '-') {
            a.options += w.text.substr(1);
        } else {
            a.operands.push_back(w.text);
            a.globbed.push_back(w.glob);
        }
    }
    return a;
}

bool onlyOptions(const std::string& given, const std::string& allowed)
{
    return given.find_first_not_of(allowed) == std::string::npos;
}

bool has(const std::string& options, const char* letters)
{
    return options.find_first_of(letters) != std::string::npos;
}

// Maps operands to host paths; a pattern expands as sh would (kept literally when nothing matches).
bool hostPaths(const Arguments& a, size_t first, std::vector<std::string>* out)
{
    for (size_t i = first; i < a.operands.size(); ++i) {
        std::string host;
        if (!platform::Paths::resolveChecked(a.operands[i], &host)) {
            std::fprintf(stderr, "sim shell: refused path outside the root: %s\n", a.operands[i].c_str());
            return false;
        }
        glob_t matches{};
        if (a.globbed[i] && ::glob(host.c_str(), 0, nullptr, &matches) == 0) {
            for (size_t k = 0; k < matches.gl_pathc; ++k)
                out->push_back(matches.gl_pathv[k]);
        } else {
            out->push_back(host);
        }
        if (a.globbed[i])
            globfree(&matches);
    }
    return true;
}

bool isRoot(const std::string& host)
{
    std::error_code ec;
    return fs::equivalent(host, platform::Paths::root().empty() ? "/" : platform::Paths::root(), ec);
}

int rm(const Arguments& a, const std::vector<std::string>& paths)
{
    if (!onlyOptions(a.options, "rRfi"))
        return 1;
    const bool force = has(a.options, "f");
    const bool recursive = has(a.options, "rR");
    if (paths.empty())
        return force ? 0 : 1;
    int rc = 0;
    for (const std::string& p : paths) {
        std::error_code ec;
        const fs::file_status st = fs::symlink_status(p, ec);
        if (!fs::exists(st)) {
            rc |= force ? 0 : 1;
        } else if (isRoot(p) || (fs::is_directory(st) && !recursive)) {
            rc = 1;
        } else {
            fs::remove_all(p, ec);
            rc |= ec ? 1 : 0;
        }
    }
    return rc;
}

fs::path targetFor(const fs::path& source, const fs::path& destination)
{
    std::error_code ec;
    return fs::is_directory(destination, ec) ? destination / source.filename() : destination;
}

int cp(const Arguments& a, const std::vector<std::string>& paths)
{
    if (!onlyOptions(a.options, "rRapdf") || paths.size() < 2)
        return 1;
    const bool recursive = has(a.options, "rRa");
    const fs::path destination = paths.back();
    std::error_code ec;
    if (paths.size() > 2 && !fs::is_directory(destination, ec))
        return 1;
    int rc = 0;
    for (size_t i = 0; i + 1 < paths.size(); ++i) {
        const fs::path source = paths[i];
        const fs::path target = targetFor(source, destination);
        ec.clear();
        if (fs::is_directory(source, ec)) {
            if (!recursive) {
                rc = 1;
                continue;
            }
            fs::copy(source, target, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
        } else if (fs::exists(source, ec)) {
            fs::copy_file(source, target, fs::copy_options::overwrite_existing, ec);
        } else {
            rc = 1;
            continue;
        }
        rc |= ec ? 1 : 0;
    }
    return rc;
}

int mv(const Arguments& a, const std::vector<std::string>& paths)
{
    if (!onlyOptions(a.options, "f") || paths.size() < 2)
        return 1;
    const fs::path destination = paths.back();
    std::error_code ec;
    if (paths.size() > 2 && !fs::is_directory(destination, ec))
        return 1;
    int rc = 0;
    for (size_t i = 0; i + 1 < paths.size(); ++i) {
        if (isRoot(paths[i])) {
            rc = 1;
            continue;
        }
        ec.clear();
        fs::rename(paths[i], targetFor(paths[i], destination), ec);
        rc |= ec ? 1 : 0;
    }
    return rc;
}

int mkdir(const Arguments& a, const std::vector<std::string>& paths)
{
    if (!onlyOptions(a.options, "p") || paths.empty())
        return 1;
    const bool parents = has(a.options, "p");
    int rc = 0;
    for (const std::string& p : paths) {
        std::error_code ec;
        if (parents) {
            fs::create_directories(p, ec);
            rc |= (ec || !fs::is_directory(p, ec)) ? 1 : 0;
        } else {
            rc |= fs::create_directory(p, ec) ? 0 : 1;
        }
    }
    return rc;
}

int chmodOne(const std::string& path, const std::string& mode)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return 1;
    if (S_ISLNK(st.st_mode))
        return 0; // chmod -R leaves links alone, as busybox does
    unsigned next = 0;
    if (!applyChmodMode(mode, st.st_mode & 07777, S_ISDIR(st.st_mode), &next))
        return 1;
    return ::chmod(path.c_str(), next) == 0 ? 0 : 1;
}

int chmod(const Arguments& a, const std::vector<std::string>& paths)
{
    if (!onlyOptions(a.options, "R") || a.operands.size() < 2 || paths.empty())
        return 1;
    const std::string& mode = a.operands[0];
    unsigned probe = 0;
    if (!applyChmodMode(mode, 0, false, &probe))
        return 1;
    int rc = 0;
    for (const std::string& p : paths) {
        rc |= chmodOne(p, mode);
        std::error_code ec;
        if (has(a.options, "R") && fs::is_directory(fs::symlink_status(p, ec))) {
            for (auto it = fs::recursive_directory_iterator(p, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
                rc |= chmodOne(it->path().string(), mode);
        }
    }
    return rc;
}

}

bool isFileCommand(const std::string& name)
{
    return name == "rm" || name == "cp" || name == "mv" || name == "chmod" || name == "mkdir" || name == "sync";
}

int runFileCommand(const std::string& name, const std::vector<ShellWord>& arguments)
{
    // The host's page cache holds the root like any other folder; flushing the host's disks on
    // every save would only slow the runs down.
    if (name == "sync")
        return 0;
    const Arguments a = splitOptions(arguments);
    std::vector<std::string> paths;
    if (!hostPaths(a, name == "chmod" ? 1 : 0, &paths))
        return 1;
    if (name == "rm")
        return rm(a, paths);
    if (name == "cp")
        return cp(a, paths);
    if (name == "mv")
        return mv(a, paths);
    if (name == "mkdir")
        return mkdir(a, paths);
    if (name == "chmod")
        return chmod(a, paths);
    return 127;
}

}
