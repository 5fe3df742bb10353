#include "host/core/src/PluginLibrary.h"

#ifndef _WIN32
#include <dlfcn.h>
#include <elf.h>

#include <cstring>
#include <fstream>
#include <limits>
#include <utility>
#include <vector>

namespace Nalo::Host::detail {

namespace {

constexpr std::uint32_t kLoadFailure = 500;
constexpr std::string_view kEntryPrefix = "load_";

// Reads pieces of a file at given offsets; a read past its end fails.
class FileReader {
 public:
  explicit FileReader(const std::filesystem::path& path) : mFile(path, std::ios::binary) {}

  template <typename T>
  bool ReadAt(std::uint64_t offset, T& out) {
    return ReadBytes(offset, &out, sizeof(T));
  }

  // Reads `count` records of T; refuses tables larger than any plugin has.
  template <typename T>
  bool ReadArray(std::uint64_t offset, std::uint64_t count, std::vector<T>& out) {
    constexpr std::uint64_t kLimit = std::uint64_t{64} << 20;
    if (count > kLimit / sizeof(T)) {
      return false;
    }
    out.resize(count);
    return ReadBytes(offset, out.data(), count * sizeof(T));
  }

 private:
  bool ReadBytes(std::uint64_t offset, void* out, std::uint64_t size) {
    if (!mFile || offset > static_cast<std::uint64_t>(std::numeric_limits<std::streamoff>::max())) {
      mFile.clear();
      return false;
    }
    mFile.seekg(static_cast<std::streamoff>(offset));
    mFile.read(static_cast<char*>(out), static_cast<std::streamsize>(size));
    const bool complete = mFile.good() && mFile.gcount() == static_cast<std::streamsize>(size);
    mFile.clear();
    return complete;
  }

  std::ifstream mFile;
};

}  // namespace

// The global functions a shared object defines whose names start with
// `prefix`, read from its dynamic symbol table. Only the headers and that
// table are read, never the whole file.
std::vector<std::string> ExportedFunctions(const std::filesystem::path& path,
                                           std::string_view prefix) {
  FileReader file(path);
  std::vector<std::string> names;
  Elf64_Ehdr header{};
  if (!file.ReadAt(0, header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
      header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_shentsize != sizeof(Elf64_Shdr)) {
    return names;
  }
  for (std::uint16_t i = 0; i < header.e_shnum; ++i) {
    Elf64_Shdr section{};
    if (!file.ReadAt(header.e_shoff + std::uint64_t{i} * sizeof(Elf64_Shdr), section) ||
        section.sh_type != SHT_DYNSYM || section.sh_entsize != sizeof(Elf64_Sym)) {
      continue;
    }
    Elf64_Shdr stringSection{};
    std::vector<char> strings;
    std::vector<Elf64_Sym> symbols;
    if (!file.ReadAt(header.e_shoff + std::uint64_t{section.sh_link} * sizeof(Elf64_Shdr),
                     stringSection) ||
        !file.ReadArray(stringSection.sh_offset, stringSection.sh_size, strings) ||
        !file.ReadArray(section.sh_offset, section.sh_size / sizeof(Elf64_Sym), symbols)) {
      continue;
    }
    for (const Elf64_Sym& symbol : symbols) {
      if (symbol.st_shndx == SHN_UNDEF || ELF64_ST_TYPE(symbol.st_info) != STT_FUNC ||
          ELF64_ST_BIND(symbol.st_info) == STB_LOCAL || symbol.st_name >= strings.size()) {
        continue;
      }
      const char* start = strings.data() + symbol.st_name;
      const void* end = std::memchr(start, '\0', strings.size() - symbol.st_name);
      const std::string_view name(
          start, end == nullptr ? strings.size() - symbol.st_name
                                : static_cast<std::size_t>(static_cast<const char*>(end) - start));
      if (name.starts_with(prefix)) {
        names.emplace_back(name);
      }
    }
  }
  return names;
}

MaybeType<Failure, PluginLibrary> PluginLibrary::Open(const std::filesystem::path& path,
                                                      std::string_view entryName) {
  std::string name(entryName);
  if (name.empty()) {
    const std::vector<std::string> candidates = ExportedFunctions(path, kEntryPrefix);
    if (candidates.size() > 1) {
      return Failure(kLoadFailure,
                     "The plugin {path} exports several entries starting with \"load_\"; name "
                     "the one to use.",
                     {{"path", path.string()}});
    }
    if (!candidates.empty()) {
      name = candidates.front();
    }
  }
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* error = dlerror();
    return Failure(kLoadFailure, "Couldn't open the plugin {path}: {error}",
                   {{"path", path.string()}, {"error", std::string(error ? error : "")}});
  }
  void* symbol = name.empty() ? nullptr : dlsym(handle, name.c_str());
  if (symbol == nullptr) {
    dlclose(handle);
    return Failure(kLoadFailure,
                   "The plugin {path} has no export \"load_<short name>\"; it is not a plugin.",
                   {{"path", path.string()}});
  }
  NaloPluginEntry entry = nullptr;
  static_assert(sizeof(entry) == sizeof(symbol), "a function pointer fits a data pointer");
  std::memcpy(&entry, &symbol, sizeof(entry));
  NaloSetClockSource setClockSource = nullptr;
  if (void* clockSymbol = dlsym(handle, NALO_CLOCK_SOURCE_EXPORT)) {
    std::memcpy(&setClockSource, &clockSymbol, sizeof(setClockSource));
  }
  NaloPassLogGroups passLogGroups = nullptr;
  if (void* groupsSymbol = dlsym(handle, NALO_LOG_GROUPS_EXPORT)) {
    std::memcpy(&passLogGroups, &groupsSymbol, sizeof(passLogGroups));
  }
  return PluginLibrary(handle, entry, setClockSource, passLogGroups, std::move(name));
}

void PluginLibrary::Closer::operator()(void* handle) const noexcept {
  if (handle != nullptr) {
    dlclose(handle);
  }
}

}  // namespace Nalo::Host::detail

#endif  // _WIN32
