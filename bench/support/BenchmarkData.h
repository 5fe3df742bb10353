#pragma once
// The benchmark input files in bench/data, read once per process.
//
// Inputs are built before anything is timed. A benchmark that cannot get its
// input stops the whole program with a message, because a timing over a
// missing or rejected input means nothing.
//
//   const std::string& text = Nalo::Bench::LoadDataFile("twitter.json");

#include <rapidjson/document.h>

#include <string>
#include <string_view>

namespace Nalo::Bench {

// Prints `why` and a newline to standard error and ends the program with
// status 1.
[[noreturn]] void Abort(std::string_view why);

// The bytes of bench/data/`fileName`, read on first use and kept for the life
// of the process. Aborts when the file can't be read.
[[nodiscard]] const std::string& LoadDataFile(std::string_view fileName);

// bench/data/`fileName` parsed by RapidJSON with its default flags into
// `document`. Aborts when the file can't be read or parsed.
void ParseDataFile(std::string_view fileName, rapidjson::Document& document);

}  // namespace Nalo::Bench
