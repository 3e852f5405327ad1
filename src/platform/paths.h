#pragma once
#include <string>

// Every absolute path the program uses ("/data/...", "/dev/mtd8", "/mnt/usb1/") goes through here.
// On the box the root is "/"; on the simulated board it is $VYR_ROOT.
namespace platform::Paths {
const std::string& root();                       // "" on the box, the simulated root otherwise
void setRoot(const std::string& root);           // tests and the simulated board only
std::string resolve(const std::string& path);    // absolute path -> path on this machine
// A path the shell was given, mapped back; false when it leaves the root (".." or not absolute).
bool resolveChecked(const std::string& path, std::string* out);
}
