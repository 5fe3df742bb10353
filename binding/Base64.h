#pragma once
// Base64 with the standard alphabet and "=" padding, as blobs are written in
// JSON and read back as text.

#include <cstdint>
#include <span>
#include <string>

namespace Nalo {

[[nodiscard]] std::string EncodeBase64(std::span<const std::uint8_t> bytes);

}  // namespace Nalo
