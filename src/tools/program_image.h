#pragma once
#include <cstdint>
#include <string>

// What the launcher starts after an application swap must be a program this box can run: an ELF
// executable of the running program's own kind (identification, machine, program interpreter
// with its closing zero, the flag of a position-independent program on a shared object, and the
// Qt libraries every build of this program is linked with, so a shared library, a library linked
// as a program or a static program of the same machine fails), whose entry point lies on its
// code, with its program headers, loaded segments and section table inside the file, so a cut
// copy fails. Packages and protocol uploads carry no checksum, so the USB upgrade and register 14
// both ask this before anything is swapped in.
namespace program_image {

// Empty when the bytes are such a program, else the reason they are not.
std::string refusal(const uint8_t* data, uint64_t size);
// The same for a file on this machine (a resolved path); a file that cannot be read is refused.
std::string fileRefusal(const std::string& hostPath);

}
