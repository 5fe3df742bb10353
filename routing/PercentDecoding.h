#pragma once
// Percent-decoding of path parameters and query keys and values.
//
//   percentDecode("a%20b+c")  // "a b c"
//   percentDecode("%zz")      // "%zz": not hexadecimal, kept as written
//   percentDecode("100%")     // "100": a "%" without two characters is dropped
//
// Rules: "+" becomes a space; "%" and two hexadecimal digits (either case)
// become that byte; "%" followed by two characters that are not both
// hexadecimal digits is kept, with the two characters, as written; a "%"
// with fewer than two characters after it is dropped; every other byte is
// copied. Decoding never fails.

#include <string>
#include <string_view>

namespace Nalo {

[[nodiscard]] std::string percentDecode(std::string_view text);

// The same decoding without a copy where there is nothing to decode: returns
// `text` itself when it holds no "%" and no "+", else the decoded text,
// which is kept in `storage` (valid until `storage` changes).
[[nodiscard]] std::string_view percentDecode(std::string_view text, std::string& storage);

}  // namespace Nalo
