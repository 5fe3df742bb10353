// The host program.
//
//   host --plugin PATH --scenario FILE [--state DIR]
//       runs a scenario; exit status 0 when every step holds, 1 otherwise
//       (the report names the first failing step), 2 for bad usage.
//   host --plugin PATH [--state DIR] [--core-version X.Y.Z] [-- HOST ARGS...]
//       loads the plugin(s) on a real clock and reads requests from standard
//       input, one per line:
//         GET /path            POST /path {"json": 1}      PUT|DELETE ...
//         set /path {json}     (a peer value, published)
//         lcds TYPE {json}     (a platform-server push)
//         quit
//       Responses and published events are printed to standard output, log
//       lines to standard error.
//   host --plugin PATH --http [ADDRESS:]PORT [--state DIR] [--token TOKEN]
//        [--cors-origin ORIGIN] [--virtual-clock] [--record FILE]
//       serves the plugin(s) and the stand-in peers over HTTP until Ctrl-C
//       (host/http/HttpFront.h); loopback unless an address is given, port 0
//       for any free one. Without --state a new temporary folder is used.

#ifndef _WIN32
#include <poll.h>
#include <unistd.h>
#else
#include <process.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "binding/Json.h"
#include "host/core/Host.h"
#include "host/peers/Peers.h"
#include "host/scenario/Scenario.h"
#include "host/scenario/ValueMatch.h"
#ifndef _WIN32
#include "host/http/HttpHost.h"
#endif

