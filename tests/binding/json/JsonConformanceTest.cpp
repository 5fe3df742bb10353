// Runs every file of the JSON parsing test suite through ParseJson: y_ files
// must parse, n_ files must fail with the reader's message form, i_ files may
// go either way but must neither crash nor leak (the suite also runs under
// AddressSanitizer). Whatever parses must write back as JSON that parses; the
// fuzz target's replay of the same files compares the values in depth.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>

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

void ExpectWritable(const BindingResult& parsed) {
  for (const std::string_view separator : {std::string_view(), kJsonLineFeed}) {
    const std::string written = ToJson(parsed.Value(), nullptr, separator);
    const BindingResult reread = ParseJson(written);
    ASSERT_THAT(reread, BindingSucceeded()) << written;
    EXPECT_EQ(reread.Value().Kind(), parsed.Value().Kind()) << written;
    EXPECT_EQ(reread.Value().size(), parsed.Value().size()) << written;
  }
}

// "Error: <reason> at offset <N>." with N within the text.
void ExpectReaderError(const BindingResult& result, std::size_t textSize) {
  ASSERT_TRUE(result.Failed()) << ToJson(result.Value());
  const std::string_view message = result.ErrorMessage();
  constexpr std::string_view kOffset = " at offset ";
  const std::size_t offsetAt = message.rfind(kOffset);
  ASSERT_TRUE(message.starts_with("Error: ") && message.ends_with(".") &&
              offsetAt != std::string_view::npos)
      << message;
  const std::string digits(message.substr(offsetAt + kOffset.size()));
  std::size_t parsedLength = 0;
  EXPECT_LE(std::stoull(digits, &parsedLength), textSize) << message;
  EXPECT_EQ(parsedLength + 1, digits.size()) << message;
}

TEST(JsonConformance, TestSuite) {
  const fs::path directory(NALO_JSON_TEST_SUITE_DIR);
  ASSERT_TRUE(fs::is_directory(directory)) << "missing test data " << directory;

  std::map<char, int> counts;
  std::set<std::string, std::less<>> exemptionsSeen;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".json") {
      continue;
    }
    SCOPED_TRACE(name);
    std::ifstream stream(entry.path(), std::ios::binary);
    ASSERT_TRUE(stream) << "can't read the file";
    const std::string bytes{std::istreambuf_iterator<char>(stream), {}};
    const char expectation = name.size() > 2 && name[1] == '_' ? name[0] : '?';
    ++counts[expectation];

    const BindingResult result = ParseJson(std::string_view(bytes));
    const bool exempt = expectation == 'n' && kExemptRejections.contains(name);
    if (exempt) {
      exemptionsSeen.insert(name);
    }
    if (expectation == 'y' || exempt) {
      ASSERT_THAT(result, BindingSucceeded());
      ExpectWritable(result);
    } else if (expectation == 'n' || (expectation == 'i' && result.Failed())) {
      ExpectReaderError(result, bytes.size());
    } else if (expectation == 'i') {
      ExpectWritable(result);
    } else {
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
