#pragma once
// PeerServices: the stand-in peers (Peers.h) as the core holds them: the
// request handling behind Peers, and what the core asks of them when it
// routes a request that no plugin serves. The core gives them a Wiring to
// publish, run due work, read the clock and log.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/peers/EventNames.h"
#include "host/peers/Peers.h"
#include "host/peers/Response.h"
#include "host/peers/detail/DataStoreFile.h"

namespace Nalo::Host::detail {

class PeerServices final : public Peers {
 public:
  // What the peers need of their host.
  struct Wiring {
    // Fans an event out to the subscribers (queued) and records it.
    // `uri` and `eventType` name a resource event's members; empty for
    // other events.
    std::function<void(std::string_view name, std::shared_ptr<const BindingProperty> payload,
                       std::string_view uri, std::string_view eventType)>
        publish;
    // Runs the work that is due now; called at the end of every mutator.
    std::function<void()> runDue;
    std::function<std::uint64_t()> now;
    // Writes one of the host's own log lines.
    std::function<void(std::uint32_t level, std::string_view text)> log;
  };

  // What the peers start with (the host's options that concern them).
  struct Settings {
    PeerSetup setup = PeerSetup::Plain;
    // Where the data store keeps its file; empty: in memory only.
    std::filesystem::path stateFolder;
    // Served at /naloclient/command-line-args.
    std::vector<std::string> commandLine;
  };

  PeerServices(Settings settings, Wiring wiring);

  // Reads the data store file of the state folder, when there is one. A file
  // that can't be parsed (or isn't a JSON object) is kept beside it as
  // "data-store.json.corrupt-<UTC time>" and the data store starts empty;
  // the failure (500) names both files. When it can't be moved aside, it is
  // left as it is and never overwritten: the data store then lives in
  // memory only.
  [[nodiscard]] MaybeType<Failure, void> LoadDataStore();

  // Realistic peers: publishes the current value of every announced path
  // that holds one (Create), in their order, and runs what is due.
  void Announce();

  // Uses up one injected fault of `path` (without query): the answer, or
  // nullopt when the path has none left.
  [[nodiscard]] std::optional<Response> TakeFault(std::string_view path);

  // Answers a request that no plugin serves. `arguments` are the request's
  // positional values; when there are none the parsed body stands in as the
  // single argument (empty when there is no body).
  [[nodiscard]] Response Handle(std::uint32_t method, std::string_view path,
                                std::span<const BindingProperty> arguments);
  // Records a request that reached the peers (or their faults), with what
  // it was answered.
  void Record(std::uint32_t method, std::string_view path, const BindingProperty& value,
              std::uint32_t sender, std::uint32_t status);

  void SetResource(std::string_view path, const BindingProperty& value) override;
  void SeedResource(std::string_view path, const BindingProperty& value) override;
  void PublishResource(std::string_view path, const BindingProperty& value) override;
  void DeleteResource(std::string_view path) override;
  [[nodiscard]] std::optional<BindingProperty> Resource(std::string_view path) const override;
  void SetLcdsAnswer(std::string_view destination, std::string_view method,
                     LcdsAnswer answer) override;
  void SetLcdsAnswers(std::string_view destination, std::string_view method,
                      std::vector<LcdsAnswer> answers) override;
  void SetAnswers(std::string_view method, std::string_view path,
                  std::vector<PeerAnswer> answers) override;
  void ImportRequest(PeerRequest request) override { mRequests.push_back(std::move(request)); }
  void PushLcds(std::string_view typeName, const BindingProperty& body, std::string_view subtopic,
                std::string_view clientId) override;
  [[nodiscard]] const std::vector<LcdsCall>& LcdsCalls() const override { return mLcdsCalls; }
  void SendServiceProxyReply(ServiceProxyKind kind, const ServiceProxyReply& reply) override;
  void InjectFault(std::string_view path, std::uint32_t count, std::uint32_t status,
                   std::string_view error) override;
  [[nodiscard]] const std::vector<TelemetryRecord>& Telemetry() const override {
    return mTelemetry;
  }
  [[nodiscard]] const std::vector<PeerRequest>& Requests() const override { return mRequests; }

  void ClearRecords();

 private:
  struct Fault {
    std::uint32_t count = 0;
    std::uint32_t status = 0;
    std::string error;
  };
  // Answers handed out one per request, the last one repeating.
  template <class Answer>
  struct AnswerSequence {
    std::vector<Answer> answers;
    std::size_t used = 0;
    const Answer& Next() { return answers[std::min(used++, answers.size() - 1)]; }
  };

  // Stores without running due work; true when the value is new.
  [[nodiscard]] MaybeType<Failure, void> Store(std::string_view path, const BindingProperty& value,
                                               bool& created);
  [[nodiscard]] MaybeType<Failure, void> Remove(std::string_view path, bool& removed);
  void Publish(std::string_view path, std::string_view eventType, const BindingProperty& value);
  [[nodiscard]] MaybeType<Failure, void> SaveDataStore() const;
  [[nodiscard]] Response InvokeLcds(std::span<const BindingProperty> arguments);
  // A realistic peer's answer beyond stored values; nullopt when it has none.
  [[nodiscard]] std::optional<Response> RealisticAnswer(std::uint32_t method,
                                                        std::string_view path) const;

  Settings mSettings;
  Wiring mWiring;
  std::map<std::string, BindingProperty, std::less<>> mResources;
  std::map<std::string, AnswerSequence<LcdsAnswer>, std::less<>> mLcdsAnswers;
  std::map<std::string, AnswerSequence<PeerAnswer>, std::less<>> mAnswers;  // "METHOD path"
  std::map<std::string, Fault, std::less<>> mFaults;
  std::vector<LcdsCall> mLcdsCalls;
  std::vector<TelemetryRecord> mTelemetry;
  std::vector<PeerRequest> mRequests;
  std::vector<std::string> mAnnounced;  // realistic peers: paths published after a load
  DataStoreFile mDataStore;
};

}  // namespace Nalo::Host::detail
