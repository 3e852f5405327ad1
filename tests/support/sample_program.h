#pragma once
#include <QFile>
#include <cstdint>
#include <string>
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
