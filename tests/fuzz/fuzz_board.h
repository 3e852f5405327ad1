#pragma once
// What every fuzz target stands on: a private root (in /dev/shm) with the simulated board, the
// program's pauses shortened to nothing and the board's reboot turned into nothing, so an input
// that asks for one goes on to the next input.
#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace FuzzBoard {
void start(); // once per process; later calls do nothing
// Replaces the file at a program path (under the root) with the bytes; creates its folders.
void writeFile(const std::string& absolute, const uint8_t* data, size_t size);
void writeFile(const std::string& absolute, const QByteArray& contents);
void removeFile(const std::string& absolute);
// The input cut at every occurrence of separator (the dictionaries hold it), so one input carries
// a sequence of requests, events or files.
std::vector<QByteArray> split(const uint8_t* data, size_t size, const char* separator);
// A check of a target failed: prints "fuzz check failed: " and the text, and aborts, which
// libFuzzer reports with the input.
[[noreturn]] void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The end of an input: runs what the readers queued for the GUI thread, fails (aborts) on any
// rule breach an emulated chip recorded, as the tests do, and drops the chips' call logs, so
// that neither piles up over millions of inputs.
void settle();
}
