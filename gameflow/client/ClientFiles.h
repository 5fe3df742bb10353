#pragma once
// The game client's files: where its executable is, and the locale file the
// game reads at start.

#include <cstddef>
#include <string>
#include <string_view>

#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"

namespace Nalo::Client::Gameflow {

// The executable's name in the patcher's "tav_game_client_sln" folder.
inline constexpr std::string_view kGameClientExecutable = "Tavora.exe";
// The longest executable path the client can be started from, in bytes,
// counting the terminating NUL of the system's buffer.
inline constexpr std::size_t kMaxGamePathBytes = 260;

// `first` and `second` joined with "/" (none when `first` ends in a slash),
// every "\" turned into "/"; a `second` that begins with a slash or a drive
// letter and colon stands alone.
[[nodiscard]] std::string JoinGamePath(std::string_view first, std::string_view second);

// Writes "<directory>/data/cfg/defaults/locale.cfg": "[General]", CR LF and
// "LanguageLocaleRegion=" with `locale`, nothing after it. A locale holding a
// line break or NUL is refused, since it would add lines to the file.
[[nodiscard]] MaybeType<Failure, void> WriteGameLocale(const std::string& directory,
                                                       std::string_view locale);

}  // namespace Nalo::Client::Gameflow
