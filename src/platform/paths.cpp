#include "platform/paths.h"

// Shared by both boards: a path given in a command must stay under the root.
namespace platform::Paths {

bool resolveChecked(const std::string& path, std::string* out)
{
    if (path.empty() || path[0] != '/')
        return false;
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        if (end - start == 2 && path.compare(start, 2, "..") == 0)
            return false;
        start = end + 1;
    }
    if (out)
        *out = resolve(path);
    return true;
}

}
