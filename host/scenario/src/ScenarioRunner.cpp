// The run of a scenario: the plugin loaded before the first step that needs
// it, each step's effect on the host and its peers, restart and mark, and the
// checks made after every step (Runner.h names the other rooms).

#include <utility>

#include "host/peers/Peers.h"
#include "host/scenario/src/Runner.h"

namespace Nalo::Host::detail {

namespace {

// Steps that only tell the peers or the clock how to behave; they may come
// before the plugin is loaded (the header's lcds table becomes such steps).
bool IsPeerSetup(const ScenarioStep& step) {
  return step.kind == StepKind::LcdsAnswer || step.kind == StepKind::Answer ||
         step.kind == StepKind::Fault || step.kind == StepKind::WallClock;
}

// Whether `step` loads the plugin first thing: load, or an expect-fatal or
// expect-exit around a load.
bool LoadsFirst(const ScenarioStep& step) {
  if (step.kind == StepKind::Load) {
    return true;
  }
  return (step.kind == StepKind::ExpectFatal || step.kind == StepKind::ExpectExit) &&
         !step.during.empty() && step.during.front().kind == StepKind::Load;
}

}  // namespace

Runner::Runner(const Scenario& scenario, std::filesystem::path plugin,
               std::filesystem::path stateFolder, RunnerWatch watch)
    : mScenario(scenario),
      mPlugin(std::move(plugin)),
      mStateFolder(std::move(stateFolder)),
      mWatch(std::move(watch)) {
  if (mScenario.standInClient.has_value()) {
    InstallClient(*mScenario.standInClient);
  }
  CreateHost();
  RegisterSecrets();
}

Runner::~Runner() {
  EndClients();
}

ScenarioOutcome Runner::Run() {
  if (!mClientProblem.empty()) {
    return {false, "Scenario " + Quoted(mScenario.name) + ": " + mClientProblem + "\n"};
  }
  bool loadDecided = false;
  for (const ScenarioStep& step : mScenario.steps) {
    // The plugin is loaded before the first step that isn't setting up a
    // peer, unless that step loads it itself.
    if (!loadDecided && !IsPeerSetup(step)) {
      loadDecided = true;
      if (!LoadsFirst(step)) {
        if (StepResult loaded = Load()) {
          return {false, "Scenario " + Quoted(mScenario.name) + ": " + *loaded + "\n"};
        }
      }
    }
    if (mWatch.stepStarts) {
      mWatch.stepStarts(step);
    }
    StepResult failed = Execute(step);
    if (std::optional<std::string> stall = mHost->TakeStall(); stall && !failed) {
      failed = *stall;
    }
    if (StepResult leak = FindSecretInLog(); leak && !failed) {
      failed = leak;
    }
    if (StepResult unknown = FindRefusedLcdsClass(step); unknown && !failed) {
      failed = unknown;
    }
    if (failed) {
      return {false, "Scenario " + Quoted(mScenario.name) + " failed at step " +
                         std::to_string(step.index) + " (" + step.title + "):\n  " + *failed +
                         "\n"};
    }
  }
  if (!loadDecided) {  // nothing but set-up: the load is what is checked
    if (StepResult loaded = Load()) {
      return {false, "Scenario " + Quoted(mScenario.name) + ": " + *loaded + "\n"};
    }
  }
  if (StepResult leak = FindSecretInLog()) {
    return {false, "Scenario " + Quoted(mScenario.name) + ": " + *leak + "\n"};
  }
  return {true, "Scenario " + Quoted(mScenario.name) + " passed (" +
                    std::to_string(mScenario.steps.size()) + " steps).\n"};
}

void Runner::CreateHost() {
  HostOptions options;
  options.coreMajor = mScenario.coreMajor;
  options.coreMinor = mScenario.coreMinor;
  options.corePatch = mScenario.corePatch;
  options.clock = ClockMode::Virtual;
  options.stateFolder = mStateFolder;
  options.commandLine = mScenario.commandLine;
  options.streamPieceSize = mScenario.streamPieceSize;
  options.wallClockAtStart = mScenario.wallClockAtStart;
  options.peers = mScenario.peers;
  options.announcePeers = mScenario.announcePeers;
  options.logEcho = mWatch.logLine;
  mHost = std::make_unique<Host>(std::move(options));
  // After a restart the data store already holds what was stored before;
  // the scenario's initial values don't overwrite it. Every other initial
  // value replaces the realistic default of its path.
  for (const auto& [path, value] : mScenario.resources) {
    const bool stored = std::string_view(path).starts_with("/data-store/") &&
                        mHost->GetPeers().Resource(path).has_value();
    if (!stored) {
      mHost->GetPeers().SeedResource(path, value);
    }
  }
}

StepResult Runner::Load() {
  auto loaded = mHost->Load(mPlugin);
  if (loaded.HasFailure()) {
    return "the plugin didn't load: " + std::string(loaded.GetFailure().Message());
  }
  return std::nullopt;
}

void Runner::SetMark() {
  mMark = {mHost->LogLines().size(),
           mHost->PublishedEvents().size(),
           mHost->GetPeers().Requests().size(),
           mHost->GetPeers().LcdsCalls().size(),
           mHost->GetPeers().Telemetry().size(),
           SettledClientStarts().size()};
}

// Virtual time starts again at 0; the wall clock carries on.
StepResult Runner::Restart() {
  const std::uint64_t wallClock = mHost->WallClockMilliseconds();
  mHost.reset();
  CreateHost();
  mHost->SetWallClock(wallClock);
  mMark = {};
  mMark.clientStarts = SettledClientStarts().size();
  mLogLinesChecked = 0;
  mLcdsLinesChecked = 0;
  // The header's lcds answers hold for the new host too (they are the
  // leading steps with index 0).
  for (const ScenarioStep& header : mScenario.steps) {
    if (header.index == 0 && header.kind == StepKind::LcdsAnswer) {
      static_cast<void>(Execute(header));
    }
  }
  return Load();
}

StepResult Runner::Execute(const ScenarioStep& step) {
  Peers& peers = mHost->GetPeers();
  switch (step.kind) {
    case StepKind::Load:
      return Load();
    case StepKind::Restart:
      return Restart();
    case StepKind::Set:
      peers.SetResource(step.path, step.value);
      return std::nullopt;
    case StepKind::Publish:
      peers.PublishResource(step.path, step.value);
      return std::nullopt;
    case StepKind::Delete:
      peers.DeleteResource(step.path);
      return std::nullopt;
    case StepKind::PushLcds:
      // A message of a class no plugin knows would go nowhere, unseen.
      if (!mHost->PluginNames().empty() && !mHost->HasSubscriber(LcdsEventName(step.text))) {
        return "no loaded plugin knows the class " + Quoted(step.text) + ": none subscribes to " +
               LcdsEventName(step.text);
      }
      peers.PushLcds(step.text, step.value, step.subtopic, step.clientId);
      return std::nullopt;
    case StepKind::LcdsAnswer: {
      const std::size_t dot = step.text.find('.');
      peers.SetLcdsAnswers(std::string_view(step.text).substr(0, dot),
                           std::string_view(step.text).substr(dot + 1), step.lcdsAnswers);
      return std::nullopt;
    }
    case StepKind::Answer:
      peers.SetAnswers(step.method, step.path, step.peerAnswers);
      return std::nullopt;
    case StepKind::Mark:
      SetMark();
      return std::nullopt;
    case StepKind::Shutdown:
      // The records stay for the expectations that follow.
      mHost->Shutdown();
      return std::nullopt;
    case StepKind::Fault:
      peers.InjectFault(step.path, step.count, step.status, step.text);
      return std::nullopt;
    case StepKind::ServiceProxy:
      peers.SendServiceProxyReply(step.proxyKind, step.reply);
      return std::nullopt;
    case StepKind::Request:
      mLastResponse = mHost->Request(step.method, step.path, step.text, step.contentType);
      return step.expect ? CheckResponse(*step.expect) : std::nullopt;
    case StepKind::Advance:
      mHost->Advance(step.duration);
      return std::nullopt;
    case StepKind::WallClock:
      mHost->SetWallClock(step.milliseconds);
      return std::nullopt;
    case StepKind::ExpectResponse:
      return CheckResponse(*step.expect);
    case StepKind::ExpectPublished:
      return ExpectPublished(step);
    case StepKind::ExpectNotPublished:
      return ExpectNotPublished(step);
    case StepKind::ExpectSequence:
      return ExpectSequence(step);
    case StepKind::ExpectResource:
      return ExpectResource(step);
    case StepKind::ExpectLog:
      return ExpectLog(step, true);
    case StepKind::ExpectNoLog:
      return ExpectLog(step, false);
    case StepKind::ExpectTelemetry:
      return ExpectTelemetry(step, true);
    case StepKind::ExpectNoTelemetry:
      return ExpectTelemetry(step, false);
    case StepKind::ExpectLcdsCall:
      return ExpectLcdsCall(step, true);
    case StepKind::ExpectNoLcdsCall:
      return ExpectLcdsCall(step, false);
    case StepKind::ExpectRequest:
      return ExpectRequest(step, true);
    case StepKind::ExpectNoRequest:
      return ExpectRequest(step, false);
    case StepKind::ExpectFatal:
    case StepKind::ExpectExit:
      return ExpectEnding(step);
    case StepKind::ClientControl:
      return ControlClient(step.text);
    case StepKind::ClientCommand:
      return CommandClient(step.text);
    case StepKind::ExpectClientSpawned:
      return ExpectClientSpawned(step);
    case StepKind::ExpectFile:
      return ExpectFile(step);
    case StepKind::AwaitClientExit:
      return AwaitClientExit(step);
    case StepKind::SignalClient:
      return SignalClient(step);
    case StepKind::AwaitClient:
      return AwaitClientEvent(step);
    case StepKind::ExpectTimers:
      return ExpectTimers(step);
  }
  return "unknown step";
}

}  // namespace Nalo::Host::detail
