#include "host/http/StaticFiles.h"

#include <cstdlib>
#include <fstream>
#include <system_error>

namespace Nalo::Host::Http {

namespace {

constexpr std::string_view kUiPrefix = "/ui/";

// Letters, digits, '-', '_' and '.', not starting with '.'.
bool IsPlainName(std::string_view name) noexcept {
  if (name.empty() || name.front() == '.') {
    return false;
  }
  for (const char c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_' || c == '.';
    if (!plain) {
      return false;
    }
  }
  return true;
}

// The file's path relative to the folder, or nullopt when `path` names none.
std::optional<std::filesystem::path> RelativeFile(std::string_view path) {
  if (path == "/" || path == "/index.html" || path == "/ui/" || path == "/ui") {
    return std::filesystem::path("index.html");
  }
  if (!path.starts_with(kUiPrefix)) {
    return std::nullopt;
  }
  std::string_view rest = path.substr(kUiPrefix.size());
  std::filesystem::path relative;
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    const std::string_view name = rest.substr(0, slash);
    if (!IsPlainName(name)) {
      return std::nullopt;
    }
    relative /= std::string(name);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
  }
  if (relative.empty()) {
    return std::nullopt;
  }
  return relative;
}

StaticAnswer WithHeaders(StaticAnswer answer) {
  answer.headers = {
      {"Cache-Control", "no-cache"},
      {"X-Content-Type-Options", "nosniff"},
      {"Referrer-Policy", "no-referrer"},
      {"Content-Security-Policy",
       "default-src 'self'; img-src 'self' data:; object-src 'none'; base-uri 'none'; "
       "form-action 'none'; frame-ancestors 'none'"},
  };
  return answer;
}

StaticAnswer NotFound(std::string_view path) {
  StaticAnswer answer;
  answer.status = 404;
  answer.contentType = "text/plain; charset=utf-8";
  answer.body = "The dashboard has no file " + std::string(path) + ".\n";
  return WithHeaders(std::move(answer));
}

}  // namespace

StaticFiles::StaticFiles(std::filesystem::path folder) : mFolder(std::move(folder)) {}

std::optional<StaticAnswer> StaticFiles::Answer(std::string_view method,
                                                std::string_view path) const {
  if (mFolder.empty() || (method != "GET" && method != "HEAD")) {
    return std::nullopt;
  }
  const std::optional<std::filesystem::path> relative = RelativeFile(path);
  if (!relative.has_value()) {
    return std::nullopt;
  }
  std::error_code error;
  if (!std::filesystem::is_directory(mFolder, error)) {
    return std::nullopt;
  }
  const std::filesystem::path file = mFolder / *relative;
  // Symbolic links are not followed out of the folder: only regular files.
  const std::filesystem::file_status status = std::filesystem::symlink_status(file, error);
  if (error || !std::filesystem::is_regular_file(status)) {
    return NotFound(path);
  }
  const std::uintmax_t size = std::filesystem::file_size(file, error);
  if (error || size > kMaxFileBytes) {
    return NotFound(path);
  }
  std::ifstream stream(file, std::ios::binary);
  std::string body(static_cast<std::size_t>(size), '\0');
  if (!stream.read(body.data(), static_cast<std::streamsize>(body.size()))) {
    return NotFound(path);
  }
  StaticAnswer answer;
  answer.contentType = std::string(StaticContentType(relative->filename().string()));
  answer.body = std::move(body);
  return WithHeaders(std::move(answer));
}

std::filesystem::path StaticFiles::DefaultFolder() {
  if (const char* folder = std::getenv("NALO_HOST_UI"); folder != nullptr && *folder != '\0') {
    return folder;
  }
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) {
    return {};
  }
  return program.parent_path() / "ui";
}

std::string_view StaticContentType(std::string_view name) noexcept {
  struct Type {
    std::string_view extension;
    std::string_view type;
  };
  static constexpr Type kTypes[] = {
      {".html", "text/html; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".mjs", "text/javascript; charset=utf-8"},
      {".json", "application/json"},
      {".svg", "image/svg+xml"},
      {".png", "image/png"},
      {".ico", "image/x-icon"},
      {".txt", "text/plain; charset=utf-8"},
  };
  for (const Type& type : kTypes) {
    if (name.size() > type.extension.size() && name.ends_with(type.extension)) {
      return type.type;
    }
  }
  return "application/octet-stream";
}

}  // namespace Nalo::Host::Http
