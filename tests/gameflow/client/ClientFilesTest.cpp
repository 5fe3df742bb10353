// The game client's files: the executable path and its length limit, and the
// locale file's bytes and refusals.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "gameflow/client/ClientFiles.h"

namespace Nalo::Client::Gameflow {
namespace {

TEST(JoinGamePath, JoinsWithOneSlashAndForwardSlashesOnly) {
  struct Case {
    const char* first;
    const char* second;
    const char* joined;
  };
  const Case cases[] = {
      {"/games/tav", "Tavora.exe", "/games/tav/Tavora.exe"},
      {"/games/tav/", "Tavora.exe", "/games/tav/Tavora.exe"},
      {"C:\\Games\\Tav\\", "Tavora.exe", "C:/Games/Tav/Tavora.exe"},
      {"C:\\Games\\Tav", "data/cfg/defaults", "C:/Games/Tav/data/cfg/defaults"},
      {"/games", "/elsewhere/Tavora.exe", "/elsewhere/Tavora.exe"},
      {"/games", "\\\\server\\Tavora.exe", "//server/Tavora.exe"},
      {"/games", "D:Tavora.exe", "D:Tavora.exe"},
      {"", "Tavora.exe", "Tavora.exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.first) + " + " + c.second);
    EXPECT_EQ(JoinGamePath(c.first, c.second), c.joined);
  }
  // 249 characters, "/" and "Tavora.exe" make 260: one more than the
  // system's buffer holds besides its NUL.
  EXPECT_EQ(JoinGamePath(std::string(249, 'd'), "Tavora.exe").size(), kMaxGamePathBytes);
  EXPECT_LT(JoinGamePath(std::string(248, 'd'), "Tavora.exe").size(), kMaxGamePathBytes);
}

class LocaleFile : public testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    for (int attempt = 0; attempt < 100 && mFolder.empty(); ++attempt) {
      const auto folder =
          std::filesystem::temp_directory_path() / ("nalo-locale-" + std::to_string(random()));
      if (std::filesystem::create_directory(folder)) {
        mFolder = folder.generic_string();  // the messages name it with '/'
      }
    }
    ASSERT_FALSE(mFolder.empty());
  }
  void TearDown() override { std::filesystem::remove_all(mFolder); }

  std::string Read() const {
    std::ifstream stream(mFolder / "data/cfg/defaults/locale.cfg", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
  }

  std::filesystem::path mFolder;
};

TEST_F(LocaleFile, HoldsTwoLinesTheSecondWithoutABreak) {
  ASSERT_FALSE(WriteGameLocale(mFolder.string(), "en_GB").HasFailure());
  EXPECT_EQ(Read(), "[General]\r\nLanguageLocaleRegion=en_GB");
  // Written again, the file is replaced, not extended.
  ASSERT_FALSE(WriteGameLocale(mFolder.string() + "/", "de_DE").HasFailure());
  EXPECT_EQ(Read(), "[General]\r\nLanguageLocaleRegion=de_DE");
}

TEST_F(LocaleFile, ALocaleThatWouldAddLinesIsRefused) {
  ASSERT_FALSE(WriteGameLocale(mFolder.string(), "en_GB").HasFailure());
  for (const std::string& locale :
       {std::string("en_GB\n[Hack]"), std::string("en_GB\r"), std::string("en\0GB", 5)}) {
    SCOPED_TRACE(locale);
    auto written = WriteGameLocale(mFolder.string(), locale);
    ASSERT_TRUE(written.HasFailure());
    EXPECT_EQ(
        written.GetFailure().Message(),
        "Failed to write to locale file '" + mFolder.string() + "/data/cfg/defaults/locale.cfg'.");
    EXPECT_EQ(Read(), "[General]\r\nLanguageLocaleRegion=en_GB");
  }
}

TEST_F(LocaleFile, AFolderThatCannotBeMadeFails) {
  std::ofstream(mFolder / "data") << "a file where the folder goes";
  auto written = WriteGameLocale(mFolder.string(), "en_GB");
  ASSERT_TRUE(written.HasFailure());
  EXPECT_EQ(written.GetFailure().Message(),
            "Failed to create directory '" + mFolder.string() + "/data/cfg/defaults'.");
}

}  // namespace
}  // namespace Nalo::Client::Gameflow
