#include "plugin/SecretRedaction.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>

#include "binding/BindingLimits.h"

namespace Nalo {

namespace {

bool ContainsIgnoringCase(std::string_view text, std::string_view word) noexcept {
  return std::search(text.begin(), text.end(), word.begin(), word.end(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == b;
         }) != text.end();
}

BindingProperty Redacted(const BindingProperty& value, std::size_t depth) {
  // Readers refuse deeper trees; whatever lies deeper is not shown at all.
  if (depth > kMaxNestingDepth) {
    BindingProperty hidden;
    hidden.SetString(kRedactedSecret);
    return hidden;
  }
  BindingProperty copy;
  switch (value.Kind()) {
    case BindingKind::Structure:
      copy.MakeStructure();
      for (const auto& member : value.Members()) {
        if (IsSecretName(member.name) && !member.value.IsEmpty()) {
          copy.member(member.name).SetString(kRedactedSecret);
        } else {
          copy.member(member.name) = Redacted(member.value, depth + 1);
        }
      }
      return copy;
    case BindingKind::Collection: {
      copy.MakeCollection();
      const auto elements = value.Elements();
      for (std::size_t i = 0; i < elements.size(); ++i) {
        copy.at(i) = Redacted(elements[i], depth + 1);
      }
      return copy;
    }
    default:
      return value;
  }
}

}  // namespace

bool IsSecretName(std::string_view name) noexcept {
  constexpr std::array<std::string_view, 4> kWords = {"key", "token", "secret", "password"};
  return std::any_of(kWords.begin(), kWords.end(),
                     [&](std::string_view word) { return ContainsIgnoringCase(name, word); });
}

BindingProperty RedactedSecrets(const BindingProperty& value) {
  return Redacted(value, 0);
}

}  // namespace Nalo
