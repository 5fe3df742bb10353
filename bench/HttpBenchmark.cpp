// The host's HTTP front on loopback, in one run beside its two floors:
//   HostSessionOverHttp    a GET of the gameflow session through the front
//                          (parser, token, queue to the plugin thread,
//                          routing, the plugin's dispatch, JSON)
//   BareHandlerSameBytes   a bare handler of the same server library that
//                          answers the same bytes: the floor of any server
//                          built on that library
//   RawTcpRoundTrip        the same request and answer bytes over a plain
//                          TCP connection: the floor of the loopback itself
// Every client thread keeps one connection open and writes the request
// bytes itself, so that the client's own costs stay out of the figures.
// Requests per second is items_per_second; p50 and p99 are latencies in
// microseconds; cpu_us_per_request is the process's CPU time per request.
// Real time, since the work happens on the servers' threads.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/core/Host.h"
#include "host/http/EventHub.h"
#include "host/http/HttpFront.h"
#include "host/http/PluginThread.h"

namespace {

using Nalo::Host::ClockMode;
namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

// A kept TCP connection to 127.0.0.1:port, opened again when the server
// closes it (a server may end a connection after so many requests).
class Connection {
 public:
  explicit Connection(int port) : mPort(port) { Open(); }
  ~Connection() { ::close(mSocket); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  Connection(Connection&&) = delete;
  Connection& operator=(Connection&&) = delete;

  int RoundTrip(const std::string& request, std::string& answer) {
    const int status = TryRoundTrip(request, answer);
    if (status != 0) {
      return status;
    }
    ::close(mSocket);
    mBuffer.clear();
    Open();
    return TryRoundTrip(request, answer);
  }

 private:
  void Open() {
    mSocket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(mPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    ::setsockopt(mSocket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    mConnected = ::connect(mSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }

  // Sends `request` and reads one answer with a Content-Length; its status
  // (0 when the connection failed).
  int TryRoundTrip(const std::string& request, std::string& answer) {
    if (!mConnected || ::send(mSocket, request.data(), request.size(), MSG_NOSIGNAL) !=
                           static_cast<ssize_t>(request.size())) {
      return 0;
    }
    std::size_t headerEnd = std::string::npos;
    while ((headerEnd = mBuffer.find("\r\n\r\n")) == std::string::npos) {
      if (!Fill()) {
        return 0;
      }
    }
    std::size_t length = 0;
    const std::size_t at = FindCaseless(mBuffer.substr(0, headerEnd), "\r\ncontent-length:");
    if (at != std::string::npos) {
      length = std::strtoull(mBuffer.c_str() + at + 17, nullptr, 10);
    }
    while (mBuffer.size() < headerEnd + 4 + length) {
      if (!Fill()) {
        return 0;
      }
    }
    answer.assign(mBuffer, 0, headerEnd + 4 + length);
    mBuffer.erase(0, headerEnd + 4 + length);
    return answer.size() > 12 ? std::atoi(answer.c_str() + 9) : 0;
  }

  static std::size_t FindCaseless(std::string text, std::string_view part) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text.find(part);
  }
  bool Fill() {
    char chunk[16384];
    const ssize_t count = ::recv(mSocket, chunk, sizeof chunk, 0);
    if (count <= 0) {
      return false;
    }
    mBuffer.append(chunk, static_cast<std::size_t>(count));
    return true;
  }

  int mPort;
  int mSocket = -1;
  bool mConnected = false;
  std::string mBuffer;
};

// Answers every request read on a connection with the same bytes, with no
// HTTP parsing: it looks for the blank line that ends a request without a
// body. A thread per connection.
class RawServer {
 public:
  explicit RawServer(std::string answer) : mAnswer(std::move(answer)) {
    mListener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(mListener, reinterpret_cast<sockaddr*>(&address), size);
    ::listen(mListener, 128);
    ::getsockname(mListener, reinterpret_cast<sockaddr*>(&address), &size);
    mPort = ntohs(address.sin_port);
    mAcceptor = std::thread([this] {
      for (;;) {
        const int client = ::accept(mListener, nullptr, nullptr);
        if (client < 0) {
          return;
        }
        std::lock_guard lock(mMutex);
        mClients.push_back(client);
        mThreads.emplace_back([this, client] { Serve(client); });
      }
    });
  }
  ~RawServer() {
    ::shutdown(mListener, SHUT_RDWR);
    ::close(mListener);
    mAcceptor.join();
    std::lock_guard lock(mMutex);
    for (int client : mClients) {
      ::shutdown(client, SHUT_RDWR);
    }
    for (std::thread& thread : mThreads) {
      thread.join();
    }
    for (int client : mClients) {
      ::close(client);
    }
  }
  RawServer(const RawServer&) = delete;
  RawServer& operator=(const RawServer&) = delete;
  RawServer(RawServer&&) = delete;
  RawServer& operator=(RawServer&&) = delete;

  [[nodiscard]] int Port() const { return mPort; }

 private:
  void Serve(int client) {
    const int one = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::string pending;
    char chunk[16384];
    for (;;) {
      const ssize_t count = ::recv(client, chunk, sizeof chunk, 0);
      if (count <= 0) {
        return;
      }
      pending.append(chunk, static_cast<std::size_t>(count));
      std::size_t end;
      while ((end = pending.find("\r\n\r\n")) != std::string::npos) {
        pending.erase(0, end + 4);
        if (::send(client, mAnswer.data(), mAnswer.size(), MSG_NOSIGNAL) < 0) {
          return;
        }
      }
    }
  }

  std::string mAnswer;
  int mListener = -1;
  int mPort = 0;
  std::thread mAcceptor;
  std::mutex mMutex;
  std::vector<int> mClients;
  std::list<std::thread> mThreads;
};

// A bare Boost.Beast server: one I/O thread per core, one coroutine-free
// loop per connection that reads a request and writes the same JSON body.
class BareServer {
 public:
  explicit BareServer(std::string body) : mBody(std::move(body)), mAcceptor(mContext) {
    const asio::ip::tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), 0);
    mAcceptor.open(endpoint.protocol());
    mAcceptor.bind(endpoint);
    mAcceptor.listen(asio::socket_base::max_listen_connections);
    mPort = mAcceptor.local_endpoint().port();
    Accept();
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned i = 0; i < threads; ++i) {
      mThreads.emplace_back([this] { mContext.run(); });
    }
  }
  ~BareServer() {
    mContext.stop();
    for (std::thread& thread : mThreads) {
      thread.join();
    }
  }
  BareServer(const BareServer&) = delete;
  BareServer& operator=(const BareServer&) = delete;
  BareServer(BareServer&&) = delete;
  BareServer& operator=(BareServer&&) = delete;

