// The application check on a real program built with the tests (for the machine they run on,
// an ARM program under qemu-arm), on the programs of this build and on copies and builds of them
// that are cut, changed or not programs at all.
#include "tools/program_image.h"
#include "comm/file_transfer.h"
#include "tools/program_check.h"
#include "platform/paths.h"
#include "tools/upgrade_package.h"
#include "program.h"
#include "sample_program.h"
#include "test_root.h"
#include "time_limit.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDateTime>
#include <QDirIterator>
#include <QFileInfo>
#include <chrono>
#include <cstdlib>
#include <sys/wait.h>
#include <algorithm>
#include <cstring>
#include <link.h>
#include <functional>
#include <string>
#include <utility>

namespace {

// ELF header fields as the file format places them (identification bytes, then e_type at 16 and
// e_machine at 18, little-endian on the machines the tests run on).
constexpr size_t kClassAt = 4, kDataAt = 5, kTypeAt = 16, kMachineAt = 18;
constexpr uint16_t kArm = 40, kX86_64 = 62;

uint16_t le16(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
void put16(std::vector<uint8_t>& b, size_t at, uint16_t v)
{
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}

// The C library the tests run with: a shared library that names the program interpreter.
std::string cLibrary()
{
    std::string path;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* out) {
            const std::string name = info->dlpi_name ? info->dlpi_name : "";
            if (name.find("/libc.so") != std::string::npos)
                *static_cast<std::string*>(out) = name;
            return 0;
        },
        &path);
    return path;
}

// The interpreter's name ("/lib.../ld-linux...") near the start of the program, one letter changed.
void renameInterpreter(std::vector<uint8_t>& b)
{
    const std::string ld = "ld-linux";
    const auto at = std::search(b.begin(), b.begin() + long(std::min<size_t>(b.size(), 4096)), ld.begin(), ld.end());
    ASSERT_NE(at - b.begin(), long(std::min<size_t>(b.size(), 4096))) << "the interpreter is named";
    at[3] = 'L';
}

using Ehdr = ElfW(Ehdr);
using Phdr = ElfW(Phdr);

// The program with its ELF header or one of its program headers changed as edit says.
std::vector<uint8_t> withHeader(std::vector<uint8_t> b, const std::function<void(Ehdr&)>& edit)
{
    Ehdr h;
    std::memcpy(&h, b.data(), sizeof h);
    edit(h);
    std::memcpy(b.data(), &h, sizeof h);
    return b;
}
std::vector<uint8_t> withSegment(std::vector<uint8_t> b, uint32_t type, const std::function<void(Phdr&)>& edit)
{
    Ehdr h;
    std::memcpy(&h, b.data(), sizeof h);
    for (size_t i = 0; i < h.e_phnum; ++i) {
        Phdr p;
        std::memcpy(&p, b.data() + h.e_phoff + i * sizeof p, sizeof p);
        if (p.p_type == type) {
            edit(p);
            std::memcpy(b.data() + h.e_phoff + i * sizeof p, &p, sizeof p);
        }
    }
    return b;
}
// Where a segment of that type is loaded.
uint64_t segmentAddress(const std::vector<uint8_t>& b, uint32_t type)
{
    uint64_t address = 0;
    withSegment(b, type, [&](Phdr& p) { address = p.p_vaddr; });
    return address;
}

// The program as a file without its section table (the loader needs none).
std::vector<uint8_t> withoutSections(const std::vector<uint8_t>& b)
{
    return withHeader(b, [](Ehdr& h) {
        h.e_shoff = 0;
        h.e_shnum = 0;
        h.e_shstrndx = 0;
    });
}
// The header of the first section of the given type (sh_type 0 where there is none).
ElfW(Shdr) section(const std::vector<uint8_t>& b, uint32_t type)
{
    Ehdr h;
    std::memcpy(&h, b.data(), sizeof h);
    ElfW(Shdr) s{};
    for (size_t i = 0; i < h.e_shnum; ++i) {
        std::memcpy(&s, b.data() + h.e_shoff + i * sizeof s, sizeof s);
        if (s.sh_type == type)
            return s;
    }
    return ElfW(Shdr){};
}

