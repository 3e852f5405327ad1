#pragma once
// ThreadSanitizer builds: puts the event filter that orders the events workers post to the GUI
// thread in front of the application's other filters (defined by base/tsan_defaults.h). Installing
// again puts it back in front of filters installed since. Nothing in other builds.
namespace vyr_tsan {
#ifdef VYR_TSAN
void orderPostedEvents();
#else
inline void orderPostedEvents() {}
#endif
}
