#include "host/peers/detail/DataStoreFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef _WIN32
// Windows has no fchmod: the file's access is what its folder gives.
static int fchmod(int /*descriptor*/, int /*mode*/) {
  return 0;
}
static std::tm* gmtime_r(const std::time_t* time, std::tm* parts) {
  return gmtime_s(parts, time) == 0 ? parts : nullptr;
}
#endif

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "binding/Json.h"

namespace Nalo::Host::detail {

namespace {

constexpr std::string_view kDataStoreFile = "data-store.json";
constexpr std::uint32_t kInternalError = 500;

namespace Message {
constexpr std::string_view kCorruptDataStore =
    "Couldn't read the data store file {file} ({error}): it was kept as {kept} and the data "
    "store starts empty.";
constexpr std::string_view kCorruptDataStoreNotKept =
    "Couldn't read the data store file {file} ({error}), nor move it aside ({moveError}): it is "
    "left untouched and the data store starts empty, in memory only.";
constexpr std::string_view kUnwritableDataStore =
    "Couldn't write the data store file {file}: {error}";
}  // namespace Message

// The file's name with a UTC time stamp: "data-store.json.corrupt-20261207T150102Z",
// and a counter after it when that name is taken.
std::filesystem::path CorruptFileName(const std::filesystem::path& file) {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm parts{};
  gmtime_r(&now, &parts);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &parts);
  std::filesystem::path kept = file;
  kept += std::string(".corrupt-") + stamp;
  std::error_code error;
  for (int counter = 2; std::filesystem::exists(kept, error); ++counter) {
    kept = file;
    kept += std::string(".corrupt-") + stamp + "-" + std::to_string(counter);
  }
  return kept;
}

}  // namespace

MaybeType<Failure, BindingProperty> DataStoreFile::Read() {
  if (mFolder.empty()) {
    return BindingProperty();
  }
  const std::filesystem::path file = mFolder / kDataStoreFile;
  std::error_code error;
  if (!std::filesystem::exists(file, error)) {
    return BindingProperty();
  }
  std::ifstream stream(file, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(stream)),
                         std::istreambuf_iterator<char>());
  BindingResult parsed = ParseJson(text);
  if (parsed.Failed() || parsed.Value().Kind() != BindingKind::Structure) {
    const std::string problem =
        parsed.Failed() ? std::string(parsed.ErrorMessage()) : "it isn't a JSON object";
    // Moved aside, not overwritten by the next write: nothing is lost unseen.
    const std::filesystem::path kept = CorruptFileName(file);
    std::filesystem::rename(file, kept, error);
    if (error) {
      mLeftUntouched = true;
      return Failure(kInternalError, Message::kCorruptDataStoreNotKept,
                     {{"file", file.string()}, {"error", problem}, {"moveError", error.message()}});
    }
    return Failure(kInternalError, Message::kCorruptDataStore,
                   {{"file", file.string()}, {"error", problem}, {"kept", kept.string()}});
  }
  return std::move(parsed.Value());
}

MaybeType<Failure, void> DataStoreFile::Write(const BindingProperty& contents) const {
  if (!Writes()) {
    return {};
  }
  const std::filesystem::path file = mFolder / kDataStoreFile;
  std::filesystem::path temporary = file;
  temporary += ".tmp";
  std::error_code error;
  // The store holds secrets (the game's encryption key in the process
  // record): a folder made for it and the file are its owner's alone.
  if (std::filesystem::create_directories(mFolder, error)) {
    std::filesystem::permissions(mFolder, std::filesystem::perms::owner_all, error);
  }
  const std::string text = ToJson(contents);
#ifdef _WIN32
  const int descriptor =
      _wopen(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_BINARY, _S_IREAD | _S_IWRITE);
#else
  const int descriptor = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
#endif
  bool written = descriptor >= 0 && fchmod(descriptor, 0600) == 0;
  for (std::size_t done = 0; written && done < text.size();) {
    const ssize_t count = write(descriptor, text.data() + done, text.size() - done);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    written = count > 0;
    done += written ? static_cast<std::size_t>(count) : 0;
  }
  const int writeError = errno;
  if (descriptor >= 0) {
    close(descriptor);
  }
  if (!written) {
    return Failure(kInternalError, Message::kUnwritableDataStore,
                   {{"file", temporary.string()}, {"error", std::strerror(writeError)}});
  }
  // rename() replaces the old file in one step: a reader (or a crash) sees
  // the old contents or the new, never a part.
  std::filesystem::rename(temporary, file, error);
  if (error) {
    return Failure(kInternalError, Message::kUnwritableDataStore,
                   {{"file", file.string()}, {"error", error.message()}});
  }
  return {};
}

}  // namespace Nalo::Host::detail
