#pragma once
// The standard JSON documents in other encodings, so that every reader is
// timed on the same data.
//
// MessagePackDataFile and YamlDataFile convert a file of bench/data once per
// process and check that our own reader takes the whole result; the timed
// loops then only read. MessagePackFromJson and YamlFromJson are the
// conversions themselves.
//
//   const std::string& bytes = Nalo::Bench::MessagePackDataFile("canada.json");

#include <rapidjson/document.h>

#include <string>
#include <string_view>

namespace Nalo::Bench {

// `root` as MessagePack in the narrowest form of each family: objects as maps,
// arrays as arrays, strings as str, integers as fixint or (u)int 8..64, other
// numbers as float 64.
[[nodiscard]] std::string MessagePackFromJson(const rapidjson::Value& root);

// `root` as block-style YAML: one mapping member or sequence entry per line,
// nested containers indented by two spaces on the lines below their key or
// dash, empty containers in flow style. Keys and strings are double-quoted
// with JSON-compatible escapes; numbers, booleans and null are plain, so they
// resolve to the same kinds as in JSON.
[[nodiscard]] std::string YamlFromJson(const rapidjson::Value& root);

// bench/data/`fileName` as MessagePack, converted on first use and kept for
// the life of the process. Aborts when the file can't be read or parsed, or
// when ParseMessagePack doesn't read the whole encoding.
[[nodiscard]] const std::string& MessagePackDataFile(std::string_view fileName);

// bench/data/`fileName` as YAML, converted on first use and kept for the life
// of the process. Aborts when the file can't be read or parsed, or when
// ParseYaml rejects the text.
[[nodiscard]] const std::string& YamlDataFile(std::string_view fileName);

}  // namespace Nalo::Bench
