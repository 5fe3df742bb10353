#pragma once
// Values that may hold secrets, made safe for a log line or an error text.
//
//   ToJson(RedactedSecrets(answer))   // {"encryptionKey":"<redacted>","gameId":7}

#include <string_view>

#include "binding/BindingProperty.h"

namespace Nalo {

inline constexpr std::string_view kRedactedSecret = "<redacted>";

// Whether a member of this name holds a secret: its name contains "key",
// "token", "secret" or "password", in any case ("encryptionKey",
// "observerEncryptionKey", "authToken").
[[nodiscard]] bool IsSecretName(std::string_view name) noexcept;

// A copy of `value` in which every member whose name IsSecretName, at any
// depth, holds the text kRedactedSecret instead.
[[nodiscard]] BindingProperty RedactedSecrets(const BindingProperty& value);

}  // namespace Nalo
