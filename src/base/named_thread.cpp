#include "base/named_thread.h"

#include <string>

bool startNamedThread(pthread_t* thread, void* (*entry)(void*), void* arg, const char* name)
{
    if (pthread_create(thread, nullptr, entry, arg) != 0)
        return false;
    // Linux takes at most 15 characters and refuses a longer name outright.
    pthread_setname_np(*thread, std::string(name).substr(0, 15).c_str());
    return true;
}