namespace {

constexpr int kUsageError = 2;
constexpr std::string_view kUsage =
    "usage: host --plugin PATH [--plugin PATH...] [--scenario FILE] [--state DIR]\n"
    "            [--core-version X.Y.Z] [-- HOST COMMAND LINE...]\n"
    "       host --plugin PATH... --http [ADDRESS:]PORT [--state DIR] [--token TOKEN]\n"
    "            [--cors-origin ORIGIN] [--virtual-clock] [--record FILE]\n"
    "            [-- HOST COMMAND LINE...]\n";

struct Arguments {
  std::vector<std::string> plugins;
  std::string scenario;
  std::string stateFolder;
  std::string coreVersion;
  std::vector<std::string> commandLine;
  std::string http;  // [ADDRESS:]PORT
  std::string token;
  std::string corsOrigin;
  std::string record;
  bool virtualClock = false;
};

bool ParseArguments(int count, char** values, Arguments& arguments) {
  for (int i = 1; i < count; ++i) {
    const std::string_view argument = values[i];
    const auto next = [&](std::string& into) {
      if (i + 1 >= count) {
        return false;
      }
      into = values[++i];
      return true;
    };
    if (argument == "--") {
      arguments.commandLine.assign(values + i + 1, values + count);
      break;
    }
    std::string value;
    if (argument == "--plugin" && next(value)) {
      arguments.plugins.push_back(value);
    // The options below only store their value: their branches are empty.
    // NOLINTNEXTLINE(bugprone-branch-clone)
    } else if (argument == "--scenario" && next(arguments.scenario)) {
    } else if (argument == "--state" && next(arguments.stateFolder)) {
    } else if (argument == "--core-version" && next(arguments.coreVersion)) {
    } else if (argument == "--http" && next(arguments.http)) {
    } else if (argument == "--token" && next(arguments.token)) {
    } else if (argument == "--cors-origin" && next(arguments.corsOrigin)) {
    } else if (argument == "--record" && next(arguments.record)) {
    } else if (argument == "--virtual-clock") {
      arguments.virtualClock = true;
    } else {
      return false;
    }
  }
  return !arguments.plugins.empty() && (arguments.http.empty() || arguments.scenario.empty());
}

[[maybe_unused]] bool ParseCoreVersion(const std::string& text, Nalo::Host::HostOptions& options) {
  if (text.empty()) {
    return true;
  }
  unsigned major = 0, minor = 0, patch = 0;
  if (std::sscanf(text.c_str(), "%u.%u.%u", &major, &minor, &patch) != 3) {
    std::cerr << "The core version must be written X.Y.Z.\n";
    return false;
  }
  options.coreMajor = major;
  options.coreMinor = minor;
  options.corePatch = patch;
  return true;
}

// A new state folder under the system's temporary folder; empty, with the
// reason printed, when none could be made.
std::filesystem::path MakeTemporaryFolder() {
#ifdef _WIN32
  std::error_code error;
  const std::filesystem::path base = std::filesystem::temp_directory_path(error);
  for (unsigned attempt = 0; !error && attempt < 100; ++attempt) {
    std::filesystem::path folder =
        base / ("nalo-host-" + std::to_string(_getpid()) + "-" + std::to_string(attempt));
    if (std::filesystem::create_directory(folder, error)) {
      return folder;
    }
  }
  std::cerr << "Can't create a temporary state folder.\n";
  return {};
#else
  std::string pattern = (std::filesystem::temp_directory_path() / "nalo-host-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::cerr << "Can't create a temporary state folder.\n";
    return {};
  }
  return pattern;
#endif
}

#ifdef _WIN32
// The Windows host has no HTTP front (docs/windows.md).
int RunHttp(const Arguments& /*arguments*/) {
  std::cerr << "This host has no HTTP front.\n";
  return kUsageError;
}
#else
int RunHttp(const Arguments& arguments) {
  Nalo::Host::Http::HttpHostOptions options;
  options.plugins = arguments.plugins;
  options.host.clock =
      arguments.virtualClock ? Nalo::Host::ClockMode::Virtual : Nalo::Host::ClockMode::Real;
  options.host.peers = Nalo::Host::PeerSetup::Realistic;
  options.host.commandLine = arguments.commandLine;
  options.host.logEcho = [](std::string_view line) { std::cerr << line << "\n"; };
  if (!ParseCoreVersion(arguments.coreVersion, options.host)) {
    return kUsageError;
  }
  const std::size_t colon = arguments.http.rfind(':');
  const std::string portText =
      colon == std::string::npos ? arguments.http : arguments.http.substr(colon + 1);
  char* end = nullptr;
  const long port = std::strtol(portText.c_str(), &end, 10);
  if (portText.empty() || *end != '\0' || port < 0 || port > 65535) {
    std::cerr << "--http takes [ADDRESS:]PORT, with a port from 0 to 65535.\n";
    return kUsageError;
  }
  options.front.port = static_cast<int>(port);
  if (colon != std::string::npos && colon > 0) {
    std::string address = arguments.http.substr(0, colon);
    if (address.size() > 2 && address.front() == '[' && address.back() == ']') {
      address = address.substr(1, address.size() - 2);
    }
    options.front.address = address;
  }
  options.front.token = arguments.token;
  options.recordFile = arguments.record;
  options.front.corsOrigin = arguments.corsOrigin;
  options.front.log = [](std::string_view line) { std::cerr << line << "\n"; };
  std::filesystem::path stateFolder = arguments.stateFolder;
  if (stateFolder.empty()) {
    stateFolder = MakeTemporaryFolder();
    if (stateFolder.empty()) {
      return kUsageError;
    }
    options.removeStateFolder = true;
  }
  options.host.stateFolder = stateFolder;
  return Nalo::Host::Http::RunHttpHost(std::move(options));
}
#endif

int RunScenarioFile(const Arguments& arguments) {
  std::ifstream file(arguments.scenario, std::ios::binary);
  if (!file) {
    std::cerr << "Can't read the scenario " << arguments.scenario << ".\n";
    return kUsageError;
  }
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  auto scenario = Nalo::Host::ParseScenario(text);
  if (scenario.HasFailure()) {
    std::cerr << arguments.scenario << ": " << scenario.GetFailure().Message() << "\n";
    return 1;
  }
  // Without --state each run gets a state folder of its own, so that runs
  // don't see each other's data store and a restart step still finds it.
  std::filesystem::path stateFolder = arguments.stateFolder;
  bool temporary = false;
  if (stateFolder.empty()) {
    stateFolder = MakeTemporaryFolder();
    if (stateFolder.empty()) {
      return kUsageError;
    }
    temporary = true;
  }
  Nalo::Host::ScenarioOutcome outcome =
      Nalo::Host::RunScenario(scenario.Value(), arguments.plugins.front(), stateFolder);
  // The run happens in a child process (RunScenario), so this line is
  // reached even when the plugin crashed.
  if (temporary) {
    std::error_code ignored;  // a leftover temporary folder harms nobody
    std::filesystem::remove_all(stateFolder, ignored);
  }
  (outcome.passed ? std::cout : std::cerr) << outcome.report;
  return outcome.passed ? 0 : 1;
}

// Prints every event published since `printed`.
void PrintEvents(const Nalo::Host::Host& host, std::size_t& printed) {
  const auto& events = host.PublishedEvents();
  for (; printed < events.size(); ++printed) {
    std::cout << "event " << events[printed].name << " "
              << Nalo::Host::Describe(*events[printed].payload) << "\n";
  }
  std::cout.flush();
}

void HandleLine(Nalo::Host::Host& host, const std::string& line) {
  std::istringstream stream(line);
  std::string verb;
  std::string target;
  stream >> verb >> target;
  std::string rest;
  std::getline(stream, rest);
  const std::size_t start = rest.find_first_not_of(' ');
  rest = start == std::string::npos ? std::string() : rest.substr(start);
  if (verb == "set" || verb == "lcds") {
    Nalo::BindingResult value = Nalo::ParseJson(rest);
    if (value.Failed()) {
      std::cout << "error " << value.ErrorMessage() << "\n";
      return;
    }
    if (verb == "set") {
      host.GetPeers().SetResource(target, value.Value());
    } else {
      host.GetPeers().PushLcds(target, value.Value());
    }
    return;
  }
  const Nalo::Host::Response response = host.Request(verb, target, rest);
  std::cout << response.status << " " << response.reason;
  if (!response.error.empty()) {
    std::cout << " error: " << response.error;
  }
  if (!response.body.IsEmpty()) {
    std::cout << " " << Nalo::ToJson(response.body);
  }
  std::cout << "\n";
}

int RunInteractive(const Arguments& arguments) {
  Nalo::Host::HostOptions options;
  options.clock = Nalo::Host::ClockMode::Real;
  options.peers = Nalo::Host::PeerSetup::Realistic;
  options.stateFolder = arguments.stateFolder;
  options.commandLine = arguments.commandLine;
  options.logEcho = [](std::string_view line) { std::cerr << line << "\n"; };
  if (!arguments.coreVersion.empty()) {
    unsigned major = 0, minor = 0, patch = 0;
    if (std::sscanf(arguments.coreVersion.c_str(), "%u.%u.%u", &major, &minor, &patch) != 3) {
      std::cerr << "The core version must be written X.Y.Z.\n";
      return kUsageError;
    }
    options.coreMajor = major;
    options.coreMinor = minor;
    options.corePatch = patch;
  }
  Nalo::Host::Host host(std::move(options));
  for (const std::string& plugin : arguments.plugins) {
    auto loaded = host.Load(plugin);
    if (loaded.HasFailure()) {
      std::cerr << loaded.GetFailure().Message() << "\n";
      return 1;
    }
  }
  std::size_t printed = 0;
  std::string pending;
  for (;;) {
    host.RunDueTasks();
    PrintEvents(host, printed);
    if (std::optional<std::string> stall = host.TakeStall()) {
      std::cerr << *stall << "\n";
    }
    int timeout = -1;
    if (auto next = host.TimeUntilNextTask()) {
      timeout = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(*next).count());
    }
#ifdef _WIN32
    // Standard input can't be waited on with a timeout here: the next line
    // is read whole, and tasks that fall due meanwhile run once it came.
    (void)timeout;
    std::string line;
    if (!std::getline(std::cin, line)) {
      break;
    }
    pending += line + "\n";
#else
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (poll(&input, 1, timeout) <= 0) {
      continue;
    }
    char buffer[4096];
    const ssize_t count = read(STDIN_FILENO, buffer, sizeof buffer);
    if (count <= 0) {
      break;
    }
    pending.append(buffer, static_cast<std::size_t>(count));
#endif
    std::size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
      const std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (line == "quit") {
        return 0;
      }
      if (!line.empty()) {
        HandleLine(host, line);
        PrintEvents(host, printed);
      }
    }
  }
  return 0;
}

}  // namespace

int main(int count, char** values) {
  Arguments arguments;
  if (!ParseArguments(count, values, arguments)) {
    std::cerr << kUsage;
    return kUsageError;
  }
  for (const std::string& plugin : arguments.plugins) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(plugin, error)) {
      std::cerr << "There is no plugin file at " << plugin << ".\n" << kUsage;
      return kUsageError;
    }
  }
  if (!arguments.http.empty()) {
    return RunHttp(arguments);
  }
  return arguments.scenario.empty() ? RunInteractive(arguments) : RunScenarioFile(arguments);
}
