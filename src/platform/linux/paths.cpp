#include "platform/paths.h"

// On the box the program's paths are the real ones; a root is only set by hand, e.g. to run the
// box build against a copied file tree.
namespace platform::Paths {
namespace {

std::string& rootStorage()
{
    static std::string value;
    return value;
}

}

const std::string& root()
{
    return rootStorage();
}

void setRoot(const std::string& newRoot)
{
    std::string r = newRoot;
    while (!r.empty() && r.back() == '/')
        r.pop_back();
    rootStorage() = r;
}

std::string resolve(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        return path;
    return rootStorage() + path;
}

}
