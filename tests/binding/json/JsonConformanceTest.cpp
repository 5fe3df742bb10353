// Runs every file of the JSON parsing test suite through ParseJson: y_ files
// must parse, n_ files must fail with the reader's message form, i_ files may
// go either way but must neither crash nor leak (the suite also runs under
// AddressSanitizer). Everything that parses must write back as valid JSON.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "binding/BindingResult.h"
#include "binding/Json.h"
#include "support/BindingMatchers.h"

namespace Nalo {
namespace {

namespace fs = std::filesystem;

// n_ files that are valid under this reader's own rules, with the reason.
const std::map<std::string, std::string, std::less<>> kExemptRejections = {
    {"n_structure_no_data.json", "an empty document is an empty value"},
    {"n_single_space.json", "an all-whitespace document is an empty value"},
    {"n_multidigit_number_then_00.json", "the text ends at its first NUL byte"},
};

struct SuiteFile {
  std::string name;
  std::string bytes;
};

std::vector<SuiteFile> LoadSuite() {
  const fs::path directory = fs::path(NALO_JSON_TEST_SUITE_DIR);
  std::vector<SuiteFile> files;
  if (!fs::is_directory(directory)) {
    ADD_FAILURE() << "missing test data directory " << directory;
    return files;
  }
  for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".json") {
      continue;
    }
    std::ifstream stream(entry.path(), std::ios::binary);
    if (!stream) {
      ADD_FAILURE() << "can't read " << entry.path();
      continue;
    }
    files.push_back({name, std::string(std::istreambuf_iterator<char>(stream), {})});
  }
  std::sort(files.begin(), files.end(),
            [](const SuiteFile& left, const SuiteFile& right) { return left.name < right.name; });
  return files;
}

// What parses writes back as JSON that parses to the same shape. (The fuzz
// target's replay of these files checks the values in depth.)
void ExpectWritable(const BindingResult& parsed) {
  for (const std::string_view separator : {std::string_view(), kJsonLineFeed}) {
    const std::string written = ToJson(parsed.Value(), nullptr, separator);
    const BindingResult reread = ParseJson(written);
    ASSERT_THAT(reread, BindingSucceeded());
    EXPECT_EQ(reread.Value().Kind(), parsed.Value().Kind()) << written;
    EXPECT_EQ(reread.Value().size(), parsed.Value().size()) << written;
  }
}

// "Error: <reason> at offset <N>." with N within the text.
void ExpectReaderError(const BindingResult& result, std::size_t textSize) {
  ASSERT_TRUE(result.Failed()) << ToJson(result.Value());
  const std::string_view message = result.ErrorMessage();
  constexpr std::string_view kPrefix = "Error: ";
  constexpr std::string_view kOffset = " at offset ";
  const std::size_t offsetAt = message.rfind(kOffset);
  ASSERT_TRUE(message.starts_with(kPrefix) && message.ends_with(".") &&
              offsetAt != std::string_view::npos && offsetAt > kPrefix.size())
      << message;
  const std::string_view digits =
      message.substr(offsetAt + kOffset.size(), message.size() - 1 - offsetAt - kOffset.size());
  ASSERT_FALSE(digits.empty()) << message;
  ASSERT_EQ(digits.find_first_not_of("0123456789"), std::string_view::npos) << message;
  EXPECT_LE(std::stoull(std::string(digits)), textSize) << message;
}

TEST(JsonConformance, TestSuite) {
  const std::vector<SuiteFile> files = LoadSuite();

  std::map<char, int> counts;
  std::set<std::string, std::less<>> exemptionsSeen;
  for (const SuiteFile& file : files) {
    SCOPED_TRACE(file.name);
    const char expectation = file.name.size() > 2 && file.name[1] == '_' ? file.name[0] : '?';
    ++counts[expectation];
    const BindingResult result = ParseJson(std::string_view(file.bytes));

    switch (expectation) {
      case 'y':
        ASSERT_THAT(result, BindingSucceeded());
        ExpectWritable(result);
        break;
      case 'n':
        if (kExemptRejections.contains(file.name)) {
          exemptionsSeen.insert(file.name);
          ASSERT_THAT(result, BindingSucceeded());
          ExpectWritable(result);
          break;
        }
        ExpectReaderError(result, file.bytes.size());
        break;
      case 'i':
        if (result.Succeeded()) {
          ExpectWritable(result);
        } else {
          ExpectReaderError(result, file.bytes.size());
        }
        break;
      default:
        ADD_FAILURE() << "file name without y_, n_ or i_ prefix";
    }
  }

  EXPECT_EQ(counts['y'], 95);
  EXPECT_EQ(counts['n'], 188);
  EXPECT_EQ(counts['i'], 35);
  EXPECT_EQ(exemptionsSeen.size(), kExemptRejections.size()) << "an exempted file is missing";
}

}  // namespace
}  // namespace Nalo
