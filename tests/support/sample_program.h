#pragma once
#include <QFile>
#include <cstdint>
#include <vector>

// The sample program built with the tests (support/sample_program.c), for the machine they run
// on: under qemu-arm an ARM program. padTo > its size appends bytes that change nothing the
// loader reads, for checks that need a large program.
inline std::vector<uint8_t> sampleProgram(size_t padTo = 0)
{
    QFile f(QStringLiteral(VYR_SAMPLE_PROGRAM));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = f.readAll();
    std::vector<uint8_t> out(bytes.begin(), bytes.end());
    if (padTo > out.size())
        out.resize(padTo, 0xA5);
    return out;
}
