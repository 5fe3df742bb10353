#include "bench/support/BenchmarkData.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>

namespace Nalo::Bench {

void Abort(std::string_view why) {
  std::fprintf(stderr, "%.*s\n", static_cast<int>(why.size()), why.data());
  std::exit(1);
}

const std::string& LoadDataFile(std::string_view fileName) {
  static std::map<std::string, std::string, std::less<>> loaded;
  if (const auto found = loaded.find(fileName); found != loaded.end()) {
    return found->second;
  }
  const std::string path = std::string(NALO_BENCH_DATA_DIR) + "/" + std::string(fileName);
  std::ifstream stream(path, std::ios::binary);
  if (!stream) {
    Abort("can't read benchmark input " + path);
  }
  return loaded.emplace(fileName, std::string(std::istreambuf_iterator<char>(stream), {}))
      .first->second;
}

void ParseDataFile(std::string_view fileName, rapidjson::Document& document) {
  document.Parse(LoadDataFile(fileName).c_str());
  if (document.HasParseError()) {
    Abort("can't parse benchmark input " + std::string(NALO_BENCH_DATA_DIR) + "/" +
          std::string(fileName));
  }
}

}  // namespace Nalo::Bench