// The second word of the GNU hash table, which a count taken from it wrongly stops at: the index
// of its first hashed symbol.
uint32_t gnuFirstHashed(const std::vector<uint8_t>& b)
{
    uint32_t w[2] = {};
    const ElfW(Shdr) s = section(b, SHT_GNU_HASH);
    if (s.sh_type)
        std::memcpy(w, b.data() + s.sh_offset, sizeof w);
    return w[1];
}

// The index of the dynamic symbol of that name, or -1.
long dynamicSymbol(const std::vector<uint8_t>& b, const char* name)
{
    Ehdr h;
    std::memcpy(&h, b.data(), sizeof h);
    const ElfW(Shdr) syms = section(b, SHT_DYNSYM);
    ElfW(Shdr) strs{};
    std::memcpy(&strs, b.data() + h.e_shoff + syms.sh_link * sizeof strs, sizeof strs);
    for (size_t i = 0; syms.sh_type && i < syms.sh_size / sizeof(ElfW(Sym)); ++i) {
        ElfW(Sym) sym;
        std::memcpy(&sym, b.data() + syms.sh_offset + i * sizeof sym, sizeof sym);
        if (std::strcmp(reinterpret_cast<const char*>(b.data() + strs.sh_offset + sym.st_name), name) == 0)
            return long(i);
    }
    return -1;
}

// The programs this build makes: on the simulated board, for the box, and the box's as shipped.
constexpr const char* kSimProgram = VYR_BINARY_DIR "/vyrR58N";
constexpr const char* kBoardProgram = VYR_BINARY_DIR "/board/vyrR58N";
constexpr const char* kShippedProgram = VYR_BINARY_DIR "/board/vyrR58N.shipped";

// 116 bytes of text, as a package's application entry held it.
std::vector<uint8_t> text()
{
    std::string t = "This package was built without the program. Please build again and copy the new package to the stick.";
    t.resize(116, '!');
    return std::vector<uint8_t>(t.begin(), t.end());
}

}

