// Feeds files to a fuzz target's LLVMFuzzerTestOneInput without libFuzzer, so
// that the seed corpus and kept crashers replay as an ordinary test, under
// whatever sanitizers the build uses.
//
//   json_fuzz_replay DIR_OR_FILE...
//
// Every file of every named directory (recursively, in name order) is fed
// once. A missing path fails the run; a target that finds a fault aborts it.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

bool Replay(const fs::path& file) {
  std::ifstream stream(file, std::ios::binary);
  if (!stream) {
    std::fprintf(stderr, "can't read %s\n", file.string().c_str());
    return false;
  }
  const std::vector<char> bytes((std::istreambuf_iterator<char>(stream)), {});
  // A copy of exactly the file's size, so that reading past it is caught.
  const std::vector<std::uint8_t> input(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(input.data(), input.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DIR_OR_FILE...\n", argv[0]);
    return 2;
  }
  std::size_t replayed = 0;
  bool allRead = true;
  for (int i = 1; i < argc; ++i) {
    const fs::path path(argv[i]);
    std::vector<fs::path> files;
    if (fs::is_directory(path)) {
      for (const fs::directory_entry& entry : fs::recursive_directory_iterator(path)) {
        if (entry.is_regular_file()) {
          files.push_back(entry.path());
        }
      }
      std::sort(files.begin(), files.end());
    } else if (fs::is_regular_file(path)) {
      files.push_back(path);
    } else {
      std::fprintf(stderr, "missing corpus path %s\n", path.string().c_str());
      allRead = false;
      continue;
    }
    for (const fs::path& file : files) {
      allRead = Replay(file) && allRead;
      ++replayed;
    }
  }
  std::printf("replayed %zu inputs\n", replayed);
  return allRead && replayed > 0 ? 0 : 1;
}
