#include "tools/program_image.h"

#include "base/fd_io.h"

#include <cerrno>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <functional>
#include <sys/stat.h>
#include <type_traits>
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

// What tells a program of this system from a shared library or a static program of the same
// machine: the program interpreter it names, and the loader's flag of a position-independent
// program (a library has neither; the C library names an interpreter but is not flagged).
struct Kind {
    std::string interpreter;
    bool pie = false;
};

// The loader's entry that flags a position-independent program.
bool flagsPie(const Dyn& d)
{
    return d.d_tag == DT_FLAGS_1 && (d.d_un.d_val & DF_1_PIE);
}

// The running program's, from its headers as the loader mapped them.
const Kind& running()
{
    static const Kind kind = [] {
        Kind k;
        dl_iterate_phdr(
            [](dl_phdr_info* info, size_t, void* out) {
                Kind& k = *static_cast<Kind*>(out);
                for (int i = 0; i < info->dlpi_phnum; ++i) {
                    const auto& p = info->dlpi_phdr[i];
                    if (p.p_type == PT_INTERP)
                        k.interpreter = reinterpret_cast<const char*>(info->dlpi_addr + p.p_vaddr);
                    if (p.p_type == PT_DYNAMIC)
                        for (auto d = reinterpret_cast<const Dyn*>(info->dlpi_addr + p.p_vaddr); d->d_tag != DT_NULL; ++d)
                            k.pie = k.pie || flagsPie(*d);
                }
                return 1; // the first object is the program itself
            },
            &k);
        return k;
    }();
    return kind;
}

// Reads n bytes at a position of the image; false when they are not all there.
using ReadFn = std::function<bool(uint64_t position, void* out, size_t n)>;

bool inside(uint64_t offset, uint64_t length, uint64_t size) { return offset <= size && length <= size - offset; }

std::string check(uint64_t size, const ReadFn& read)
{
    unsigned char ident[EI_NIDENT];
    if (!inside(0, sizeof ident, size) || !read(0, ident, sizeof ident) || std::memcmp(ident, ELFMAG, SELFMAG) != 0)
        return "not a program";
    if (ident[EI_CLASS] != kClass)
        return "program of another word size";
    if (ident[EI_DATA] != kData)
        return "program of another byte order";
    if (ident[EI_VERSION] != EV_CURRENT)
        return "program of an unknown format version";
    Ehdr h;
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
    bool loads = false;
    Kind kind;
    for (uint64_t i = 0; i < h.e_phnum; ++i) {
        Phdr p;
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
            kind.interpreter = name.c_str();
        }
        // An empty segment's offset was not checked above: its end would wrap past 2^64.
        if (p.p_type == PT_DYNAMIC && p.p_filesz) {
            for (uint64_t at = p.p_offset, end = p.p_offset + p.p_filesz; at + sizeof(Dyn) <= end; at += sizeof(Dyn)) {
                Dyn d;
                if (!read(at, &d, sizeof d) || d.d_tag == DT_NULL)
                    break;
                kind.pie = kind.pie || flagsPie(d);
            }
        }
    }
    if (!loads)
        return "program without loadable segments";
    // Of the running program's kind: a library or a static program would be started by the
    // launcher all the same and leave the box without a panel.
    const Kind& own = running();
    if (kind.interpreter != own.interpreter) {
        if (!kind.interpreter.empty())
            return "program for another system";
        return h.e_type == ET_DYN && !kind.pie ? "shared library, not a program" : "static program, not of this system";
    }
    if (h.e_type == ET_DYN && own.pie && !kind.pie)
        return "shared library, not a program";
    // The section table ends a linked program: a copy cut anywhere loses it.
    if (h.e_shoff != 0) {
        if (h.e_shentsize != sizeof(Shdr))
            return "section headers damaged";
        if (!inside(h.e_shoff, uint64_t(h.e_shnum ? h.e_shnum : 1) * sizeof(Shdr), size))
            return "program cut short";
    }
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
