#pragma once
// Limits every reader of outside input (JSON, MessagePack, YAML) enforces
// while it builds a value tree.
//
// Copying, comparing, visiting and destroying a tree recurse once per level,
// so a reader refuses to open a container deeper than kMaxNestingDepth levels
// instead of letting a hostile document exhaust the stack. No real payload of
// this system comes anywhere near it.

#include <cstddef>

namespace Nalo {

inline constexpr std::size_t kMaxNestingDepth = 512;

// Longest collection a value can hold (0xFFFFFFF elements).
inline constexpr std::size_t kMaxCollectionSize = 0xFFFFFFF;

}  // namespace Nalo
