#pragma once
// The reason phrase of an HTTP-style status code, as responses carry it.
//
//   StatusReason(404)  // "Not Found"
//   StatusReason(207)  // "207 Multi-Status" (this phrase carries its code)
//   StatusReason(299)  // "": no phrase for codes outside the table
//
// The table is constant data; reading it is safe from any thread.

#include <cstdint>
#include <string_view>

namespace Nalo {

[[nodiscard]] std::string_view StatusReason(std::uint32_t status) noexcept;

}  // namespace Nalo