  [[nodiscard]] int Port() const { return mPort; }

 private:
  struct Session : std::enable_shared_from_this<Session> {
    Session(asio::ip::tcp::socket socket, const std::string& body)
        : stream(std::move(socket)), body(body) {}
    void Read() {
      request = {};
      http::async_read(stream, buffer, request,
                       [self = shared_from_this()](beast::error_code error, std::size_t) {
                         if (!error) {
                           self->Write();
                         }
                       });
    }
    void Write() {
      response = {};
      response.version(11);
      response.result(http::status::ok);
      response.set(http::field::content_type, "application/json");
      response.keep_alive(request.keep_alive());
      response.body() = body;
      response.prepare_payload();
      http::async_write(stream, response,
                        [self = shared_from_this()](beast::error_code error, std::size_t) {
                          if (!error) {
                            self->Read();
                          }
                        });
    }
    beast::tcp_stream stream;
    const std::string& body;
    beast::flat_buffer buffer;
    http::request<http::string_body> request;
    http::response<http::string_body> response;
  };

  void Accept() {
    mAcceptor.async_accept([this](beast::error_code error, asio::ip::tcp::socket socket) {
      if (error) {
        return;
      }
      socket.set_option(asio::ip::tcp::no_delay(true));
      std::make_shared<Session>(std::move(socket), mBody)->Read();
      Accept();
    });
  }

  std::string mBody;
  asio::io_context mContext;
  asio::ip::tcp::acceptor mAcceptor;
  int mPort = 0;
  std::vector<std::thread> mThreads;
};

std::string RequestBytes(const std::string& token) {
  std::string request = "GET " NALO_BENCH_HTTP_PATH " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  if (!token.empty()) {
    request += "Authorization: Bearer " + token + "\r\n";
  }
  return request + "\r\n";
}

