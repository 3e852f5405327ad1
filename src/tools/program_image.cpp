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
// (a library has neither; the C library names an interpreter but is not flagged), and the
// libraries it is linked with.
struct Kind {
    std::string interpreter;
    bool pie = false;
    std::vector<std::string> needed;
};

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

// The names the dynamic section lists as needed, from its string table; the first 256 names of
// at most 255 characters (a program names a few dozen libraries).
void neededNames(const std::vector<Phdr>& segments, const std::vector<Dyn>& dynamic, uint64_t size, const ReadFn& read,
                 std::vector<std::string>& out)
{
    constexpr size_t kNames = 256, kLongest = 255;
    uint64_t table = 0, tableSize = 0, at = 0;
    for (const Dyn& d : dynamic) {
        if (d.d_tag == DT_STRTAB)
            table = d.d_un.d_ptr;
        if (d.d_tag == DT_STRSZ)
            tableSize = d.d_un.d_val;
    }
    if (!fileOffset(segments, table, at) || !inside(at, tableSize, size))
        return;
    for (const Dyn& d : dynamic) {
        if (d.d_tag != DT_NEEDED || d.d_un.d_val >= tableSize || out.size() == kNames)
            continue;
        char name[kLongest + 1] = {};
        const size_t n = size_t(std::min<uint64_t>(kLongest, tableSize - d.d_un.d_val));
        if (read(at + d.d_un.d_val, name, n))
            out.emplace_back(name, strnlen(name, n));
    }
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
    // the headers at its start (a library linked as a program starts at 0, on its ELF header).
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
    neededNames(segments, dynamic, size, read, kind.needed);
    return std::string();
}

// The running program's kind, from its own file.
const Kind& running()
{
    static const Kind kind = [] {
        Kind k;
        const int fd = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
        struct stat st;
        Image own;
        if (fd >= 0 && ::fstat(fd, &st) == 0 &&
            parse(uint64_t(st.st_size), [fd](uint64_t position, void* out, size_t n) { return readFullyAt(fd, position, out, n); },
                  own)
                .empty())
            k = own.kind;
        if (fd >= 0)
            ::close(fd);
        return k;
    }();
    return kind;
}

std::string check(uint64_t size, const ReadFn& read)
{
    Image image;
    const std::string damaged = parse(size, read, image);
    if (!damaged.empty())
        return damaged;
    const Ehdr& h = image.h;
    const Kind& kind = image.kind;
    // Of the running program's kind: a library or a static program would be started by the
    // launcher all the same and leave the box without a panel.
    const Kind& own = running();
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
    return std::string();
}

}

std::string refusal(const uint8_t* data, uint64_t size)
{
    if (!data)
        return "not a program";
    return check(size, [&](uint64_t position, void* out, size_t n) {
        if (!inside(position, n, size))
            return false;
        std::memcpy(out, data + position, n);
        return true;
    });
}

std::string fileRefusal(const std::string& hostPath)
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
    return check(uint64_t(st.st_size), [fd](uint64_t position, void* out, size_t n) { return readFullyAt(fd, position, out, n); });
}

}
