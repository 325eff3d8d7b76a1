#include "LibraryText.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>

namespace penamo::formats {

namespace {

bool Shown(FILE* stream) {
  return stream == stdout || stream == stderr;
}

// The replacements, each with the C library's signature. What goes elsewhere (a file the library
// opened itself) is written as the library asked; the formatted ones all decide in QuietVfprintf.
int QuietVfprintf(FILE* stream, const char* format, va_list arguments) {
  return Shown(stream) ? 0 : std::vfprintf(stream, format, arguments);
}
int QuietVfprintfChk(FILE* stream, int, const char* format, va_list arguments) {
  return QuietVfprintf(stream, format, arguments);
}
// The two variadic ones cannot hand their arguments on as they are; each makes its va_list.
int QuietFprintf(FILE* stream, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const int written = QuietVfprintf(stream, format, arguments);
  va_end(arguments);
  return written;
}
int QuietFprintfChk(FILE* stream, int, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const int written = QuietVfprintf(stream, format, arguments);
  va_end(arguments);
  return written;
}
int QuietPrintfChk(int, const char*, ...) {
  return 0;
}
int QuietVprintfChk(int, const char*, va_list) {
  return 0;
}
int QuietPrintf(const char*, ...) {
  return 0;
}
int QuietVprintf(const char*, va_list) {
  return 0;
}
int QuietPuts(const char*) {
  return 0;
}
int QuietFputs(const char* text, FILE* stream) {
  return Shown(stream) ? 0 : std::fputs(text, stream);
}
int QuietFputc(int c, FILE* stream) {
  return Shown(stream) ? c : std::fputc(c, stream);
}
std::size_t QuietFwrite(const void* data, std::size_t size, std::size_t count, FILE* stream) {
  return Shown(stream) ? count : std::fwrite(data, size, count, stream);
}
void QuietPerror(const char*) {}

struct TReplacement {
  const char* Name;
  void* Function;
};

const TReplacement kReplacements[] = {
    {"__vfprintf_chk", reinterpret_cast<void*>(&QuietVfprintfChk)},
    {"__fprintf_chk", reinterpret_cast<void*>(&QuietFprintfChk)},
    {"vfprintf", reinterpret_cast<void*>(&QuietVfprintf)},
    {"fprintf", reinterpret_cast<void*>(&QuietFprintf)},
    {"__printf_chk", reinterpret_cast<void*>(&QuietPrintfChk)},
    {"__vprintf_chk", reinterpret_cast<void*>(&QuietVprintfChk)},
    {"printf", reinterpret_cast<void*>(&QuietPrintf)},
    {"vprintf", reinterpret_cast<void*>(&QuietVprintf)},
    {"puts", reinterpret_cast<void*>(&QuietPuts)},
    {"fputs", reinterpret_cast<void*>(&QuietFputs)},
    {"fputc", reinterpret_cast<void*>(&QuietFputc)},
    {"putc", reinterpret_cast<void*>(&QuietFputc)},
    {"fwrite", reinterpret_cast<void*>(&QuietFwrite)},
    {"perror", reinterpret_cast<void*>(&QuietPerror)},
};

void* ReplacementOf(const char* name) {
  for (const TReplacement& replacement : kReplacements)
    if (std::strcmp(replacement.Name, name) == 0) return replacement.Function;
  return nullptr;
}

// Where the object loaded at base keeps what the loader makes read-only once it has relocated
// it (its GNU_RELRO segment), or an empty range.
struct TRange {
  std::uintptr_t Start = 0, End = 0;
};

TRange ReadOnlyAfterLoad(ElfW(Addr) base) {
  struct TSearch {
    ElfW(Addr) Base;
    TRange Range;
  } search{base, {}};
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* data) {
        auto* s = static_cast<TSearch*>(data);
        if (info->dlpi_addr != s->Base) return 0;
        for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
          const ElfW(Phdr)& header = info->dlpi_phdr[i];
          if (header.p_type != PT_GNU_RELRO) continue;
          s->Range.Start = info->dlpi_addr + header.p_vaddr;
          s->Range.End = s->Range.Start + header.p_memsz;
        }
        return 1;
      },
      &search);
  return search.Range;
}