// The host serving the plugin, and the two floors, started once.
struct Servers {
  Servers() {
    std::string pattern = (std::filesystem::temp_directory_path() / "nalo-bench-XXXXXX").string();
    folder = mkdtemp(pattern.data());
    Nalo::Host::HostOptions options;
    options.clock = ClockMode::Real;
    options.peers = Nalo::Host::PeerSetup::Realistic;
    options.stateFolder = folder;
    host = std::make_unique<Nalo::Host::Host>(std::move(options));
    if (host->Load(NALO_BENCH_HTTP_PLUGIN).HasFailure()) {
      return;
    }
    thread = std::make_unique<Nalo::Host::Http::PluginThread>(*host, ClockMode::Real);
    Nalo::Host::Http::HttpFrontOptions frontOptions;
    if (const char* threads = std::getenv("NALO_BENCH_IO_THREADS")) {
      frontOptions.ioThreads = static_cast<unsigned>(std::atoi(threads));
    }
    front = std::make_unique<Nalo::Host::Http::HttpFront>(*thread, hub, std::move(frontOptions));
    if (front->Start().HasFailure()) {
      return;
    }
    runner = std::thread(
        [this] { thread->Run([this](Nalo::Host::Host& running) { hub.TakeRecords(running); }); });
#ifdef NALO_BENCH_HTTP_PREPARE_EVENT
    // The gameflow answers its session outside the phase None only.
    thread->Call([](Nalo::Host::Host& running) {
      static_cast<void>(running.Request("POST", "/tav-gameflow/v1/session/event",
                                        "\"" NALO_BENCH_HTTP_PREPARE_EVENT "\"",
                                        "application/json"));
    });
#endif
    Connection connection(front->Port());
    std::string answer;
    if (connection.RoundTrip(RequestBytes(front->Token()), answer) != 200) {
      return;
    }
    const std::string body = answer.substr(answer.find("\r\n\r\n") + 4);
    bare = std::make_unique<BareServer>(body);
    raw = std::make_unique<RawServer>(answer);
    ready = true;
  }
  ~Servers() {
    bare.reset();
    raw.reset();
    if (front) {
      front->Stop();
    }
    if (thread) {
      thread->Stop();
    }
    if (runner.joinable()) {
      runner.join();
    }
    host.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  Servers(const Servers&) = delete;
  Servers& operator=(const Servers&) = delete;
  Servers(Servers&&) = delete;
  Servers& operator=(Servers&&) = delete;

  std::filesystem::path folder;
  std::unique_ptr<Nalo::Host::Host> host;
  std::unique_ptr<Nalo::Host::Http::PluginThread> thread;
  Nalo::Host::Http::EventHub hub;
  std::unique_ptr<Nalo::Host::Http::HttpFront> front;
  std::thread runner;
  std::unique_ptr<BareServer> bare;
  std::unique_ptr<RawServer> raw;
  bool ready = false;
};

Servers& Shared() {
  static Servers servers;
  return servers;
}

// User and system time of every thread of the process so far.
double ProcessCpuMicroseconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto micro = [](const timeval& time) {
    return static_cast<double>(time.tv_sec) * 1e6 + static_cast<double>(time.tv_usec);
  };
  return micro(usage.ru_utime) + micro(usage.ru_stime);
}

void Measure(benchmark::State& state, int port, const std::string& token) {
  Connection connection(port);
  const std::string request = RequestBytes(token);
  std::string answer;
  std::vector<double> latencies;
  latencies.reserve(100000);
  const double cpuBefore = ProcessCpuMicroseconds();
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const int status = connection.RoundTrip(request, answer);
    const auto end = std::chrono::steady_clock::now();
    if (status != 200) {
      state.SkipWithError("a request failed");
      return;
    }
    benchmark::DoNotOptimize(answer.data());
    latencies.push_back(std::chrono::duration<double, std::micro>(end - start).count());
  }
  const double cpu = ProcessCpuMicroseconds() - cpuBefore;
  std::sort(latencies.begin(), latencies.end());
  const auto at = [&latencies](double share) {
    return latencies.empty()
               ? 0.0
               : latencies[std::min(latencies.size() - 1,
                                    static_cast<std::size_t>(share * latencies.size()))];
  };
  state.counters["p50_us"] = benchmark::Counter(at(0.50), benchmark::Counter::kAvgThreads);
  state.counters["p99_us"] = benchmark::Counter(at(0.99), benchmark::Counter::kAvgThreads);
  // The CPU time of the whole process (clients and servers) per request:
  // unlike requests per second, waiting for a core on a busy machine
  // doesn't count in it.
  const double requests =
      static_cast<double>(state.iterations()) * static_cast<double>(state.threads());
  state.counters["cpu_us_per_request"] =
      benchmark::Counter(requests > 0 ? cpu / requests : 0.0, benchmark::Counter::kAvgThreads);
  state.SetItemsProcessed(state.iterations());
}

