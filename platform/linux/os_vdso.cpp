// The vDSO: the kernel maps a small shared object into every process and names
// its ELF header in the auxiliary vector; its gettimeofday reads the clock without
// entering the kernel. Facts relied on (elf(5), getauxval(3), vdso(7)): the
// auxiliary vector follows the environment's null as (type, value) word pairs
// ended by type 0, and type 33 (AT_SYSINFO_EHDR) is the header's address; the
// header's class byte (offset 4) is 1 for 32-bit and 2 for 64-bit objects; the
// program headers give the dynamic section (type 2) and the load offset of the
// first loadable segment (type 1: address = mapping + offset - vaddr); the dynamic
// section's DT_HASH (4) holds the symbol count as its second word, DT_STRTAB (5)
// and DT_SYMTAB (6) the tables; a defined function symbol has a section index
// other than 0 and type 2 in the low nibble of st_info. When anything is missing
// or not as expected the clock is read with the system call.
#include "vdso.h"
#include "../../framework/str.h"

namespace kzv {

namespace {

const long AUX_SYSINFO_EHDR = 33;
const u8 ELFCLASS_NATIVE = sizeof(long) == 8 ? 2 : 1;
const u32 PT_LOAD = 1, PT_DYNAMIC = 2;
const long DT_NULL = 0, DT_HASH = 4, DT_STRTAB = 5, DT_SYMTAB = 6;
const u32 STT_FUNC = 2;
const u32 VDSO_MAXHEADERS = 64;         // far more than any vDSO has
const u32 VDSO_MAXDYNAMIC = 64;
const u32 VDSO_MAXSYMBOLS = 4096;

// The native ELF layouts (64-bit on x86-64, 32-bit on i386 and ARM).
struct elfheader {
    u8 ident[16];
    u16 type, machine;
    u32 version;
    uptr entry, phoff, shoff;
    u32 flags;
    u16 ehsize, phentsize, phnum, shentsize, shnum, shstrndx;
};

#if defined(__LP64__)
struct programheader {
    u32 type, flags;
    uptr offset, vaddr, paddr, filesz, memsz, align;
};
struct symbol {
    u32 name;
    u8 info, other;
    u16 shndx;
    uptr value, size;
};
#else
struct programheader {
    u32 type;
    uptr offset, vaddr, paddr, filesz, memsz;
    u32 flags, align;
};
struct symbol {
    u32 name;
    uptr value, size;
    u8 info, other;
    u16 shndx;
};
#endif

struct dynamicentry {
    long tag;
    uptr value;
};

vdsogettimeofday found;

uptr auxvalue(char const* const* envp, long type)
{
    char const* const* p = envp;
    while (*p)
        p++;
    for (long const* aux = (long const*)(p + 1); aux[0] != 0; aux += 2)
        if (aux[0] == type)
            return (uptr)aux[1];
    return 0;
}

bool headerfits(elfheader const* h)
{
    return h->ident[0] == 0x7F && h->ident[1] == 'E' && h->ident[2] == 'L' && h->ident[3] == 'F' &&
           h->ident[4] == ELFCLASS_NATIVE && h->phentsize == sizeof(programheader) && h->phnum > 0 &&
           h->phnum <= VDSO_MAXHEADERS;
}

// The dynamic section and the load offset; false without either.
bool segments(uptr base, elfheader const* h, dynamicentry const*& dynamic, uptr& loadoffset)
{
    programheader const* ph = (programheader const*)(base + h->phoff);
    bool loaded = false;
    dynamic = nullptr;
    for (u32 i = 0; i < h->phnum; i++) {
        if (ph[i].type == PT_LOAD && !loaded) {
            loadoffset = base + ph[i].offset - ph[i].vaddr;
            loaded = true;
        } else if (ph[i].type == PT_DYNAMIC) {
            dynamic = (dynamicentry const*)(base + ph[i].offset);
        }
    }
    return loaded && dynamic;
}

void* lookup(uptr base, char const* name)
{
    elfheader const* h = (elfheader const*)base;
    dynamicentry const* dynamic = nullptr;
    uptr loadoffset = 0;
    if (!headerfits(h) || !segments(base, h, dynamic, loadoffset))
        return nullptr;
    u32 const* hash = nullptr;
    char const* strings = nullptr;
    symbol const* symbols = nullptr;
    for (u32 i = 0; i < VDSO_MAXDYNAMIC && dynamic[i].tag != DT_NULL; i++) {
        if (dynamic[i].tag == DT_HASH)
            hash = (u32 const*)(dynamic[i].value + loadoffset);
        else if (dynamic[i].tag == DT_STRTAB)
            strings = (char const*)(dynamic[i].value + loadoffset);
        else if (dynamic[i].tag == DT_SYMTAB)
            symbols = (symbol const*)(dynamic[i].value + loadoffset);
    }
    if (!hash || !strings || !symbols)
        return nullptr;
    u32 count = kzv_min(hash[1], VDSO_MAXSYMBOLS);
    for (u32 i = 0; i < count; i++) {
        symbol const& s = symbols[i];
        if ((s.info & 0xF) == STT_FUNC && s.shndx != 0 && streq(strings + s.name, name))
            return (void*)(s.value + loadoffset);
    }
    return nullptr;
}

} // namespace

bool vdso_mapped(char const* const* envp) { return envp && auxvalue(envp, AUX_SYSINFO_EHDR) != 0; }

void vdso_find(char const* const* envp)
{
    uptr base = envp ? auxvalue(envp, AUX_SYSINFO_EHDR) : 0;
    found = base ? (vdsogettimeofday)lookup(base, "__vdso_gettimeofday") : nullptr;
}

vdsogettimeofday vdso_gettimeofday() { return found; }

} // namespace kzv
