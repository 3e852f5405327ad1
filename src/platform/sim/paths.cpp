#include "platform/paths.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <unistd.h>

// The simulated board keeps every absolute path of the box under one folder, so a run or a test
// never touches the host's own /data, /etc or /dev.
namespace platform::Paths {
namespace {

std::string& rootStorage()
{
    static std::string value;
    return value;
}

std::string trimmed(std::string root)
{
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    return root == "/" ? std::string() : root;
}

void initFromEnvironment()
{
    const char* env = std::getenv("VYR_ROOT");
    if (env && *env) {
        rootStorage() = trimmed(env);
        return;
    }
    // Without a root the program would write the host's /data; fall back to ./var/root instead.
    char cwd[4096];
    std::string base = getcwd(cwd, sizeof cwd) ? std::string(cwd) : std::string(".");
    rootStorage() = trimmed(base + "/var/root");
    std::fprintf(stderr, "VYR_ROOT not set, using %s\n", rootStorage().c_str());
}

std::once_flag& initOnce()
{
    static std::once_flag flag;
    return flag;
}

}

const std::string& root()
{
    std::call_once(initOnce(), initFromEnvironment);
    return rootStorage();
}

void setRoot(const std::string& newRoot)
{
    // Mark the environment as read, so a later first use does not overwrite the root set here.
    std::call_once(initOnce(), [] {});
    rootStorage() = trimmed(newRoot);
}

std::string resolve(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        return path;
    return root() + path;
}

}