void HostSessionOverHttp(benchmark::State& state) {
  Servers& servers = Shared();
  if (!servers.ready) {
    state.SkipWithError("the host didn't start");
    return;
  }
  Measure(state, servers.front->Port(), servers.front->Token());
}

void BareHandlerSameBytes(benchmark::State& state) {
  Servers& servers = Shared();
  if (!servers.ready) {
    state.SkipWithError("the host didn't start");
    return;
  }
  Measure(state, servers.bare->Port(), "");
}

void RawTcpRoundTrip(benchmark::State& state) {
  Servers& servers = Shared();
  if (!servers.ready) {
    state.SkipWithError("the host didn't start");
    return;
  }
  Measure(state, servers.raw->Port(), "");
}

BENCHMARK(HostSessionOverHttp)->UseRealTime()->Threads(1)->Threads(8)->Threads(32);
BENCHMARK(BareHandlerSameBytes)->UseRealTime()->Threads(1)->Threads(8)->Threads(32);
BENCHMARK(RawTcpRoundTrip)->UseRealTime()->Threads(1)->Threads(8)->Threads(32);

// --- Goals. -------------------------------------------------------------------------

// The console output, keeping the counters of each run (the medians when
// there are repetitions) for the goals printed after it.
class GoalReporter final : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) {
        continue;
      }
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (median || run.run_type == Run::RT_Iteration) {
        auto& kept = mCounters[run.run_name.str()];
        if (median || kept.empty()) {
          for (const auto& [name, counter] : run.counters) {
            kept[name] = counter.value;
          }
        }
      }
    }
  }

  // A counter of the run named `name` ("HostSessionOverHttp/real_time/threads:8").
  [[nodiscard]] std::optional<double> Counter(const std::string& name,
                                              const std::string& counter) const {
    const auto run = mCounters.find(name);
    if (run == mCounters.end()) {
      return std::nullopt;
    }
    const auto value = run->second.find(counter);
    return value == run->second.end() ? std::nullopt : std::optional<double>(value->second);
  }

 private:
  std::map<std::string, std::map<std::string, double>> mCounters;
};

std::string RunName(const char* benchmark, int clients) {
  return std::string(benchmark) + "/real_time/threads:" + std::to_string(clients);
}

void PrintGoal(const std::string& goal, std::optional<double> measured, bool met) {
  char figure[32] = "";
  if (measured) {
    std::snprintf(figure, sizeof figure, "%.2f", *measured);
  }
  std::printf("  %-68s %-6s %s\n", goal.c_str(), figure,
              !measured ? "not run" : (met ? "met" : "MISSED"));
}

void PrintGoals(const GoalReporter& reporter) {
  std::printf("\ngoals (medians; repetitions interleaved at random):\n");
  for (const int clients : {8, 32}) {
    const auto session =
        reporter.Counter(RunName("HostSessionOverHttp", clients), "items_per_second");
    const auto bare =
        reporter.Counter(RunName("BareHandlerSameBytes", clients), "items_per_second");
    const std::optional<double> ratio =
        session && bare && *bare > 0 ? std::optional<double>(*session / *bare) : std::nullopt;
    PrintGoal("session GET / bare handler, requests per second, " + std::to_string(clients) +
                  " clients >= 0.5",
              ratio, ratio && *ratio >= 0.5);
  }
  const auto session = reporter.Counter(RunName("HostSessionOverHttp", 1), "p50_us");
  const auto raw = reporter.Counter(RunName("RawTcpRoundTrip", 1), "p50_us");
  const std::optional<double> times =
      session && raw && *raw > 0 ? std::optional<double>(*session / *raw) : std::nullopt;
  PrintGoal("session GET p50 / raw TCP round trip p50, 1 client <= 3", times,
            times && *times <= 3.0);
}

}  // namespace

int main(int argc, char** argv) {
  // The servers' figures drift with the machine's load: repetitions of the
  // three run interleaved, so that each ratio compares like with like. A
  // flag on the command line says otherwise.
  std::vector<char*> arguments(argv, argv + argc);
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  arguments.insert(arguments.begin() + 1, interleave.data());
  int count = static_cast<int>(arguments.size());
  benchmark::Initialize(&count, arguments.data());
  if (benchmark::ReportUnrecognizedArguments(count, arguments.data())) {
    return 1;
  }
  GoalReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintGoals(reporter);
  benchmark::Shutdown();
  return 0;
}
