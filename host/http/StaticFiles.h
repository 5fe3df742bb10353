#pragma once
// StaticFiles: the dashboard's files (HTML, CSS, JavaScript modules, the
// chart), served from one folder at "/" and "/ui/...".
//
//   StaticFiles files(StaticFiles::DefaultFolder());
//   if (auto answer = files.Answer(method, path)) { ...status, type, body... }
//
// They hold no secret, so they are answered without the token: a browser
// that opens the page sends none (the page keeps the token in the URL's
// fragment, which is never sent, and sends it itself on every request to the
// host). Only GET and HEAD of "/", "/index.html" and "/ui/<name>" are
// answered; a name is made of letters, digits, '-', '_' and '.', does not
// start with '.', and may sit in subfolders of the same names. Anything else
// (another path, another method, a '%', "..", a backslash) is left to the
// rest of the front. A name that is not a regular file of the folder, or is
// larger than kMaxFileBytes, answers 404.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Nalo::Host::Http {

struct StaticAnswer {
  int status = 200;
  std::string contentType;
  std::string body;
  // Sent with every answer: no caching of stale pages, no sniffing, and a
  // content security policy that allows only this origin.
  std::vector<std::pair<std::string, std::string>> headers;
};

class StaticFiles {
 public:
  static constexpr std::size_t kMaxFileBytes = std::size_t{8} * 1024 * 1024;

  // An empty or missing folder serves nothing (every answer is nullopt).
  explicit StaticFiles(std::filesystem::path folder);

  // The answer for a request, or nullopt when the request is not for a
  // static file. `path` is the target's path, without its query, as sent.
  [[nodiscard]] std::optional<StaticAnswer> Answer(std::string_view method,
                                                   std::string_view path) const;

  [[nodiscard]] const std::filesystem::path& Folder() const noexcept { return mFolder; }

  // $NALO_HOST_UI when set, else the folder "ui" beside the running program.
  [[nodiscard]] static std::filesystem::path DefaultFolder();

 private:
  std::filesystem::path mFolder;
};

// "text/html; charset=utf-8" for "index.html", by the name's extension;
// "application/octet-stream" for an unknown one.
[[nodiscard]] std::string_view StaticContentType(std::string_view name) noexcept;

}  // namespace Nalo::Host::Http
