#pragma once
// The static type record: a process-wide identity for each native type that
// takes part in binding, so that the registry can find a type's descriptor
// from the C++ type alone.
//
//   const BindingStaticType& record = StaticTypeOf<Queue>();
//   record.id      // e.g. 0x1F3A09C2
//   record.Text()  // "#1F3A09C2"
//
// The identifier is the 32-bit FNV-1a hash of the type's name as the
// compiler spells it inside a template's __PRETTY_FUNCTION__ ("Nalo::Foo",
// "std::vector<int>"), computed at compile time. It is therefore stable for a
// type within one build (and across builds with the same compiler), distinct
// between types unless two names collide; the registry refuses a collision
// at registration with a fatal message, so a clash can never mix two types
// up silently. The value 0 is reserved for "no type" (kNoStaticTypeId); a
// type that hashed to it fails to compile.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace Nalo {

inline constexpr std::uint32_t kNoStaticTypeId = 0;

// 32-bit FNV-1a of `bytes`.
[[nodiscard]] constexpr std::uint32_t Fnv1a32(std::string_view bytes) noexcept {
  std::uint32_t hash = 2166136261u;
  for (const char c : bytes) {
    hash ^= static_cast<std::uint8_t>(c);
    hash *= 16777619u;
  }
  return hash;
}

struct BindingStaticType {
  std::uint32_t id = kNoStaticTypeId;
  // "#" and eight upper-case hexadecimal digits, NUL-terminated.
  char text[10] = {};
  // The compiler's spelling of the type; empty for the no-type record.
  std::string_view nativeName;

  [[nodiscard]] constexpr std::string_view Text() const noexcept { return {text, 9}; }
};

namespace detail {

template <class T>
constexpr std::string_view NativeTypeSignature() noexcept {
  return __PRETTY_FUNCTION__;
}

// The "T = ..." part of a signature: up to ";" (GCC) or the closing "]".
constexpr std::string_view NativeTypeName(std::string_view signature) noexcept {
  const std::size_t start = signature.find("T = ");
  if (start == std::string_view::npos) {
    return signature;
  }
  const std::string_view rest = signature.substr(start + 4);
  const std::size_t semicolon = rest.find(';');
  return semicolon != std::string_view::npos ? rest.substr(0, semicolon)
                                             : rest.substr(0, rest.rfind(']'));
}

constexpr BindingStaticType MakeStaticType(std::uint32_t id, std::string_view nativeName) noexcept {
  BindingStaticType record;
  record.id = id;
  record.nativeName = nativeName;
  record.text[0] = '#';
  for (int digit = 0; digit < 8; ++digit) {
    const std::uint32_t nibble = (id >> (28 - 4 * digit)) & 0xFu;
    record.text[1 + digit] = static_cast<char>(nibble < 10 ? '0' + nibble : 'A' + nibble - 10);
  }
  record.text[9] = '\0';
  return record;
}

template <class T>
inline constexpr BindingStaticType kStaticType = [] {
  constexpr std::string_view kName = NativeTypeName(NativeTypeSignature<T>());
  constexpr std::uint32_t kId = Fnv1a32(kName);
  static_assert(kId != kNoStaticTypeId, "this type's name hashes to the reserved no-type id");
  return MakeStaticType(kId, kName);
}();

inline constexpr BindingStaticType kNoStaticType = MakeStaticType(kNoStaticTypeId, {});

}  // namespace detail

// The record of `T`: one object per type for the whole process.
template <class T>
[[nodiscard]] constexpr const BindingStaticType& StaticTypeOf() noexcept {
  return detail::kStaticType<T>;
}

// The record that stands for no type: types registered with it are found by
// name only.
[[nodiscard]] constexpr const BindingStaticType& NoStaticType() noexcept {
  return detail::kNoStaticType;
}

}  // namespace Nalo
