// tav_gameflow.dll as a 32-bit Windows core loads it: from an install folder
// whose name is not ASCII, by the undecorated name of its one export, which
// registers the plugin with the records of abi/HostAbi.h.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define NOGDI
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "abi/HostAbi.h"

namespace {

namespace fs = std::filesystem;

TEST(GameflowDll, LoadsFromANonAsciiFolderAndRegistersThroughItsOneExport) {
  std::random_device random;
  const fs::path folder = fs::temp_directory_path() / ("nalo-dll-" + std::to_string(random())) /
                          fs::path(u8"Jeux \u00e9");
  fs::create_directories(folder);
  const std::string built = NALO_GAMEFLOW_DLL_PATH;
  fs::copy_file(fs::path(std::u8string(built.begin(), built.end())), folder / "tav_gameflow.dll");

  const HMODULE dll = LoadLibraryW((folder / "tav_gameflow.dll").wstring().c_str());
  ASSERT_NE(dll, nullptr) << "error " << GetLastError();
  EXPECT_EQ(GetProcAddress(dll, NALO_CLOCK_SOURCE_EXPORT), nullptr);
  const auto entry = reinterpret_cast<NaloPluginEntry>(
      reinterpret_cast<void*>(GetProcAddress(dll, "load_tav_gameflow")));
  ASSERT_NE(entry, nullptr);

  NaloPluginRegistration registration{};
  registration.major = NALO_PLUGIN_API_MAJOR;
  registration.minor = NALO_PLUGIN_API_MINOR;
  registration.patch = NALO_PLUGIN_API_PATCH;
  entry(&registration);
  EXPECT_EQ(registration.major, NALO_PLUGIN_API_MAJOR);
  ASSERT_NE(registration.callbacks, nullptr);
  ASSERT_NE(registration.context, nullptr);
  EXPECT_STREQ(registration.shortName, "tav-gameflow");
  ASSERT_NE(registration.description, nullptr);
  EXPECT_EQ(registration.description->recordSize, sizeof(NaloApiDescription));
  ASSERT_GT(registration.description->routeCount, 0u);
  EXPECT_EQ(registration.description->routes[0].recordSize, sizeof(NaloRoute));

  uint32_t words[14];
  std::memset(words, 0xff, sizeof words);
  registration.callbacks->getMemoryStatistics(registration.context, words);
  // Words 6 and 7 count the allocations: the DLL's own allocation functions
  // count what building the plugin took.
  EXPECT_GT(words[6], 0u);
  EXPECT_EQ(words[12], 0u);
  registration.callbacks->shutdown(registration.context);
  // The DLL stays loaded, as a plugin does until its process ends.
}

}  // namespace