// Writes function into the slot, making its page writable for the moment when the loader has
// made it read-only.
void Redirect(void** slot, void* function, const TRange& readOnly) {
  const auto at = reinterpret_cast<std::uintptr_t>(slot);
  if (at < readOnly.Start || at >= readOnly.End) {
    __atomic_store_n(slot, function, __ATOMIC_RELEASE);
    return;
  }
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  void* start = reinterpret_cast<void*>(at & ~(page - 1));
  if (::mprotect(start, page, PROT_READ | PROT_WRITE) != 0) return;
  __atomic_store_n(slot, function, __ATOMIC_RELEASE);
  ::mprotect(start, page, PROT_READ);
}

void Silence(const link_map* library) {
  const ElfW(Addr) base = library->l_addr;
  // The loader has made most of these addresses absolute; an offset is still one from base.
  const auto absolute = [base](ElfW(Addr) address) {
    return address < base ? address + base : address;
  };
  // The value of the dynamic section's entry of tag; 0 when it has none.
  const auto valueOf = [library](ElfW(Sxword) tag) -> ElfW(Xword) {
    for (const ElfW(Dyn)* entry = library->l_ld; entry->d_tag != DT_NULL; ++entry)
      if (entry->d_tag == tag) return entry->d_un.d_val;
    return 0;
  };
  // The address an entry of tag holds; null when the section has none.
  const auto addressOf = [&](ElfW(Sxword) tag) -> ElfW(Addr) {
    const ElfW(Addr) address = valueOf(tag);
    return address == 0 ? 0 : absolute(address);
  };
  const auto* symbols = reinterpret_cast<const ElfW(Sym)*>(addressOf(DT_SYMTAB));
  const auto* names = reinterpret_cast<const char*>(addressOf(DT_STRTAB));
  const auto* plt = reinterpret_cast<const ElfW(Rela)*>(addressOf(DT_JMPREL));
  const std::size_t pltBytes = valueOf(DT_PLTRELSZ);
  // The procedure linkage table's relocations carry addends unless DT_PLTREL says otherwise.
  const ElfW(Xword) pltKind = valueOf(DT_PLTREL);
  const bool pltRela = pltKind == 0 || pltKind == DT_RELA;
  const auto* data = reinterpret_cast<const ElfW(Rela)*>(addressOf(DT_RELA));
  const std::size_t dataBytes = valueOf(DT_RELASZ);
  if (symbols == nullptr || names == nullptr) return;
  const TRange readOnly = ReadOnlyAfterLoad(base);
  const auto redirect = [&](const ElfW(Rela) * relocations, std::size_t bytes) {
    if (relocations == nullptr) return;
    for (std::size_t i = 0; i < bytes / sizeof(ElfW(Rela)); ++i) {
      const ElfW(Rela)& relocation = relocations[i];
      const auto type = ELF64_R_TYPE(relocation.r_info);
      if (type != R_X86_64_JUMP_SLOT && type != R_X86_64_GLOB_DAT) continue;
      const ElfW(Sym)& symbol = symbols[ELF64_R_SYM(relocation.r_info)];
      if (symbol.st_shndx != SHN_UNDEF) continue;  // the library's imports only
      void* function = ReplacementOf(names + symbol.st_name);
      if (function != nullptr)
        Redirect(reinterpret_cast<void**>(base + relocation.r_offset), function, readOnly);
    }
  };
  if (pltRela) redirect(plt, pltBytes);
  redirect(data, dataBytes);
}

}  // namespace

void SilenceLibraryText(const void* address) {
#if defined(__x86_64__)
  static std::mutex lock;
  static std::set<const void*> silenced;
  Dl_info info{};
  link_map* library = nullptr;
  if (::dladdr1(address, &info, reinterpret_cast<void**>(&library), RTLD_DL_LINKMAP) == 0 ||
      library == nullptr)
    return;
  // The program itself, and the library these functions are in, keep their own calls.
  Dl_info own{};
  link_map* ownLibrary = nullptr;
  if (library->l_name == nullptr || library->l_name[0] == '\0') return;
  if (::dladdr1(reinterpret_cast<const void*>(&SilenceLibraryText), &own,
                reinterpret_cast<void**>(&ownLibrary), RTLD_DL_LINKMAP) != 0 &&
      ownLibrary == library)
    return;
  const std::lock_guard<std::mutex> guard(lock);
  if (!silenced.insert(library).second) return;
  Silence(library);
#else
  (void)address;
#endif
}

}  // namespace penamo::formats