TEST(ProgramImage, OnlyAWholeProgramOfThisMachineIsAccepted)
{
    const std::vector<uint8_t> real = sampleProgram();
    ASSERT_GT(real.size(), 1000u) << "the sample program is built with the tests";
    const uint16_t machine = le16(real, kMachineAt);
    // GNU ld's table of a file that defines no symbol starts hashing past the C library's start
    // code (x86-64: a fixed table, first hashed symbol 1; ARM: the imports it hashes come later).
    const std::vector<uint8_t> noExports = sampleProgram(0, VYR_SAMPLE_NO_EXPORTS);
    ASSERT_GT(noExports.size(), 1000u);
    ASSERT_GE(dynamicSymbol(noExports, "__libc_start_main"), long(gnuFirstHashed(noExports)));
    struct Row {
        const char* what;
        std::function<std::vector<uint8_t>()> make;
        bool accepted;
    };
    auto edited = [&](const std::function<void(std::vector<uint8_t>&)>& edit) {
        std::vector<uint8_t> b = real;
        edit(b);
        return b;
    };
    const std::vector<Row> rows = {
        {"the real program", [&] { return real; }, true},
        {"this build's program on the simulated board", [] { return sampleProgram(0, kSimProgram); }, true},
        {"this build's program for the box", [] { return sampleProgram(0, kBoardProgram); }, true},
        {"the box's program as shipped", [] { return sampleProgram(0, kShippedProgram); }, true},
        {"the real program with bytes behind it", [&] { return sampleProgram(real.size() + 5000); }, true},
        // Counted from the section table, the classic hash table or the GNU one's last chain.
        {"a program exporting no symbol, linked by GNU ld", [&] { return noExports; }, true},
        {"the same with the classic hash table, without its section table",
         [] { return withoutSections(sampleProgram(0, VYR_SAMPLE_NO_EXPORTS_SYSV)); }, true},
        {"this build's program on the simulated board without its section table",
         [] { return withoutSections(sampleProgram(0, kSimProgram)); }, true},
        {"116 bytes of text", [&] { return text(); }, false},
        {"nothing", [&] { return std::vector<uint8_t>(); }, false},
        {"the identification only", [&] { return std::vector<uint8_t>(real.begin(), real.begin() + 16); }, false},
        {"the ELF header only", [&] { return std::vector<uint8_t>(real.begin(), real.begin() + 64); }, false},
        {"cut to half", [&] { return std::vector<uint8_t>(real.begin(), real.begin() + long(real.size() / 2)); }, false},
        {"one byte short", [&] { return std::vector<uint8_t>(real.begin(), real.end() - 1); }, false},
        {"another machine", [&] { return edited([&](auto& b) { put16(b, kMachineAt, machine == kArm ? kX86_64 : kArm); }); }, false},
        {"another word size", [&] { return edited([](auto& b) { b[kClassAt] = b[kClassAt] == 1 ? 2 : 1; }); }, false},
        {"another byte order", [&] { return edited([](auto& b) { b[kDataAt] = b[kDataAt] == 1 ? 2 : 1; }); }, false},
        {"an object file, not an executable", [&] { return edited([](auto& b) { put16(b, kTypeAt, 1); }); }, false},
        {"magic damaged", [&] { return edited([](auto& b) { b[1] = 'e'; }); }, false},
        {"a shared library of this machine", [] { return sampleProgram(0, VYR_SAMPLE_LIBRARY); }, false},
        {"a static program of this machine", [] { return sampleProgram(0, VYR_SAMPLE_STATIC); }, false},
        {"the C library, which names the interpreter", [] { return sampleProgram(0, cLibrary().c_str()); }, false},
        {"a program for another interpreter", [&] { return edited([](auto& b) { renameInterpreter(b); }); }, false},
        // Both name the interpreter and carry the program flag; neither names the Qt libraries.
        {"a library linked as a program without start files", [] { return sampleProgram(0, VYR_SAMPLE_PIE_LIBRARY); }, false},
        {"a shared object linked -pie with the interpreter", [] { return sampleProgram(0, VYR_SAMPLE_SHARED_PIE); }, false},
        // The same two of the program's own kind of code: Qt libraries named, no C start code.
        {"the Qt program linked as a library without start files", [] { return sampleProgram(0, VYR_SAMPLE_QT_PIE_LIBRARY); }, false},
        {"the Qt program as a shared object linked -pie", [] { return sampleProgram(0, VYR_SAMPLE_QT_SHARED_PIE); }, false},
        {"entry point 0, on the ELF header", [&] { return withHeader(real, [](Ehdr& h) { h.e_entry = 0; }); }, false},
        {"entry point on the program headers", [&] { return withHeader(real, [](Ehdr& h) { h.e_entry = h.e_phoff; }); }, false},
        {"entry point on the dynamic section",
         [&] { return withHeader(real, [&](Ehdr& h) { h.e_entry = segmentAddress(real, PT_DYNAMIC); }); }, false},
        {"interpreter without its closing zero", [&] { return withSegment(real, PT_INTERP, [](Phdr& p) { --p.p_filesz; }); }, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::vector<uint8_t> bytes = row.make();
        const std::string inMemory = program_image::refusal(bytes.data(), bytes.size());
        EXPECT_EQ(inMemory.empty(), row.accepted) << inMemory;
        // The same answer for the file the protocol leaves behind.
        ASSERT_TRUE(TestRoot::writeFile("/data/app/candidate", QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()))));
        EXPECT_EQ(program_image::fileRefusal(platform::Paths::resolve("/data/app/candidate")), inMemory);
    }
    EXPECT_EQ(program_image::refusal(nullptr, 100), "not a program");
    EXPECT_EQ(program_image::fileRefusal(platform::Paths::resolve("/data/app/none")), "program cannot be opened");
}

