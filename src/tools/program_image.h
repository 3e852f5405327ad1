#pragma once
#include <cstdint>
#include <string>

// What the launcher starts after an application swap must be a program this box can run: an ELF
// executable of the running program's own kind (identification, machine, program interpreter
// with its closing zero, the flag of a position-independent program on a shared object, the Qt
// libraries every build of this program is linked with, and the C library's start routine among
// its imports, so a shared library, a library linked as a program or a static program of the same
// machine fails), whose entry point lies on its code, with its program headers, loaded segments
// and section table inside the file, so a cut copy fails. When the running program's own file
// cannot be read, nothing is taken. Packages and protocol uploads carry no checksum, so the USB
// upgrade and register 14 both ask this before anything is swapped in.
namespace program_image {

// Empty when the bytes are such a program, else the reason they are not.
std::string refusal(const uint8_t* data, uint64_t size);
// The same, judged against the program in the file runningProgram (a resolved path) instead of
// the running program's own file.
std::string refusal(const uint8_t* data, uint64_t size, const std::string& runningProgram);
// The same for a file on this machine (a resolved path); a file that cannot be read is refused.
std::string fileRefusal(const std::string& hostPath);

}
