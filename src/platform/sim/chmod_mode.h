#pragma once
#include <string>

namespace platform::Sim {

// The mode argument of chmod: octal ("755") or symbolic ("u+x", "go-w,a+r", "=rw"); false when
// the text is not a mode. The umask is not applied to a missing who, as the box runs as root.
bool applyChmodMode(const char* text, unsigned current, bool isDirectory, unsigned* result);
inline bool applyChmodMode(const std::string& text, unsigned current, bool isDirectory, unsigned* result)
{
    return applyChmodMode(text.c_str(), current, isDirectory, result);
}

}
