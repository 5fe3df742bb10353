// Fuzz target for the HTTP front's whole reading path: raw bytes written to
// a real connection of a front (host/http/HttpFront.h) that serves the
// realistic stand-in peers, on 127.0.0.1. The token is "fuzz"
// (http_server.dict holds its header), so that inputs get past the token
// to the routes, the control routes and the event stream.
//
// Whatever the bytes: every answer the front writes starts with a status
// line "HTTP/1.1 NNN", the connection ends once the client has finished
// sending (no request waits for bytes that can't come), and the front goes
// on serving the next connection.
//
// The verdict never depends on timing. The front's deadlines are far longer
// than any run, so the end of a connection can only come from the client's
// half-close; the client waits for it without a clock of its own, and a
// connection that never ends is left to libFuzzer's unit timeout, which
// names the input. The client's calls are resumed when a signal interrupts
// them: libFuzzer's timeout alarm (every few seconds) lands on this thread,
// and a blocking receive it interrupts fails with EINTR, whatever the front
// did.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "host/core/Host.h"
#include "host/http/EventHub.h"
#include "host/http/HttpFront.h"
#include "host/http/PluginThread.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "http_server_fuzzer: %s\n", what);
    std::abort();
  }
}

// The front, started once and left running for the process's life.
struct Served {
  Served() {
    std::string pattern = (std::filesystem::temp_directory_path() / "nalo-fuzz-XXXXXX").string();
    Check(mkdtemp(pattern.data()) != nullptr, "no state folder");
    Nalo::Host::HostOptions options;
    options.clock = Nalo::Host::ClockMode::Virtual;
    options.peers = Nalo::Host::PeerSetup::Realistic;
    options.stateFolder = pattern;
    host = std::make_unique<Nalo::Host::Host>(std::move(options));
    thread =
        std::make_unique<Nalo::Host::Http::PluginThread>(*host, Nalo::Host::ClockMode::Virtual);
    Nalo::Host::Http::HttpFrontOptions front;
    front.token = "fuzz";
    front.clock = Nalo::Host::ClockMode::Virtual;
    front.maxBodyBytes = std::size_t{64} * 1024;
    // Far beyond any run: see the top of the file.
    front.headerTimeout = std::chrono::hours(1);
    front.bodyTimeout = std::chrono::hours(1);
    front.writeTimeout = std::chrono::hours(1);
    front.streamKeepAlive = std::chrono::milliseconds(100);
    http = std::make_unique<Nalo::Host::Http::HttpFront>(*thread, hub, std::move(front));
    Check(!http->Start().HasFailure(), "the front didn't start");
    runner = std::thread(
        [this] { thread->Run([this](Nalo::Host::Host& running) { hub.TakeRecords(running); }); });
    runner.detach();
  }
  std::unique_ptr<Nalo::Host::Host> host;
  std::unique_ptr<Nalo::Host::Http::PluginThread> thread;
  Nalo::Host::Http::EventHub hub;
  std::unique_ptr<Nalo::Host::Http::HttpFront> http;
  std::thread runner;
};

// connect(), resumed when a signal interrupts it: the connection goes on
// being made, and is waited for.
bool Connect(int connection, const sockaddr_in& address) {
  if (connect(connection, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    return true;
  }
  if (errno != EINTR) {
    return false;
  }
  pollfd writable{connection, POLLOUT, 0};
  while (poll(&writable, 1, -1) < 0) {
    if (errno != EINTR) {
      return false;
    }
  }
  int error = 0;
  socklen_t size = sizeof error;
  return getsockopt(connection, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

// Sends all of `data` unless the front closes first (which is no fault: it
// may answer and close before reading everything).
void SendAll(int connection, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = send(connection, data, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) {
      continue;
    }
    if (sent <= 0) {
      return;
    }
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
}

// recv(), resumed when a signal interrupts it.
ssize_t Receive(int connection, char* buffer, std::size_t size) {
  ssize_t count;
  while ((count = recv(connection, buffer, size, 0)) < 0 && errno == EINTR) {
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Served* served = new Served();  // never destroyed: the threads run on
  const int connection = socket(AF_INET, SOCK_STREAM, 0);
  Check(connection >= 0, "no socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(served->http->Port()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  Check(Connect(connection, address), "the front refused a connection");
  SendAll(connection, data, size);
  shutdown(connection, SHUT_WR);
  std::string answer;
  char buffer[16384];
  ssize_t count;
  // An event stream never ends by itself; the front must end it when the
  // client has gone, which closing the socket below does.
  while ((count = Receive(connection, buffer, sizeof buffer)) > 0) {
    answer.append(buffer, static_cast<std::size_t>(count));
    if (answer.find("text/event-stream") != std::string::npos) {
      break;  // a stream: its client leaves now
    }
  }
  Check(count >= 0 || errno == ECONNRESET || answer.find("text/event-stream") != std::string::npos,
        "the connection didn't end once the client had finished sending");
  close(connection);
  if (!answer.empty()) {
    Check(answer.rfind("HTTP/1.1 ", 0) == 0 && answer.size() >= 12 && answer[9] >= '1' &&
              answer[9] <= '5',
          "an answer without a status line");
  }
  return 0;
}
