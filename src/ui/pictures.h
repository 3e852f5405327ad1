#pragma once
#include <QString>

// The compiled-in pictures under ":/png/".
namespace Pictures {
void init(); // registers the resource tree; safe to call more than once
// ":/png/<name>.png" for simplified Chinese, else with the "en_", "ru_", "vn_" or "tn_" prefix.
QString lang(const char* name);
QString lang(const char* name, int language);
QString prefix(int language);
}
