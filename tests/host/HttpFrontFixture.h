#pragma once
// A host with the runtime's test plugin served over HTTP on 127.0.0.1, in
// this process: the plugin thread and the front run on threads of their
// own; the tests talk to it through real sockets with cpp-httplib's client.

#include <httplib.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/Host.h"
#include "host/http/EventHub.h"
#include "host/http/HttpFront.h"
#include "host/http/PluginThread.h"

namespace Nalo::Host::Http::Testing {

// Polls `condition` until it holds or `limit` has passed; true when it held.
inline bool Eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::yield();
  }
  return true;
}

class ServedHost {
 public:
  explicit ServedHost(HttpFrontOptions front = {}, ClockMode clock = ClockMode::Real,
                      std::string plugin = NALO_TEST_PLUGIN_PATH) {
    std::string pattern = (std::filesystem::temp_directory_path() / "nalo-http-XXXXXX").string();
    mFolder = mkdtemp(pattern.data());
    HostOptions options;
    options.clock = clock;
    options.peers = PeerSetup::Realistic;
    options.stateFolder = mFolder;
    options.logEcho = [this](std::string_view line) {
      std::lock_guard lock(mLogMutex);
      mLog.emplace_back(line);
    };
    mHost = std::make_unique<Host>(std::move(options));
    mLoaded = mHost->Load(plugin).HasFailure() == false;
    mThread = std::make_unique<PluginThread>(*mHost, clock);
    front.clock = clock;
    front.log = [this](std::string_view line) {
      std::lock_guard lock(mLogMutex);
      mLog.emplace_back(line);
    };
    mFront = std::make_unique<HttpFront>(*mThread, mHub, std::move(front));
    mStarted = mFront->Start().HasFailure() == false;
    mRunner = std::thread([this] { mThread->Run([this](Host& host) { mHub.TakeRecords(host); }); });
  }
  ~ServedHost() {
    mFront->Stop();
    mThread->Stop();
    mRunner.join();
    mHost.reset();
    std::error_code ignored;
    std::filesystem::remove_all(mFolder, ignored);
  }
  ServedHost(const ServedHost&) = delete;
  ServedHost& operator=(const ServedHost&) = delete;
  ServedHost(ServedHost&&) = delete;
  ServedHost& operator=(ServedHost&&) = delete;

  [[nodiscard]] bool Ready() const { return mLoaded && mStarted; }
  [[nodiscard]] std::unique_ptr<httplib::Client> Client(bool authorised = true) const {
    auto client = std::make_unique<httplib::Client>("127.0.0.1", mFront->Port());
    if (authorised) {
      client->set_bearer_token_auth(mFront->Token().c_str());
    }
    client->set_read_timeout(std::chrono::seconds(10));
    client->set_keep_alive(true);
    client->set_tcp_nodelay(true);
    return client;
  }
  [[nodiscard]] HttpFront& Front() { return *mFront; }
  [[nodiscard]] EventHub& Hub() { return mHub; }
  [[nodiscard]] const std::filesystem::path& Folder() const { return mFolder; }
  [[nodiscard]] std::vector<std::string> Log() const {
    std::lock_guard lock(mLogMutex);
    return mLog;
  }

 private:
  std::filesystem::path mFolder;
  mutable std::mutex mLogMutex;
  std::vector<std::string> mLog;
  std::unique_ptr<Host> mHost;
  std::unique_ptr<PluginThread> mThread;
  EventHub mHub;
  std::unique_ptr<HttpFront> mFront;
  std::thread mRunner;
  bool mLoaded = false;
  bool mStarted = false;
};

}  // namespace Nalo::Host::Http::Testing