// The reasons the pages and the log show.
TEST(ProgramImage, RefusalsSayWhatIsWrong)
{
    const std::vector<uint8_t> real = sampleProgram();
    ASSERT_GT(real.size(), 1000u);
    std::vector<uint8_t> other = real;
    put16(other, kMachineAt, le16(real, kMachineAt) == kArm ? kX86_64 : kArm);
    const std::vector<uint8_t> t = text();
    EXPECT_EQ(program_image::refusal(t.data(), t.size()), "not a program");
    EXPECT_EQ(program_image::refusal(other.data(), other.size()), "program for another machine");
    EXPECT_EQ(program_image::refusal(real.data(), real.size() / 2), "program cut short");
    const std::vector<uint8_t> libc = sampleProgram(0, cLibrary().c_str());
    ASSERT_GT(libc.size(), 1000u) << cLibrary();
    EXPECT_EQ(program_image::refusal(libc.data(), libc.size()), "shared library, not a program");
    std::vector<uint8_t> renamed = real;
    renameInterpreter(renamed);
    EXPECT_EQ(program_image::refusal(renamed.data(), renamed.size()), "program for another system");
    const std::vector<uint8_t> linked = sampleProgram(0, VYR_SAMPLE_PIE_LIBRARY);
    EXPECT_EQ(program_image::refusal(linked.data(), linked.size()), "program without this system's Qt libraries");
    for (const char* path : {VYR_SAMPLE_QT_PIE_LIBRARY, VYR_SAMPLE_QT_SHARED_PIE}) {
        const std::vector<uint8_t> qtLinked = sampleProgram(0, path);
        EXPECT_EQ(program_image::refusal(qtLinked.data(), qtLinked.size()), "program without the C library's start code") << path;
    }
    const std::vector<uint8_t> atZero = withHeader(real, [](Ehdr& h) { h.e_entry = 0; });
    EXPECT_EQ(program_image::refusal(atZero.data(), atZero.size()), "program entry point outside its code");
    const std::vector<uint8_t> open = withSegment(real, PT_INTERP, [](Phdr& p) { --p.p_filesz; });
    EXPECT_EQ(program_image::refusal(open.data(), open.size()), "program interpreter damaged");
}

