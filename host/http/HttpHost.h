#pragma once
// RunHttpHost: the host program's HTTP mode. Loads the plugins into a host
// with realistic stand-in peers, serves it over HTTP (HttpFront.h), prints
// the URL, the token and example commands once, writes them to the state
// folder's access file, and serves until SIGINT or SIGTERM.

#include <filesystem>
#include <string>
#include <vector>

#include "host/core/Host.h"
#include "host/http/HttpFront.h"

namespace Nalo::Host::Http {

struct HttpHostOptions {
  HostOptions host;  // its state folder also receives the access file
  std::vector<std::string> plugins;
  HttpFrontOptions front;
  // Non-empty: the session is recorded there as a scenario (Recorder.h).
  std::filesystem::path recordFile;
  // The state folder was made for this run: removed when it ends.
  bool removeStateFolder = false;
};

// Returns the program's exit status: 0 after a signal, 1 when a plugin
// can't be loaded, the address can't be bound ("Can't listen on
// ADDRESS:PORT: reason") or the access file can't be written; each failure
// is printed and ends the run at once.
[[nodiscard]] int RunHttpHost(HttpHostOptions options);

}  // namespace Nalo::Host::Http
