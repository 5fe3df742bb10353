#pragma once
// A host with the runtime's test plugin served over HTTP on 127.0.0.1, in
// this process: the plugin thread and the front run on threads of their
// own; the tests talk to it through real sockets with cpp-httplib's client.

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/core/Host.h"
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

// A raw connection, for what a well-behaved client never sends.
class RawConnection {
 public:
  // `receiveBuffer`, when not 0, is the socket's receive buffer: a small
  // one makes the server's writes stop short.
  explicit RawConnection(int port, std::chrono::milliseconds timeout = std::chrono::seconds(20),
                         int receiveBuffer = 0)
      : mSocket(socket(AF_INET, SOCK_STREAM, 0)) {
    if (receiveBuffer != 0) {
      setsockopt(mSocket, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    mConnected = connect(mSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    timeval limit{static_cast<time_t>(timeout.count() / 1000),
                  static_cast<suseconds_t>(timeout.count() % 1000 * 1000)};
    setsockopt(mSocket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  }
  ~RawConnection() { close(mSocket); }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;
  RawConnection(RawConnection&&) = delete;
  RawConnection& operator=(RawConnection&&) = delete;

  bool Send(std::string_view text) {
    return mConnected && send(mSocket, text.data(), text.size(), MSG_NOSIGNAL) ==
                             static_cast<ssize_t>(text.size());
  }
  // Everything until the server closes the connection (Closed() is then
  // true) or the receive timeout passes.
  std::string ReadToEnd() {
    std::string text;
    char buffer[4096];
    ssize_t count;
    while ((count = recv(mSocket, buffer, sizeof buffer, 0)) > 0) {
      text.append(buffer, static_cast<std::size_t>(count));
    }
    mClosed = count == 0 || (count < 0 && errno == ECONNRESET);
    return text;
  }
  // One answer with a Content-Length (or none); empty when the connection
  // ended first.
  std::string ReadAnswer() {
    std::size_t end;
    while ((end = mPending.find("\r\n\r\n")) == std::string::npos) {
      if (!Fill()) {
        return {};
      }
    }
    std::size_t length = 0;
    std::string head = mPending.substr(0, end);
    for (char& c : head) {
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (const std::size_t at = head.find("\r\ncontent-length:"); at != std::string::npos) {
      length = std::stoul(head.substr(at + 17));
    }
    while (mPending.size() < end + 4 + length) {
      if (!Fill()) {
        return {};
      }
    }
    std::string answer = mPending.substr(0, end + 4 + length);
    mPending.erase(0, end + 4 + length);
    return answer;
  }
  [[nodiscard]] bool Closed() const { return mClosed; }

 private:
  bool Fill() {
    char buffer[4096];
    const ssize_t count = recv(mSocket, buffer, sizeof buffer, 0);
    if (count <= 0) {
      mClosed = count == 0;
      return false;
    }
    mPending.append(buffer, static_cast<std::size_t>(count));
    return true;
  }

  int mSocket;
  bool mConnected = false;
  bool mClosed = false;
  std::string mPending;
};

class ServedHost {
 public:
  explicit ServedHost(HttpFrontOptions front = {}, ClockMode clock = ClockMode::Real,
                      const std::string& plugin = NALO_TEST_PLUGIN_PATH) {
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
