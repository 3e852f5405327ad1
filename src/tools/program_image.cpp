#include "tools/program_image.h"

#include "base/fd_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <type_traits>
#include <vector>
#include <unistd.h>

namespace program_image {

namespace {

// The running program's kind, as it was built.
constexpr bool k64 = sizeof(void*) == 8;
using Ehdr = std::conditional_t<k64, Elf64_Ehdr, Elf32_Ehdr>;
using Phdr = std::conditional_t<k64, Elf64_Phdr, Elf32_Phdr>;
using Shdr = std::conditional_t<k64, Elf64_Shdr, Elf32_Shdr>;
using Dyn = std::conditional_t<k64, Elf64_Dyn, Elf32_Dyn>;
using Sym = std::conditional_t<k64, Elf64_Sym, Elf32_Sym>;
using Addr = std::conditional_t<k64, Elf64_Addr, Elf32_Addr>;
constexpr unsigned char kClass = k64 ? ELFCLASS64 : ELFCLASS32;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr unsigned char kData = ELFDATA2LSB;
#else
constexpr unsigned char kData = ELFDATA2MSB;
#endif
#if defined(__x86_64__)
constexpr uint16_t kMachine = EM_X86_64;
#elif defined(__aarch64__)
constexpr uint16_t kMachine = EM_AARCH64;
#elif defined(__arm__)
constexpr uint16_t kMachine = EM_ARM;
#elif defined(__i386__)
constexpr uint16_t kMachine = EM_386;
#else
#error "the machine of this program is not known to the application check"
#endif

// Reads n bytes at a position of the image; false when they are not all there.
using ReadFn = std::function<bool(uint64_t position, void* out, size_t n)>;

bool inside(uint64_t offset, uint64_t length, uint64_t size) { return offset <= size && length <= size - offset; }

// What tells a program of this system from a shared library or a static program of the same
// machine: the program interpreter it names, the loader's flag of a position-independent program
// (a library has neither; the C library names an interpreter but is not flagged), the libraries
// it is linked with, and the C library's start routine among its imports (below).
struct Kind {
    std::string interpreter;
    bool pie = false;
    std::vector<std::string> needed;
    bool libcStart = false;
};

// The routine of the C library that the start code of a dynamically linked program calls with
// main: the start files (crt1) import it, so every such program names it, stripped or not. A
// library linked as a program (-shared with -pie, or -pie without start files) has no start code:
// the linker puts its entry at the start of its code, and it dies as soon as it is started. A
// static program carries its start code within and imports nothing.
constexpr char kLibcStart[] = "__libc_start_main";

// The loader's entry that flags a position-independent program.
bool flagsPie(const Dyn& d)
{
    return d.d_tag == DT_FLAGS_1 && (d.d_un.d_val & DF_1_PIE);
}

// The libraries every build of this program is linked with: it is a Qt Widgets application, and
// the box's Qt libraries come with its system, never with an application upgrade. A next version
// of the program names them as the running one does, whatever else it adds or drops; a library
// linked as a program, a test or a tool does not. The running program's own names are taken, so
// the rule follows the Qt its system has.
bool everyBuildNeeds(const std::string& name)
{
    if (name.compare(0, 5, "libQt") != 0)
        return false;
    size_t at = 5;
    while (at < name.size() && name[at] >= '0' && name[at] <= '9')
        ++at;
    for (const char* module : {"Core.so", "Gui.so", "Widgets.so"})
        if (name.compare(at, std::strlen(module), module) == 0)
            return true;
    return false;
}

// The file offset of a loaded address; false when no segment holds it in the file.
bool fileOffset(const std::vector<Phdr>& segments, uint64_t address, uint64_t& offset, bool executable = false)
{
    for (const Phdr& p : segments) {
        if (p.p_type != PT_LOAD || (executable && !(p.p_flags & PF_X)))
            continue;
        if (address >= p.p_vaddr && address - p.p_vaddr < p.p_filesz) {
            offset = p.p_offset + (address - p.p_vaddr);
            return true;
        }
    }
    return false;
}

// The dynamic section's string table, whole; empty when the file does not hold it.
std::string dynamicStrings(const std::vector<Phdr>& segments, const std::vector<Dyn>& dynamic, uint64_t size,
                           const ReadFn& read)
{
    uint64_t table = 0, tableSize = 0, at = 0;
    for (const Dyn& d : dynamic) {
        if (d.d_tag == DT_STRTAB)
            table = d.d_un.d_ptr;
        if (d.d_tag == DT_STRSZ)
            tableSize = d.d_un.d_val;
    }
    std::string strings;
    if (!fileOffset(segments, table, at) || !inside(at, tableSize, size))
        return strings;
    strings.resize(size_t(tableSize));
    if (!read(at, &strings[0], strings.size()))
        strings.clear();
    return strings;
}

// The names the dynamic section lists as needed; the first 256 names of at most 255 characters
// (a program names a few dozen libraries).
void neededNames(const std::vector<Dyn>& dynamic, const std::string& strings, std::vector<std::string>& out)
{
    constexpr size_t kNames = 256, kLongest = 255;
    for (const Dyn& d : dynamic) {
        if (d.d_tag != DT_NEEDED || d.d_un.d_val >= strings.size() || out.size() == kNames)
            continue;
        const char* name = strings.c_str() + d.d_un.d_val;
        out.emplace_back(name, strnlen(name, std::min<size_t>(kLongest, strings.size() - d.d_un.d_val)));
    }
}

// Reads `count` records of T from `at` a chunk at a time and hands them to fn in order until it
// returns false; false when they are not all in the file.
template <typename T, typename Fn> bool readEach(uint64_t at, uint64_t count, uint64_t size, const ReadFn& read, Fn fn)
{
    if (!inside(at, count * sizeof(T), size))
        return false;
    T chunk[64];
    for (uint64_t done = 0; done < count;) {
        const size_t n = size_t(std::min<uint64_t>(64, count - done));
        if (!read(at + done * sizeof(T), chunk, n * sizeof(T)))
            return false;
        for (size_t i = 0; i < n; ++i)
            if (!fn(chunk[i]))
                return true;
        done += n;
    }
    return true;
}

// The number of dynamic symbols. The loader never needs it, so a file states it only indirectly:
// the section table gives the table's size; the classic hash table counts every symbol; the GNU one
// hashes only the symbols a file defines, placed after those it takes from others, so its last
// chain ends at the last symbol. For a file that defines none, GNU ld writes a fixed GNU table (one
// empty bucket, first hashed index 1) that says nothing of the symbols before it. 0 when no count
// can be had or the table is not in the file.
uint64_t symbolCount(const Ehdr& h, const std::vector<Phdr>& segments, uint64_t symbolsAt, uint64_t hash,
                     uint64_t gnuHash, uint64_t size, const ReadFn& read)
{
    // Only a section that describes the very table the loader reads is taken.
    for (uint64_t i = 0; h.e_shoff && i < h.e_shnum; ++i) {
        Shdr s;
        if (!read(h.e_shoff + i * sizeof(Shdr), &s, sizeof s))
            break;
        if (s.sh_type == SHT_DYNSYM && s.sh_offset == symbolsAt && s.sh_entsize == sizeof(Sym) &&
            inside(s.sh_offset, s.sh_size, size))
            return s.sh_size / sizeof(Sym);
    }
    uint64_t at = 0;
    uint32_t head[4];
    if (hash && fileOffset(segments, hash, at) && inside(at, 8, size) && read(at, head, 8))
        return head[1];
    if (!gnuHash || !fileOffset(segments, gnuHash, at) || !inside(at, sizeof head, size) || !read(at, head, sizeof head))
        return 0;
    // Buckets, symbol index of the first hashed symbol, Bloom filter words (machine words), shift.
    const uint64_t buckets = head[0], first = head[1];
    const uint64_t bucketsAt = at + sizeof head + uint64_t(head[2]) * sizeof(Addr);
    uint64_t last = 0;
    if (!readEach<uint32_t>(bucketsAt, buckets, size, read, [&](uint32_t b) {
            last = std::max<uint64_t>(last, b);
            return true;
        }))
        return 0;
    if (last < first)
        return first;
    // Follow the chain of the highest bucket to its end: bit 0 marks a chain's last symbol.
    const uint64_t chainAt = bucketsAt + buckets * 4;
    for (uint64_t i = last;; ++i) {
        uint32_t word = 0;
        const uint64_t wordAt = chainAt + (i - first) * 4;
        if (!inside(wordAt, 4, size) || !read(wordAt, &word, 4))
            return 0;
        if (word & 1)
            return i + 1;
    }
}

// Whether the dynamic symbols name a routine the program takes from a library.
bool imports(const Ehdr& h, const std::vector<Phdr>& segments, const std::vector<Dyn>& dynamic,
             const std::string& strings, uint64_t size, const ReadFn& read, const char* routine)
{
    uint64_t symbols = 0, hash = 0, gnuHash = 0, at = 0;
    for (const Dyn& d : dynamic) {
        if (d.d_tag == DT_SYMTAB)
            symbols = d.d_un.d_ptr;
        else if (d.d_tag == DT_HASH)
            hash = d.d_un.d_ptr;
        else if (d.d_tag == DT_GNU_HASH)
            gnuHash = d.d_un.d_ptr;
        else if (d.d_tag == DT_SYMENT && d.d_un.d_val != sizeof(Sym))
            return false;
    }
    if (!symbols || !fileOffset(segments, symbols, at))
        return false;
    bool found = false;
    readEach<Sym>(at, symbolCount(h, segments, at, hash, gnuHash, size, read), size, read, [&](const Sym& sym) {
        found = sym.st_shndx == SHN_UNDEF && sym.st_name < strings.size() &&
                std::strcmp(strings.c_str() + sym.st_name, routine) == 0;
        return !found;
    });
    return found;
}

// What the check reads of an image.
struct Image {
    Ehdr h;
    Kind kind;
    bool entryOnCode = false;
};

// The image's layout checked and its kind read; empty when it is a whole program of this
// machine, else the reason it is not.
std::string parse(uint64_t size, const ReadFn& read, Image& image)
{
    Ehdr& h = image.h;
    Kind& kind = image.kind;
    unsigned char ident[EI_NIDENT];
    if (!inside(0, sizeof ident, size) || !read(0, ident, sizeof ident) || std::memcmp(ident, ELFMAG, SELFMAG) != 0)
        return "not a program";
    if (ident[EI_CLASS] != kClass)
        return "program of another word size";
    if (ident[EI_DATA] != kData)
        return "program of another byte order";
    if (ident[EI_VERSION] != EV_CURRENT)
        return "program of an unknown format version";
    if (!inside(0, sizeof h, size) || !read(0, &h, sizeof h))
        return "program cut short";
    if (h.e_machine != kMachine)
        return "program for another machine";
    if (h.e_type != ET_EXEC && h.e_type != ET_DYN)
        return "not an executable";
    if (h.e_phentsize != sizeof(Phdr) || h.e_phnum == 0 || h.e_phnum == PN_XNUM)
        return "program headers damaged";
    if (!inside(h.e_phoff, uint64_t(h.e_phnum) * sizeof(Phdr), size))
        return "program cut short";
    std::vector<Phdr> segments(h.e_phnum);
    std::vector<Dyn> dynamic;
    bool loads = false;
    for (uint64_t i = 0; i < h.e_phnum; ++i) {
        Phdr& p = segments[i];
        if (!read(h.e_phoff + i * sizeof(Phdr), &p, sizeof p))
            return "program cut short";
        // Every segment the loader reads from the file must be there whole.
        if (p.p_filesz && !inside(p.p_offset, p.p_filesz, size))
            return "program cut short";
        loads = loads || p.p_type == PT_LOAD;
        if (p.p_type == PT_INTERP) {
            if (p.p_filesz == 0 || p.p_filesz > 4096)
                return "program interpreter damaged";
            std::string name(size_t(p.p_filesz), '\0');
            if (!read(p.p_offset, &name[0], name.size()))
                return "program cut short";
            // The kernel takes the name only with its closing zero.
            if (name.back() != '\0')
                return "program interpreter damaged";
            kind.interpreter = name.c_str();
        }
        // An empty segment's offset was not checked above: its end would wrap past 2^64.
        if (p.p_type == PT_DYNAMIC && p.p_filesz) {
            for (uint64_t at = p.p_offset, end = p.p_offset + p.p_filesz; at + sizeof(Dyn) <= end; at += sizeof(Dyn)) {
                Dyn d;
                if (!read(at, &d, sizeof d) || d.d_tag == DT_NULL)
                    break;
                kind.pie = kind.pie || flagsPie(d);
                dynamic.push_back(d);
            }
        }
    }
    if (!loads)
        return "program without loadable segments";
    // The entry point lies on code the file holds: inside an executable loaded segment, not on
    // the headers at its start, where a damaged header may point.
    uint64_t entry = 0;
    image.entryOnCode = fileOffset(segments, h.e_entry, entry, true) && entry >= sizeof(Ehdr) &&
                        !(entry >= h.e_phoff && entry - h.e_phoff < uint64_t(h.e_phnum) * sizeof(Phdr));
    // The section table ends a linked program: a copy cut anywhere loses it.
    if (h.e_shoff != 0) {
        if (h.e_shentsize != sizeof(Shdr))
            return "section headers damaged";
        if (!inside(h.e_shoff, uint64_t(h.e_shnum ? h.e_shnum : 1) * sizeof(Shdr), size))
            return "program cut short";
    }
    const std::string strings = dynamicStrings(segments, dynamic, size, read);
    neededNames(dynamic, strings, kind.needed);
    kind.libcStart = imports(h, segments, dynamic, strings, size, read, kLibcStart);
    return std::string();
}

// A regular file read through fn(size, read); a file that cannot be read is refused.
std::string onFile(const std::string& hostPath, const std::function<std::string(uint64_t, const ReadFn&)>& fn)
{
    const int fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "program cannot be opened";
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return "not a program";
    return fn(uint64_t(st.st_size), [fd](uint64_t position, void* out, size_t n) { return readFullyAt(fd, position, out, n); });
}

// The program a candidate is judged against: the running one.
struct Reference {
    bool read = false;
    Kind kind;
};

Reference readReference(const std::string& hostPath)
{
    Reference r;
    Image own;
    r.read = onFile(hostPath, [&](uint64_t size, const ReadFn& read) { return parse(size, read, own); }).empty();
    if (r.read)
        r.kind = own.kind;
    return r;
}

// The running program's kind, from its own file, once.
const Reference& running()
{
    static const Reference reference = readReference("/proc/self/exe");
    return reference;
}

std::string check(uint64_t size, const ReadFn& read, const Reference& reference)
{
    // Without the running program to compare with, nothing can be told to be of its kind: an
    // empty kind would refuse every dynamic program and take a static one.
    if (!reference.read)
        return "running program could not be read";
    Image image;
    const std::string damaged = parse(size, read, image);
    if (!damaged.empty())
        return damaged;
    const Ehdr& h = image.h;
    const Kind& kind = image.kind;
    // Of the running program's kind: a library or a static program would be started by the
    // launcher all the same and leave the box without a panel.
    const Kind& own = reference.kind;
    if (kind.interpreter != own.interpreter) {
        if (!kind.interpreter.empty())
            return "program for another system";
        return h.e_type == ET_DYN && !kind.pie ? "shared library, not a program" : "static program, not of this system";
    }
    // Position-independent or not, a program is flagged as one; a shared object without the flag
    // is a library, whatever the running program is.
    if (h.e_type == ET_DYN && !kind.pie)
        return "shared library, not a program";
    if (!image.entryOnCode)
        return "program entry point outside its code";
    for (const std::string& name : own.needed)
        if (everyBuildNeeds(name) && std::find(kind.needed.begin(), kind.needed.end(), name) == kind.needed.end())
            return "program without this system's Qt libraries";
    // Started by the C library as the running program is.
    if (own.libcStart && !kind.libcStart)
        return "program without the C library's start code";
    return std::string();
}

std::string inMemory(const uint8_t* data, uint64_t size, const Reference& reference)
{
    if (!data)
        return "not a program";
    return check(size, [&](uint64_t position, void* out, size_t n) {
        if (!inside(position, n, size))
            return false;
        std::memcpy(out, data + position, n);
        return true;
    }, reference);
}

}

std::string refusal(const uint8_t* data, uint64_t size)
{
    return inMemory(data, size, running());
}

std::string refusal(const uint8_t* data, uint64_t size, const std::string& runningProgram)
{
    return inMemory(data, size, readReference(runningProgram));
}

std::string fileRefusal(const std::string& hostPath)
{
    return onFile(hostPath, [](uint64_t size, const ReadFn& read) { return check(size, read, running()); });
}

}
