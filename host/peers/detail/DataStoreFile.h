#pragma once
// DataStoreFile: the file in which the data store peer keeps its values,
// "data-store.json" in the state folder: one JSON object of key and value,
// rewritten whole and atomically (temporary file, then rename) after each
// change, readable by its owner alone. Without a state folder the data
// store lives in memory only and nothing is read or written.
//
//   DataStoreFile file(stateFolder);
//   auto contents = file.Read();            // {} or the object kept last time
//   ... change the values ...
//   if (auto saved = file.Write(contents); saved.HasFailure()) { ... }

#include <filesystem>

#include "binding/BindingProperty.h"
#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"

namespace Nalo::Host::detail {

class DataStoreFile {
 public:
  explicit DataStoreFile(std::filesystem::path stateFolder) : mFolder(std::move(stateFolder)) {}

  // The kept object; an empty value when there is no folder or no file yet.
  // A file that can't be parsed (or isn't a JSON object) is kept beside it
  // as "data-store.json.corrupt-<UTC time>" and the failure (500) names both
  // files; when it can't be moved aside, it is left as it is and never
  // written (Writes() turns false), and the failure says so.
  [[nodiscard]] MaybeType<Failure, BindingProperty> Read();

  // Whether Write() writes anything: there is a folder, and its file was
  // not left untouched by Read().
  [[nodiscard]] bool Writes() const noexcept { return !mFolder.empty() && !mLeftUntouched; }

  // Replaces the file's contents with `contents` (an object), creating the
  // folder when needed. Fails (500) naming the file that couldn't be
  // written. Nothing happens when Writes() is false.
  [[nodiscard]] MaybeType<Failure, void> Write(const BindingProperty& contents) const;

 private:
  std::filesystem::path mFolder;
  bool mLeftUntouched = false;  // the file couldn't be read nor moved aside
};

}  // namespace Nalo::Host::detail
