#pragma once
// Recorder: writes everything that reaches the plugins from outside through
// the HTTP front (requests, peer changes, LCDS pushes and answers, faults),
// with the time between them, as a scenario file (docs/scenarios.md), with
// the answers and the publications seen as expectations, so that a session
// driven by hand replays as a regression test with `host --scenario FILE`.
//
// Every call is made on the plugin thread, in the order things happened.
// Steps are written as they come and the file is flushed after each, so a
// host stopped by a signal leaves a complete scenario up to its last step.
//
// What the file can't carry: request headers (the scenario format has none)
// and MessagePack bodies, which are written as the JSON of their value.
// Times are whole milliseconds; a replay runs on virtual time, where the
// timers that ran between two steps run in the `advance` between them.
//
// When the stand-in game client is installed in the state folder, the file
// carries its control file as the `stand-in-client` header, so the replay
// installs it too, and a `pid` member in an expectation that holds the pid
// of a client this host started is written as "<client-pid-N>" (the Nth
// client started during the recording), which the replay resolves to the
// pid of the Nth client it started itself.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "binding/BindingProperty.h"
#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"
#include "host/core/Host.h"

namespace Nalo::Host::Http {

class Recorder {
 public:
  // Opens `file` and writes the scenario's header: its name, the host's wall
  // clock now, and the data store's values from `stateFolder` as the
  // scenario's resources. Fails with 500 when the file can't be written.
  [[nodiscard]] static MaybeType<Failure, std::unique_ptr<Recorder>> Open(
      const std::filesystem::path& file, const std::filesystem::path& stateFolder,
      std::uint64_t wallClockMilliseconds);

  // Writes what is still pending (the publications since the last step,
  // after the time that passed) and closes the file.
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;
  Recorder(Recorder&&) = delete;
  Recorder& operator=(Recorder&&) = delete;

  // Called before a request or a step is handed to the core: what the
  // stand-in client did until then goes before the step, what it does in
  // answer to it after the step.
  void Before();
  // A request that reached the core at `nowNanoseconds` (host time), and
  // its answer.
  void Request(std::uint64_t nowNanoseconds, std::string_view method, std::string_view path,
               std::string_view contentType, std::string_view body, const Response& response);
  // A step of another kind ("push-lcds", "lcds-answer", "fault") with its
  // members.
  void Step(std::uint64_t nowNanoseconds, std::string_view kind, const BindingProperty& members);
  // A publication; written as an expectation before the next step (or at
  // the end), latest value per resource.
  void Published(const PublishedEvent& event);
  // Writes the pending expectations after the time up to `nowNanoseconds`.
  void Finish(std::uint64_t nowNanoseconds);

 private:
  explicit Recorder(std::ofstream file) : mFile(std::move(file)) {}
  // Writes the advance to `nowNanoseconds` and the pending expectations,
  // after what the client did since the last look when `withClient`.
  void CatchUp(std::uint64_t nowNanoseconds, bool withClient);
  void WriteStep(std::string_view kind, const BindingProperty& members);
  // Replaces the pids of the clients this host started, in `pid` members at
  // any depth of `value`, with their placeholders.
  void MarkClientPids(BindingProperty& value);
  // The placeholder of `pid`, when it is a client this host started.
  std::optional<std::string> ClientPlaceholder(std::int64_t pid);
  // The lines of the client's record written since the recording began.
  std::vector<BindingProperty> ClientRecord() const;
  // The pids of the clients started since the recording began, in order,
  // from the client's record.
  std::vector<std::int64_t> ClientStarts() const;
  // Writes what the latest client did since the last look, as the steps
  // that make the replay's client do and wait for the same: the commands it
  // was handed, its window opening and coming to the front, its end; and a
  // change of the control file.
  void WriteClientSteps();

  std::ofstream mFile;
  std::uint64_t mWrittenMilliseconds = 0;
  // Resource URI -> its latest publication since the last step.
  std::map<std::string, BindingProperty> mPending;
  bool mFinished = false;
  // The installed stand-in client's folder, or empty.
  std::filesystem::path mClientFolder;
  // Lines already in the client's record when the recording began, and
  // the lines of it written as steps.
  std::size_t mEarlierClientLines = 0;
  std::size_t mClientLinesWritten = 0;
  // Children of the host that never recorded a client's start.
  std::set<std::int64_t> mNotClients;
  // The control file as the recording last wrote it.
  std::string mClientControl;
};

}  // namespace Nalo::Host::Http
