#include "host/http/HttpHost.h"

#include <pthread.h>
#include <signal.h>

#include <iostream>
#include <thread>
#include <utility>

#include "platform/Clock.h"

namespace Nalo::Host::Http {

namespace {

void PrintWelcome(const HttpFront& front, const std::filesystem::path& accessFile,
                  const std::vector<std::string>& plugins) {
  const std::string url = front.Url();
  const std::string header = "-H 'Authorization: Bearer " + front.Token() + "'";
  std::cout << "The host serves " << url << "\n"
            << "Token: " << front.Token() << "\n"
            << "Send it as 'Authorization: Bearer <token>', or as the password of HTTP Basic "
               "(curl -u any:<token>).\n"
            << "URL and token are also in " << accessFile.string() << " (readable by you only).\n"
            << "Dashboard: " << url << "/#token=" << front.Token() << "\n";
  std::cout << "Plugins:";
  for (const std::string& plugin : plugins) {
    std::cout << " " << plugin;
  }
  std::cout << "\n\nTry:\n"
            << "  curl " << header << " " << url
            << "/tav-gameflow/v1/session    # 404 while the phase is None\n"
            << "  curl " << header << " -H 'Content-Type: application/json' -X POST \\\n"
            << "       -d '\"GAMEFLOW_EVENT.ENTERED_CHAMP_SELECT\"' " << url
            << "/tav-gameflow/v1/session/event\n"
            << "  curl -N " << header << " '" << url << "/events?prefix=/tav-gameflow/'\n"
            << "\nCtrl-C stops it.\n";
  std::cout.flush();
}

}  // namespace

int RunHttpHost(HttpHostOptions options) {
  // Every thread started from here on inherits the blocked signals; one
  // thread waits for them and stops the host.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  if (options.host.stateFolder.empty()) {
    std::cerr << "The HTTP host needs a state folder (--state DIR).\n";
    return 1;
  }
  // A state folder made for this run goes with it, however it ends.
  struct FolderRemoval {
    explicit FolderRemoval(std::filesystem::path removed) : folder(std::move(removed)) {}
    FolderRemoval(const FolderRemoval&) = delete;
    FolderRemoval& operator=(const FolderRemoval&) = delete;
    FolderRemoval(FolderRemoval&&) = delete;
    FolderRemoval& operator=(FolderRemoval&&) = delete;
    std::filesystem::path folder;
    ~FolderRemoval() {
      if (!folder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
      }
    }
  } removal{options.removeStateFolder ? options.host.stateFolder : std::filesystem::path()};
  options.front.clock = options.host.clock;
  // A recorded session on the real clock runs on a virtual one that follows
  // real time (PluginThread.h), with the wall clock written in the
  // recording: every task and call then happens at a whole millisecond
  // that the recording names, and the replay sees the same times, wall
  // clock included.
  bool followRealTime = false;
  if (!options.recordFile.empty() && options.host.clock == ClockMode::Real) {
    options.host.clock = ClockMode::Virtual;
    options.host.wallClockAtStart = NowMillisecondsSinceEpoch();
    followRealTime = true;
  }
  // Opened before the host reads its data store, so that the recording's
  // header holds the values the plugin will find.
  std::unique_ptr<Recorder> recorder;
  if (!options.recordFile.empty()) {
    auto opened =
        Recorder::Open(options.recordFile, options.host.stateFolder, options.host.wallClockAtStart);
    if (opened.HasFailure()) {
      std::cerr << opened.GetFailure().Message() << "\n";
      return 1;
    }
    recorder = std::move(opened).Value();
    options.front.recorder = recorder.get();
  }
  Host host(options.host);
  for (const std::string& plugin : options.plugins) {
    auto loaded = host.Load(plugin);
    if (loaded.HasFailure()) {
      std::cerr << loaded.GetFailure().Message() << "\n";
      return 1;
    }
  }
  const std::filesystem::path stateFolder = options.host.stateFolder;
  PluginThread pluginThread(host, options.host.clock, followRealTime);
  EventHub hub;
  HttpFront front(pluginThread, hub, std::move(options.front));
  if (auto started = front.Start(); started.HasFailure()) {
    std::cerr << started.GetFailure().Message() << "\n";
    return 1;
  }
  auto accessFile = WriteAccessFile(stateFolder, front.Url(), front.Token());
  if (accessFile.HasFailure()) {
    std::cerr << accessFile.GetFailure().Message() << "\n";
    // Requests that arrived meanwhile are refused, not left waiting for a
    // plugin thread that never runs.
    pluginThread.Stop();
    front.Stop();
    host.Shutdown();
    return 1;
  }
  PrintWelcome(front, accessFile.Value(), host.PluginNames());

  std::thread signalWaiter([&] {
    int received = 0;
    sigwait(&signals, &received);
    pluginThread.Stop();
  });
  pluginThread.Run([&](Host& running) {
    if (recorder) {
      for (const PublishedEvent& event : running.PublishedEvents()) {
        recorder->Published(event);
      }
    }
    hub.TakeRecords(running);
    if (std::optional<std::string> stall = running.TakeStall()) {
      std::cerr << *stall << "\n";
    }
  });
  front.Stop();
  // The waiter may still be waiting when the plugin thread stopped for
  // another reason; wake it.
  // SIGTERM is one of the signals it waits for (and blocked in every thread),
  // so this ends its wait rather than the process.
  // NOLINTNEXTLINE(bugprone-bad-signal-to-kill-thread)
  pthread_kill(signalWaiter.native_handle(), SIGTERM);
  signalWaiter.join();
  if (recorder) {
    recorder->Finish(host.NowNanoseconds());
  }
  host.Shutdown();
  std::cout << "The host stopped.\n";
  return 0;
}

}  // namespace Nalo::Host::Http
