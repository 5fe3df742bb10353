#include "host/src/PluginLibrary.h"

#include <dlfcn.h>
#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>

namespace Nalo::Host::detail {

namespace {

constexpr std::uint32_t kLoadFailure = 500;
constexpr std::string_view kEntryPrefix = "load_";

template <typename T>
bool ReadAt(const std::string& image, std::uint64_t offset, T& out) {
  if (offset > image.size() || image.size() - offset < sizeof(T)) {
    return false;
  }
  std::memcpy(&out, image.data() + offset, sizeof(T));
  return true;
}

}  // namespace

std::vector<std::string> ExportedFunctions(const std::filesystem::path& path,
                                           std::string_view prefix) {
  std::ifstream file(path, std::ios::binary);
  const std::string image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<std::string> names;
  Elf64_Ehdr header{};
  if (!ReadAt(image, 0, header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
      header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_shentsize != sizeof(Elf64_Shdr)) {
    return names;
  }
  for (std::uint16_t i = 0; i < header.e_shnum; ++i) {
    Elf64_Shdr section{};
    if (!ReadAt(image, header.e_shoff + std::uint64_t{i} * sizeof(Elf64_Shdr), section) ||
        section.sh_type != SHT_DYNSYM || section.sh_entsize != sizeof(Elf64_Sym)) {
      continue;
    }
    Elf64_Shdr strings{};
    if (!ReadAt(image, header.e_shoff + std::uint64_t{section.sh_link} * sizeof(Elf64_Shdr),
                strings)) {
      continue;
    }
    for (std::uint64_t s = 0; s < section.sh_size / sizeof(Elf64_Sym); ++s) {
      Elf64_Sym symbol{};
      if (!ReadAt(image, section.sh_offset + s * sizeof(Elf64_Sym), symbol) ||
          symbol.st_shndx == SHN_UNDEF || ELF64_ST_TYPE(symbol.st_info) != STT_FUNC ||
          ELF64_ST_BIND(symbol.st_info) == STB_LOCAL || symbol.st_name >= strings.sh_size) {
        continue;
      }
      const std::uint64_t start = strings.sh_offset + symbol.st_name;
      if (start >= image.size()) {
        continue;
      }
      const std::size_t end = image.find('\0', start);
      std::string name = image.substr(start, end == std::string::npos ? end : end - start);
      if (name.starts_with(prefix)) {
        names.push_back(std::move(name));
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
  return PluginLibrary(handle, entry, std::move(name));
}

PluginLibrary::PluginLibrary(PluginLibrary&& other) noexcept
    : mHandle(std::exchange(other.mHandle, nullptr)),
      mEntry(std::exchange(other.mEntry, nullptr)),
      mEntryName(std::move(other.mEntryName)) {}

PluginLibrary& PluginLibrary::operator=(PluginLibrary&& other) noexcept {
  if (this != &other) {
    if (mHandle != nullptr) {
      dlclose(mHandle);
    }
    mHandle = std::exchange(other.mHandle, nullptr);
    mEntry = std::exchange(other.mEntry, nullptr);
    mEntryName = std::move(other.mEntryName);
  }
  return *this;
}

PluginLibrary::~PluginLibrary() {
  if (mHandle != nullptr) {
    dlclose(mHandle);
  }
}

}  // namespace Nalo::Host::detail
