// The Windows form of PluginLibrary: the plugin is a DLL, opened with
// LoadLibraryW (wide paths: the install folder may hold any character), its
// exports found with GetProcAddress.

#ifdef _WIN32

#include <windows.h>

#include <cstring>
#include <utility>

#include "host/core/src/PluginLibrary.h"

namespace Nalo::Host::detail {

namespace {

constexpr std::uint32_t kLoadFailure = 500;

std::string Utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string SystemText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text(buffer != nullptr ? buffer : L"", length);
  LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
    text.pop_back();
  }
  std::string result = Utf8(std::filesystem::path(text));
  return result.empty() ? "error " + std::to_string(code) : result;
}

template <typename Function>
Function Export(HMODULE module, const char* name) {
  FARPROC address = GetProcAddress(module, name);
  Function function = nullptr;
  static_assert(sizeof(function) == sizeof(address), "function pointers have one size");
  std::memcpy(&function, &address, sizeof(function));
  return function;
}

}  // namespace

// A DLL's export table is not read here: Open looks for the entry by the
// DLL's name instead (tav_gameflow.dll: "load_tav_gameflow").
std::vector<std::string> ExportedFunctions(const std::filesystem::path& /*path*/,
                                           std::string_view /*prefix*/) {
  return {};
}

MaybeType<Failure, PluginLibrary> PluginLibrary::Open(const std::filesystem::path& path,
                                                      std::string_view entryName) {
  std::string name(entryName);
  if (name.empty()) {
    name = "load_" + Utf8(path.stem());
  }
  HMODULE module = LoadLibraryW(path.c_str());
  if (module == nullptr) {
    return Failure(kLoadFailure, "Couldn't open the plugin {path}: {error}",
                   {{"path", Utf8(path)}, {"error", SystemText(GetLastError())}});
  }
  const auto entry = Export<NaloPluginEntry>(module, name.c_str());
  if (entry == nullptr) {
    FreeLibrary(module);
    return Failure(kLoadFailure,
                   "The plugin {path} has no export \"load_<short name>\"; it is not a plugin.",
                   {{"path", Utf8(path)}});
  }
  return PluginLibrary(module, entry, Export<NaloSetClockSource>(module, NALO_CLOCK_SOURCE_EXPORT),
                       Export<NaloPassLogGroups>(module, NALO_LOG_GROUPS_EXPORT), std::move(name));
}

void PluginLibrary::Closer::operator()(void* handle) const noexcept {
  if (handle != nullptr) {
    FreeLibrary(static_cast<HMODULE>(handle));
  }
}

}  // namespace Nalo::Host::detail

#endif  // _WIN32
