#pragma once
#include <QDir>
#include <QFile>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <elf.h>
#include <string>
#include <type_traits>
#include <vector>

// The sample program built with the tests (support/samples/sample_program.cpp, a Qt Widgets
// application as the box's program is), for the machine they run on: under qemu-arm an ARM
// program (path: one of the other samples, support/samples/sample_library.c built as a library,
// a static program or a library linked as a program). padTo > its size appends bytes that change
// nothing the loader reads, for checks that need a large program.
inline std::vector<uint8_t> sampleProgram(size_t padTo = 0, const char* path = VYR_SAMPLE_PROGRAM)
{
    QFile f(QString::fromLocal8Bit(path));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = f.readAll();
    std::vector<uint8_t> out(bytes.begin(), bytes.end());
    if (padTo > out.size())
        out.resize(padTo, 0xA5);
    return out;
}

// What must never be installed as the program: each with the reason the box gives.
struct NotAProgram {
    const char* what;
    std::vector<uint8_t> bytes;
    const char* reason;
};
inline std::vector<NotAProgram> notProgramsOfThisBox()
{
    const std::vector<uint8_t> real = sampleProgram();
    std::vector<uint8_t> other = real;
    if (other.size() > 19) {
        other[18] = real[18] == 40 ? 62 : 40; // e_machine: ARM <-> x86-64
        other[19] = 0;
    }
    std::string words = "This package was built without the program. Please build again and copy the new package to the stick.";
    words.resize(116, '!');
    return {
        {"116 bytes of text", std::vector<uint8_t>(words.begin(), words.end()), "not a program"},
        {"the program cut to half", std::vector<uint8_t>(real.begin(), real.begin() + long(real.size() / 2)), "program cut short"},
        {"a program of another machine", other, "program for another machine"},
        {"a shared library of this machine", sampleProgram(0, VYR_SAMPLE_LIBRARY), "shared library, not a program"},
        {"a static program of this machine", sampleProgram(0, VYR_SAMPLE_STATIC), "static program, not of this system"},
    };
}

// Damage a bad stick leaves inside a well-formed program: n bytes at its entry point zeroed, or n
// bytes zeroed in the middle of the file. Every header still reads as before.
inline std::vector<uint8_t> withEntryZeroed(std::vector<uint8_t> program, size_t n = 64)
{
    using Ehdr = std::conditional_t<sizeof(void*) == 8, Elf64_Ehdr, Elf32_Ehdr>;
    using Phdr = std::conditional_t<sizeof(void*) == 8, Elf64_Phdr, Elf32_Phdr>;
    Ehdr h;
    if (program.size() < sizeof h)
        return {};
    std::memcpy(&h, program.data(), sizeof h);
    uint64_t entry = h.e_entry;
#if defined(__arm__)
    entry &= ~uint64_t(1); // the Thumb bit
#endif
    for (size_t i = 0; i < h.e_phnum && h.e_phoff + (i + 1) * sizeof(Phdr) <= program.size(); ++i) {
        Phdr p;
        std::memcpy(&p, program.data() + h.e_phoff + i * sizeof p, sizeof p);
        if (p.p_type == PT_LOAD && (p.p_flags & PF_X) && entry >= p.p_vaddr && entry - p.p_vaddr < p.p_filesz) {
            const size_t at = size_t(p.p_offset + entry - p.p_vaddr);
            std::fill_n(program.begin() + long(at), std::min(n, program.size() - at), 0);
            return program;
        }
    }
    return {};
}
// A check start runs: a child process of the test's (the sample program under
// VYR_SAMPLE_CHECK_HANGS stays one until its time limit).
inline bool checkStartRunning()
{
    QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& t : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children(tasks.filePath(t + "/children"));
        if (children.open(QIODevice::ReadOnly) && !children.readAll().trimmed().isEmpty())
            return true;
    }
    return false;
}

// The program as a version older than the check start would be: without the seal's tag it carries.
inline std::vector<uint8_t> withoutSeal(std::vector<uint8_t> program)
{
    const std::string tag = "VYR-PROGRAM-SEAL:";
    for (auto at = program.begin(); (at = std::search(at, program.end(), tag.begin(), tag.end())) != program.end();)
        *at = 'v';
    return program;
}
inline std::vector<uint8_t> withMiddleZeroed(std::vector<uint8_t> program, size_t n = 4096)
{
    if (program.size() >= n)
        std::fill_n(program.begin() + long(program.size() / 2 - n / 2), n, 0);
    return program;
}