// The check built into a program without position independence (which names no Qt library):
// the C library is still a library, the real program still a program, a library linked as a
// program still none.
TEST(ProgramImage, ASharedObjectWithoutTheProgramFlagIsALibraryWhateverChecksIt)
{
    const struct {
        std::string path;
        const char* answer;
    } rows[] = {{cLibrary(), "shared library, not a program"},
                {VYR_SAMPLE_PROGRAM, "accepted"},
                {VYR_SAMPLE_PIE_LIBRARY, "program without the C library's start code"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        Program check(platform::Paths::root(), {VYR_APP_CHECK_NO_PIE, row.path}, {});
        ASSERT_TRUE(check.started()) << check.startError();
        ASSERT_TRUE(waitFor([&] { return !check.running(); }, 5000)) << "the check ends";
        EXPECT_EQ(check.output(), std::string(row.answer) + "\n");
    }
}

// Without the running program's own file to compare with, nothing is taken: not the real program,
// nor a static one, which an unread running program would seem to be.
TEST(ProgramImage, NothingIsTakenWhenTheRunningProgramCannotBeRead)
{
    const std::vector<uint8_t> words = text();
    ASSERT_TRUE(TestRoot::writeFile("/data/app/damaged", QByteArray(reinterpret_cast<const char*>(words.data()), int(words.size()))));
    const std::vector<uint8_t> real = sampleProgram(), statics = sampleProgram(0, VYR_SAMPLE_STATIC);
    ASSERT_GT(statics.size(), 1000u);
    for (const char* running : {"/data/app/none", "/data/app/damaged"})
        for (const std::vector<uint8_t>* candidate : {&real, &statics}) {
            SCOPED_TRACE(running);
            EXPECT_EQ(program_image::refusal(candidate->data(), candidate->size(), platform::Paths::resolve(running)),
                      "running program could not be read");
        }
    // Read from a program that can be read, the same candidates are told apart, also by a running
    // program that exports no symbol.
    const std::vector<uint8_t> qtLinked = sampleProgram(0, VYR_SAMPLE_QT_PIE_LIBRARY);
    for (const char* reference : {VYR_SAMPLE_PROGRAM, VYR_SAMPLE_NO_EXPORTS}) {
        SCOPED_TRACE(reference);
        EXPECT_EQ(program_image::refusal(real.data(), real.size(), reference), "");
        EXPECT_EQ(program_image::refusal(statics.data(), statics.size(), reference), "static program, not of this system");
        EXPECT_EQ(program_image::refusal(qtLinked.data(), qtLinked.size(), reference),
                  "program without the C library's start code");
    }
}

// A package carries the box's program as shipped: it must fit the buffer that an application
// upload and a package's program entry are staged in, or the box cannot be upgraded to it.
TEST(ProgramImage, TheBoxProgramAsShippedFitsTheTransferBuffer)
{
#ifndef VYR_BUILD_SHIPS
    GTEST_SKIP() << "an unoptimised or instrumented build is never shipped";
#endif
    const QFileInfo shipped(QString::fromLocal8Bit(kShippedProgram));
    ASSERT_TRUE(shipped.isFile()) << kShippedProgram;
    EXPECT_LE(uint64_t(shipped.size()), std::min<uint64_t>(kStagingSize, upgrade::kAppMax))
        << "the program as shipped no longer fits an upload or a package";
}

// A program about to replace the running one is started once in its check mode. This build's
// programs pass it and touch nothing of the board while they do; damaged ones pass every look at
// their headers, and their start shows what is wrong.
TEST(ProgramCheck, GenuineProgramsPassTheirCheckStartAndDamagedOnesAreRefused)
{
    auto files = [] {
        QStringList out;
        for (QDirIterator it(QString::fromStdString(platform::Paths::root()), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                             QDirIterator::Subdirectories);
             it.hasNext();) {
            const QFileInfo f(it.next());
            out << f.filePath() + " " + QString::number(f.size()) + " " + f.lastModified().toString(Qt::ISODateWithMs);
        }
        out.sort();
        return out;
    };
    const QStringList before = files();
    for (const char* path : {VYR_SAMPLE_PROGRAM, kSimProgram, kBoardProgram, kShippedProgram})
        EXPECT_EQ(program_check::refusal(path), "") << path;
    EXPECT_EQ(files(), before) << "a check start touched the board's files";

    const std::vector<uint8_t> shipped = sampleProgram(0, kShippedProgram), sample = sampleProgram();
    ASSERT_FALSE(withEntryZeroed(shipped).empty());
    // Bytes no start ever reads: the section names, past everything the loader maps. Only the
    // program's digest can tell them damaged.
    std::vector<uint8_t> names = shipped;
    Ehdr h;
    std::memcpy(&h, names.data(), sizeof h);
    ElfW(Shdr) table;
    ASSERT_LT(h.e_shstrndx, h.e_shnum);
    std::memcpy(&table, names.data() + h.e_shoff + h.e_shstrndx * sizeof table, sizeof table);
    ASSERT_LE(table.sh_offset + table.sh_size, names.size());
    std::fill_n(names.begin() + long(table.sh_offset), table.sh_size, 0);
    const char* const damaged = "program failed its start check: program damaged inside";
    const char* const crashed = "program crashed at its start (signal ";
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        std::vector<const char*> reasons; // what it hits decides which
    } rows[] = {
        {"the program as shipped, 4 KiB zeroed in its middle", withMiddleZeroed(shipped), {damaged, crashed}},
        {"the program as shipped, its section names zeroed", names, {damaged}},
        {"the program as shipped, its entry point zeroed", withEntryZeroed(shipped), {crashed}},
        {"the sample program, its entry point zeroed", withEntryZeroed(sample), {crashed}},
        {"the sample program as a version without the check start", withoutSeal(sample), {"program too old for this box"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(TestRoot::writeFile("/data/app/candidate", QByteArray(reinterpret_cast<const char*>(row.bytes.data()), int(row.bytes.size()))));
        const std::string file = platform::Paths::resolve("/data/app/candidate");
        ASSERT_EQ(::chmod(file.c_str(), 0755), 0);
        EXPECT_EQ(program_image::fileRefusal(file), "") << "its headers are whole";
        const std::string refused = program_check::refusal(file);
        EXPECT_TRUE(std::any_of(row.reasons.begin(), row.reasons.end(),
                                [&](const char* r) { return refused.compare(0, std::strlen(r), r) == 0; }))
            << refused;
    }
}

// A check start that does not end is killed at its limit, with its process group, and refused.
TEST(ProgramCheck, ACheckStartThatDoesNotEndIsKilledAtItsLimit)
{
    setenv("VYR_SAMPLE_CHECK_HANGS", "1", 1);
    program_check::setTimeLimitMs(2000);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(program_check::startRefusal(VYR_SAMPLE_PROGRAM), "program did not end its start check within 2 s");
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(2000));
    EXPECT_LT(took, std::chrono::milliseconds(2000) + TimeLimit::of(2000));
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "the check's process is gone";
    EXPECT_EQ(errno, ECHILD);
    unsetenv("VYR_SAMPLE_CHECK_HANGS");
    // The same program, ending, passes, within the limit a check start has in this build.
    program_check::setTimeLimitMs(TimeLimit::ms(program_check::kTimeLimitMs));
    EXPECT_EQ(program_check::startRefusal(VYR_SAMPLE_PROGRAM), "");
}
