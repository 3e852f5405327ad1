// ThreadSanitizer builds: the program's stand-ins for Qt's lock, wait and post functions and its
// built-in options (base/tsan_defaults.h). Every use of them in the core reaches this file, which
// scripts/layers_objects.allowed accepts by symbol. Empty in other builds.
#include "base/tsan_defaults.h"
