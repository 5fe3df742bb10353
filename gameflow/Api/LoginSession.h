#pragma once
// LoginSession: the gameflow's copy of the login plugin's session, which
// tells it when the platform connection comes up and who the player is.

#include <cstdint>

namespace Nalo::Client::Gameflow::Api {

// Copied from the platform server, spelling and numbers included: ERROR is
// 3, between SUCCEEDED and LOGGING_OUT in the server's order. Windows'
// <wingdi.h> defines a macro ERROR that breaks this enumerator: a file that
// includes this header and <windows.h> must define NOGDI first.
enum class LoginSessionStates : std::int32_t {
  IN_PROGRESS = 0,
  ERROR = 3,
  SUCCEEDED = 1,
  LOGGING_OUT = 2,
};

struct LoginSession {
  LoginSessionStates state = LoginSessionStates::IN_PROGRESS;
  std::uint64_t summonerId = 0;
  std::uint64_t accountId = 0;
  bool connected = false;

  bool operator==(const LoginSession&) const = default;
};

}  // namespace Nalo::Client::Gameflow::Api
