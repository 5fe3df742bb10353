// Fuzz target for the dashboard's static files (host/http/StaticFiles.h):
// the first byte picks the method, the rest is the request's path.
//
// Whatever the path: an answer is 200 with the bytes of one of the folder's
// files, or 404 without them; nothing outside the folder (here a file beside
// it, and a link from inside it to that file) is ever read.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "host/http/StaticFiles.h"

namespace {

constexpr std::string_view kSecret = "SECRET-OUTSIDE-THE-FOLDER";

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "static_files_fuzzer: %s\n", what);
    std::abort();
  }
}

// The folder: ui/index.html, ui/app.js, ui/sub/style.css, ui/.hidden, a link
// ui/link.txt to ../secret.txt, and secret.txt beside ui/.
std::filesystem::path MakeFolder() {
  char pattern[] = "/tmp/static-files-fuzz-XXXXXX";
  Check(::mkdtemp(pattern) != nullptr, "can't make the folder");
  const std::filesystem::path root = pattern;
  std::filesystem::create_directories(root / "ui" / "sub");
  std::ofstream(root / "ui" / "index.html") << "index";
  std::ofstream(root / "ui" / "app.js") << "app";
  std::ofstream(root / "ui" / "sub" / "style.css") << "style";
  std::ofstream(root / "ui" / ".hidden") << kSecret;
  std::ofstream(root / "secret.txt") << kSecret;
  std::filesystem::create_symlink(root / "secret.txt", root / "ui" / "link.txt");
  static const struct Cleanup {
    std::filesystem::path root;
    ~Cleanup() {
      std::error_code ignored;
      std::filesystem::remove_all(root, ignored);
    }
  } cleanup{root};
  return root / "ui";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Nalo::Host::Http::StaticFiles files(MakeFolder());
  if (size == 0) {
    return 0;
  }
  static constexpr std::string_view kMethods[] = {"GET", "HEAD", "POST", "PUT"};
  const std::string_view method = kMethods[data[0] % 4];
  const std::string_view path(reinterpret_cast<const char*>(data + 1), size - 1);
  const auto answer = files.Answer(method, path);
  if (!answer.has_value()) {
    return 0;
  }
  Check(method == "GET" || method == "HEAD", "answered a method other than GET or HEAD");
  // A 404 names the path it was asked for, and nothing else.
  Check(answer->body.find(kSecret) == std::string::npos || path.find(kSecret) != std::string::npos,
        "read a file it must not");
  if (answer->status == 200) {
    Check(answer->body == "index" || answer->body == "app" || answer->body == "style",
          "answered bytes that are no file of the folder");
  } else {
    Check(answer->status == 404, "answered a status other than 200 or 404");
  }
  return 0;
}
