#pragma once
// PluginLibrary: an opened plugin shared object and its export.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "abi/HostAbi.h"
#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"

namespace Nalo::Host::detail {

// Owns a dlopen handle (a DLL's module handle on Windows,
// PluginLibraryWin32.cpp); closing it unloads the object. Movable, not
// copyable; destroying it closes the handle.
class PluginLibrary {
 public:
  // Opens `path` (RTLD_NOW | RTLD_LOCAL) and finds the export named
  // `entryName`, or, when that is empty, the one defined function whose name
  // begins with "load_". Fails with 500 and a message naming the path.
  [[nodiscard]] static MaybeType<Failure, PluginLibrary> Open(const std::filesystem::path& path,
                                                              std::string_view entryName);

  [[nodiscard]] NaloPluginEntry Entry() const noexcept { return mEntry; }
  // The test-only clock-source export (NALO_CLOCK_SOURCE_EXPORT); null when
  // the object has none.
  [[nodiscard]] NaloSetClockSource ClockSourceExport() const noexcept { return mSetClockSource; }
  // The test-only log-groups export (NALO_LOG_GROUPS_EXPORT); null when the
  // object has none.
  [[nodiscard]] NaloPassLogGroups LogGroupsExport() const noexcept { return mPassLogGroups; }
  [[nodiscard]] const std::string& EntryName() const noexcept { return mEntryName; }

 private:
  // Closes a handle: dlclose, or FreeLibrary on Windows.
  struct Closer {
    void operator()(void* handle) const noexcept;
  };

  PluginLibrary(void* handle, NaloPluginEntry entry, NaloSetClockSource setClockSource,
                NaloPassLogGroups passLogGroups, std::string entryName) noexcept
      : mHandle(handle),
        mEntry(entry),
        mSetClockSource(setClockSource),
        mPassLogGroups(passLogGroups),
        mEntryName(std::move(entryName)) {}

  std::unique_ptr<void, Closer> mHandle;
  NaloPluginEntry mEntry = nullptr;
  NaloSetClockSource mSetClockSource = nullptr;
  NaloPassLogGroups mPassLogGroups = nullptr;
  std::string mEntryName;
};

// The names of the defined global functions in the dynamic symbol table of
// the ELF file at `path` that begin with `prefix`. Empty when the file can't
// be read or isn't a 64-bit ELF object.
// Always empty on Windows, where Open looks for "load_" and the DLL's name.
[[nodiscard]] std::vector<std::string> ExportedFunctions(const std::filesystem::path& path,
                                                         std::string_view prefix);

}  // namespace Nalo::Host::detail
