// The HTTP front over real sockets on 127.0.0.1, with the runtime's test
// plugin: authentication, translation of requests and answers, limits,
// event streams, control routes and many clients at once.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include "HttpFrontFixture.h"
#include "binding/Json.h"
#include "host/http/RequestTranslation.h"

namespace Nalo::Host::Http {
namespace {

using Testing::Eventually;
using Testing::ServedHost;

// Base64 of "user:<password>".
std::string Basic(const std::string& password) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const std::string text = "user:" + password;
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < text.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(text[i]) << 16) |
                       (static_cast<unsigned char>(text[i + 1]) << 8) |
                       static_cast<unsigned char>(text[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) {
      out += kAlphabet[(v >> shift) & 63];
    }
  }
  if (i < text.size()) {
    unsigned v = static_cast<unsigned char>(text[i]) << 16;
    if (i + 1 < text.size()) {
      v |= static_cast<unsigned char>(text[i + 1]) << 8;
    }
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < text.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return "Basic " + out;
}

using Testing::RawConnection;

TEST(HttpFront, EveryRequestNeedsTheToken) {
  ServedHost served;
  ASSERT_TRUE(served.Ready());
  const std::string token = served.Front().Token();
  EXPECT_EQ(token.size(), 64u);
  struct Case {
    std::string name;
    std::string authorization;  // empty: none
    int status;
  };
  const std::vector<Case> cases = {
      {"none", "", 401},
      {"bearer", "Bearer " + token, 200},
      {"bearer, scheme in lower case", "bearer " + token, 200},
      {"wrong bearer", "Bearer " + token.substr(1) + "0", 401},
      {"bearer prefix of the token", "Bearer " + token.substr(0, 10), 401},
      {"bearer with the token and more", "Bearer " + token + "0", 401},
      {"empty bearer", "Bearer ", 401},
      {"basic", Basic(token), 200},
      {"basic, wrong password", Basic("secret"), 401},
      {"basic, token as user name", "Basic " + std::string("dG9rZW4="), 401},
      {"basic, not Base64", "Basic !!!", 401},
      {"another scheme", "Digest " + token, 401},
  };
  auto client = served.Client(false);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    httplib::Headers headers;
    if (!c.authorization.empty()) {
      headers.emplace("Authorization", c.authorization);
    }
    auto result = client->Get("/tav-testplugin/v1/journal", headers);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, c.status);
    if (c.status == 401) {
      EXPECT_THAT(result->body, testing::HasSubstr("needs its token"));
      EXPECT_EQ(result->get_header_value("WWW-Authenticate"), "Bearer realm=\"nalo-host\"");
    }
  }
  // The event stream and the control routes are guarded too.
  for (const char* path : {"/events", "/host/v1/status"}) {
    SCOPED_TRACE(path);
    auto result = client->Get(path);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 401);
  }
}

TEST(HttpFront, TheTokenIsNeverLoggedAndItsFileIsTheOwnersOnly) {
  HttpFrontOptions options;
  options.token = "a-token-that-must-stay-secret";
  ServedHost served(options);
  ASSERT_TRUE(served.Ready());
  auto client = served.Client();
  // Requests that make the plugin and the peers log: a failing fetch, a
  // peer fault, an unknown route, and refused ones.
  ASSERT_TRUE(client->Get("/tav-testplugin/v1/fetch?path=/nothing/here"));
  ASSERT_TRUE(client->Post("/tav-testplugin/v1/telemetry/x", "{}", "application/json"));
  ASSERT_TRUE(client->Get("/tav-testplugin/v1/unknown"));
  auto refused = served.Client(false);
  ASSERT_TRUE(refused->Get("/x", {{"Authorization", "Bearer " + options.token + "x"}}));
  for (const std::string& line : served.Log()) {
    EXPECT_EQ(line.find(options.token), std::string::npos) << line;
  }

  auto written = WriteAccessFile(served.Folder(), served.Front().Url(), served.Front().Token());
  ASSERT_FALSE(written.HasFailure());
  struct stat status {};
  ASSERT_EQ(stat(written.Value().c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  // A file left readable by others is made the owner's again.
  chmod(written.Value().c_str(), 0644);
  ASSERT_FALSE(WriteAccessFile(served.Folder(), "u", "t").HasFailure());
  ASSERT_EQ(stat(written.Value().c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  std::ifstream file(written.Value());
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_THAT(text.str(), testing::HasSubstr("\"token\": \"t\""));
}

TEST(HttpFront, RequestsReachThePluginAndThePeersWithTheirAnswers) {
  ServedHost served;
  ASSERT_TRUE(served.Ready());
  auto client = served.Client();
  struct Case {
    std::string name;
    std::string method;
    std::string path;
    std::string contentType;
    std::string body;
    int status;
    std::string answer;  // expected body (exact); "*" for any
  };
  const std::string msgpackItem =
      std::string("\x83\xa4name\xa2mp\xa5") + "count" + std::string("\x07\xa4tags\x90", 6);
  const std::vector<Case> cases = {
      {"a JSON body", "POST", "/tav-testplugin/v1/items", "application/json",
       R"({"name":"a","count":1,"tags":["x"]})", 204, ""},
      {"the item back", "GET", "/tav-testplugin/v1/items/a", "", "", 200,
       R"({"count":1,"name":"a","tags":["x"]})"},
      {"a YAML body", "POST", "/tav-testplugin/v1/items", "application/x-yaml",
       "name: b\ncount: 2\ntags: [yy]\n", 204, ""},
      {"a MessagePack body", "POST", "/tav-testplugin/v1/items", "application/x-msgpack",
       msgpackItem, 204, ""},
      {"the MessagePack item", "GET", "/tav-testplugin/v1/items/mp", "", "", 200,
       R"({"count":7,"name":"mp","tags":[]})"},
      {"a percent-encoded path parameter", "GET", "/tav-testplugin/v1/items/b%20c", "", "", 404,
       R"({"httpStatus":404,"message":"No item named b c.","name":"b c"})"},
      {"a body that isn't JSON", "POST", "/tav-testplugin/v1/items", "application/json", "{", 400,
       "*"},
      {"a content type the router doesn't read", "POST", "/tav-testplugin/v1/items", "text/plain",
       "x", 400, "*"},
      {"no route", "GET", "/tav-testplugin/v1/nothing", "", "", 404,
       R"({"httpStatus":404,"message":"Invalid function"})"},
      {"a query", "GET", "/tav-testplugin/v1/raw?text=%7B%22a%22%3A1%7D", "", "", 200,
       R"({"a":1})"},
      {"a peer value set", "PUT", "/lobby/v1/thing", "application/json", R"({"v":1})", 204, ""},
      {"read back", "GET", "/lobby/v1/thing", "", "", 200, R"({"v":1})"},
      {"removed", "DELETE", "/lobby/v1/thing", "", "", 204, ""},
      {"gone", "GET", "/lobby/v1/thing", "", "", 404, "*"},
      {"a realistic peer", "GET", "/naloclient/command-line-args", "", "", 200, "[]"},
      {"an invalid percent-encoding", "GET", "/lobby/%zzx", "", "", 400,
       R"({"httpStatus":400,"message":"The request target holds an invalid percent-encoding at offset 7."})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    httplib::Request request;
    request.method = c.method;
    request.path = c.path;
    request.body = c.body;
    if (!c.contentType.empty()) {
      request.set_header("Content-Type", c.contentType);
    }
    auto result = client->send(request);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, c.status) << result->body;
    if (c.answer != "*") {
      EXPECT_EQ(result->body, c.answer);
    }
    EXPECT_FALSE(result->get_header_value("X-Status-Reason").empty());
    if (!result->body.empty()) {
      EXPECT_EQ(result->get_header_value("Content-Type"), "application/json");
      EXPECT_TRUE(ParseJson(result->body).Succeeded()) << result->body;
    }
  }
}

// A client that goes away in the middle of its request leaves nothing: no
// call queued for the plugin thread, no stream, and the front serves on.
TEST(HttpFront, AClientThatLeavesMidRequestLeavesNothingBehind) {
  HttpFrontOptions options;
  options.streamKeepAlive = std::chrono::milliseconds(20);
  ServedHost served(options);
  ASSERT_TRUE(served.Ready());
  const std::string token = served.Front().Token();
  for (int i = 0; i < 20; ++i) {
    RawConnection raw(served.Front().Port());
    ASSERT_TRUE(raw.Send("POST /tav-testplugin/v1/items HTTP/1.1\r\nAuthorization: Bearer " +
                         token +
                         "\r\nContent-Type: application/json\r\nContent-Length: 100\r\n\r\n{\"na"));
  }
  for (int i = 0; i < 20; ++i) {
    RawConnection raw(served.Front().Port());
    ASSERT_TRUE(raw.Send("GET /events HTTP/1.1\r\nAuthorization: Bearer " + token + "\r\n\r\n"));
  }
  EXPECT_TRUE(Eventually([&] { return served.Hub().StreamCount() == 0; }));
  auto journal = served.Client()->Get("/tav-testplugin/v1/items/na");
  ASSERT_TRUE(journal);
  EXPECT_EQ(journal->status, 404);
}

TEST(HttpFront, CorsHeadersOnlyForTheNamedOrigin) {
  for (const bool named : {false, true}) {
    SCOPED_TRACE(named ? "origin named" : "no origin named");
    HttpFrontOptions options;
    if (named) {
      options.corsOrigin = "http://localhost:5173";
    }
    ServedHost served(options);
    ASSERT_TRUE(served.Ready());
    auto client = served.Client();
    auto simple =
        client->Get("/naloclient/command-line-args", {{"Origin", "http://localhost:5173"}});
    ASSERT_TRUE(simple);
    EXPECT_EQ(simple->get_header_value("Access-Control-Allow-Origin"),
              named ? "http://localhost:5173" : "");
    auto other = client->Get("/naloclient/command-line-args", {{"Origin", "http://evil.example"}});
    ASSERT_TRUE(other);
    EXPECT_FALSE(other->has_header("Access-Control-Allow-Origin"));
    auto anonymous = served.Client(false);
    auto preflight = anonymous->Options(
        "/tav-testplugin/v1/items",
        {{"Origin", "http://localhost:5173"}, {"Access-Control-Request-Method", "POST"}});
    ASSERT_TRUE(preflight);
    EXPECT_EQ(preflight->status, named ? 204 : 401);
    auto evilPreflight = anonymous->Options(
        "/tav-testplugin/v1/items",
        {{"Origin", "http://evil.example"}, {"Access-Control-Request-Method", "POST"}});
    ASSERT_TRUE(evilPreflight);
    EXPECT_NE(evilPreflight->status, 204);
    EXPECT_FALSE(evilPreflight->has_header("Access-Control-Allow-Origin"));
  }
}

// Reads an event stream on a thread of its own.
class StreamReader {
 public:
  StreamReader(const ServedHost& served, std::string query)
      : mClient(served.Client()), mQuery(std::move(query)) {
    mThread = std::thread([this] {
      static_cast<void>(
          mClient->Get(("/events" + mQuery).c_str(), [this](const char* data, std::size_t length) {
            std::lock_guard lock(mMutex);
            mText.append(data, length);
            return !mStop;
          }));
      mEnded = true;
    });
  }
  ~StreamReader() {
    mStop = true;
    mClient->stop();
    mThread.join();
  }
  StreamReader(const StreamReader&) = delete;
  StreamReader& operator=(const StreamReader&) = delete;
  StreamReader(StreamReader&&) = delete;
  StreamReader& operator=(StreamReader&&) = delete;

  [[nodiscard]] std::string Text() {
    std::lock_guard lock(mMutex);
    return mText;
  }
  // The "data:" lines of the events named "event: <name>...".
  [[nodiscard]] std::vector<std::string> Data() {
    std::vector<std::string> data;
    std::istringstream lines(Text());
    std::string line;
    while (std::getline(lines, line)) {
      if (line.starts_with("data: ")) {
        data.push_back(line.substr(6));
      }
    }
    return data;
  }
  [[nodiscard]] bool Ended() const { return mEnded; }
  void Stop() { mStop = true; }

 private:
  std::unique_ptr<httplib::Client> mClient;
  std::string mQuery;
  std::mutex mMutex;
  std::string mText;
  std::atomic<bool> mStop{false};
  std::atomic<bool> mEnded{false};
  std::thread mThread;
};

TEST(HttpFront, ALateStreamStartsWithTheCurrentValuesThenTheChanges) {
  HttpFrontOptions options;
  options.streamKeepAlive = std::chrono::milliseconds(50);
  ServedHost served(options);
  ASSERT_TRUE(served.Ready());
  auto client = served.Client();
  ASSERT_EQ(
      client->Post("/tav-testplugin/v1/items", R"({"name":"a","count":1})", "application/json")
          ->status,
      204);
  ASSERT_EQ(
      client->Post("/tav-testplugin/v1/items", R"({"name":"a","count":2})", "application/json")
          ->status,
      204);
  ASSERT_EQ(client->Put("/lobby/v1/other", "1", "application/json")->status, 204);
  {
    StreamReader reader(served, "?prefix=/tav-testplugin/v1/items/");
    ASSERT_TRUE(Eventually([&] { return reader.Data().size() == 1; }));
    ASSERT_EQ(
        client->Post("/tav-testplugin/v1/items", R"({"name":"b","count":3})", "application/json")
            ->status,
        204);
    ASSERT_EQ(client->Delete("/tav-testplugin/v1/items/a")->status, 204);
    ASSERT_EQ(client->Put("/lobby/v1/other", "2", "application/json")->status, 204);
    ASSERT_TRUE(Eventually([&] { return reader.Data().size() == 3; }));
    EXPECT_THAT(
        reader.Data(),
        testing::ElementsAre(
            R"({"data":{"count":2,"name":"a","tags":[]},"eventType":"Create","uri":"/tav-testplugin/v1/items/a"})",
            R"({"data":{"count":3,"name":"b","tags":[]},"eventType":"Create","uri":"/tav-testplugin/v1/items/b"})",
            R"({"data":null,"eventType":"Delete","uri":"/tav-testplugin/v1/items/a"})"));
    EXPECT_THAT(reader.Text(),
                testing::HasSubstr("event: OnJsonApiEvent_tav-testplugin_v1_items\n"));
    reader.Stop();
  }
  // The stream's worker finds the client gone and leaves nothing behind.
  EXPECT_TRUE(Eventually([&] { return served.Hub().StreamCount() == 0; }));
}

TEST(HttpFront, AStreamReceivesTenThousandEventsInOrder) {
  HttpFrontOptions options;
  options.streamKeepAlive = std::chrono::milliseconds(50);
  options.eventQueueLimit = 20000;
  ServedHost served(options);
  ASSERT_TRUE(served.Ready());
  StreamReader reader(served, "?prefix=/load/");
  ASSERT_TRUE(Eventually([&] { return served.Hub().StreamCount() == 1; }));
  constexpr int kEvents = 10000;
  auto client = served.Client();
  for (int i = 0; i < kEvents; ++i) {
    ASSERT_EQ(client->Put("/load/counter", std::to_string(i), "application/json")->status, 204);
  }
  ASSERT_TRUE(
      Eventually([&] { return reader.Data().size() == kEvents; }, std::chrono::seconds(60)));
  const std::vector<std::string> data = reader.Data();
  for (int i = 0; i < kEvents; ++i) {
    const std::string expected = R"({"data":)" + std::to_string(i) + R"(,"eventType":")" +
                                 (i == 0 ? "Create" : "Update") + R"(","uri":"/load/counter"})";
    ASSERT_EQ(data[static_cast<std::size_t>(i)], expected) << "event " << i;
  }
}

TEST(EventHub, AStreamThatFallsBehindIsDroppedAndTheOthersGoOn) {
  EventHub hub;
  auto slow = hub.Subscribe("/a/", 3);
  auto fast = hub.Subscribe("/a/", 100);
  for (int i = 0; i < 5; ++i) {
    PublishedEvent event;
    event.name = "OnJsonApiEvent_a_b";
    event.uri = "/a/b";
    event.eventType = "Update";
    auto payload = std::make_shared<BindingProperty>();
    payload->member("data").SetSigned(i);
    event.payload = payload;
    hub.Publish(event);
  }
  const EventStream::Batch slowBatch = slow->Wait(std::chrono::milliseconds(0));
  EXPECT_EQ(slowBatch.events.size(), 3u);
  EXPECT_TRUE(slowBatch.dropped);
  const EventStream::Batch fastBatch = fast->Wait(std::chrono::milliseconds(0));
  EXPECT_EQ(fastBatch.events.size(), 5u);
  EXPECT_FALSE(fastBatch.dropped);
  hub.Unsubscribe(slow);
  EXPECT_EQ(hub.StreamCount(), 1u);
  hub.Close();
  EXPECT_TRUE(fast->Wait(std::chrono::milliseconds(0)).closed);
  EXPECT_TRUE(hub.Subscribe("", 1)->Wait(std::chrono::milliseconds(0)).closed);
}

TEST(HttpFront, ControlRoutesDriveThePeersAndTheVirtualClock) {
  HttpFrontOptions options;
  ServedHost served(options, ClockMode::Virtual);
  ASSERT_TRUE(served.Ready());
  auto client = served.Client();
  struct Step {
    std::string method;
    std::string path;
    std::string body;
    int status;
    std::string answer;  // a text the answer holds
  };
  const std::vector<Step> steps = {
      {"POST", "/host/v1/faults", R"({"path":"/lobby/v1/x","status":503,"error":"Down."})", 204,
       ""},
      {"GET", "/lobby/v1/x", "", 503, "Down."},
      {"GET", "/lobby/v1/x", "", 404, ""},
      {"PUT", "/host/v1/lcds/answers/gameService.getGame",
       R"({"type":"com.example.GameDTO","body":{"gameId":7,"gameState":"IDLE"}})", 204, ""},
      {"GET", "/tav-testplugin/v1/lcds/game?id=7", "", 200, "\"gameId\":7"},
      {"PUT", "/host/v1/lcds/answers/gameService.getGame",
       R"({"answers":[{"status":404,"error":"No game."}]})", 204, ""},
      {"GET", "/tav-testplugin/v1/lcds/game?id=7", "", 404, "No game."},
      {"POST", "/tav-testplugin/v1/timers/t?interval=1&mode=plain", "", 204, ""},
      {"POST", "/host/v1/advance", R"({"seconds":2.5})", 204, ""},
      {"GET", "/tav-testplugin/v1/journal", "", 200, R"(["timer t","timer t"])"},
      {"GET", "/host/v1/status", "", 200, R"("nanoseconds":2500000000)"},
      {"POST", "/host/v1/faults", R"({"count":1})", 400, "needs the member path"},
      {"POST", "/host/v1/lcds/push", R"({"body":{}})", 400, "needs the member type"},
      {"POST", "/host/v1/advance", "{", 400, "can't be read"},
      {"GET", "/host/v1/nothing", "", 404, "no host control route"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.method + " " + step.path);
    httplib::Request request;
    request.method = step.method;
    request.path = step.path;
    request.body = step.body;
    if (!step.body.empty()) {
      request.set_header("Content-Type", "application/json");
    }
    auto result = client->send(request);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, step.status) << result->body;
    EXPECT_THAT(result->body, testing::HasSubstr(step.answer));
  }
}

TEST(HttpFront, AdvancingARealClockIsRefused) {
  ServedHost served;
  ASSERT_TRUE(served.Ready());
  auto result = served.Client()->Post("/host/v1/advance", R"({"seconds":1})", "application/json");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 409);
}

// Many clients at once: every answer right, timers running on the real
// clock meanwhile, and the final values those of each client's last write.
TEST(HttpFront, ManyClientsAtOnce) {
  HttpFrontOptions options;
  ServedHost served(options);
  ASSERT_TRUE(served.Ready());
  auto control = served.Client();
  ASSERT_EQ(control->Post("/tav-testplugin/v1/timers/t?interval=0.005&mode=plain")->status, 204);
  constexpr int kClients = 32;
  constexpr int kRequests = 20000;
  std::atomic<int> errors{0};
  std::vector<std::thread> clients;
  clients.reserve(kClients);
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      auto client = served.Client();
      const std::string path = "/load/client-" + std::to_string(c);
      for (int i = 0; i < kRequests / kClients; ++i) {
        if (i % 2 == 0) {
          const std::string item =
              R"({"name":"c)" + std::to_string(c) + R"(","count":)" + std::to_string(i) + "}";
          auto posted = client->Post("/tav-testplugin/v1/items", item, "application/json");
          auto put = client->Put(path.c_str(), std::to_string(i), "application/json");
          if (!posted || posted->status != 204 || !put || put->status != 204) {
            ++errors;
            ADD_FAILURE() << "POST " << (posted ? posted->status : -int(posted.error())) << " PUT "
                          << (put ? put->status : -int(put.error()));
          }
        } else {
          auto got = client->Get(path.c_str());
          if (!got || got->status != 200 || got->body != std::to_string(i - 1)) {
            ++errors;
            ADD_FAILURE() << "GET " << (got ? got->status : -int(got.error()));
          }
        }
      }
    });
  }
  for (std::thread& thread : clients) {
    thread.join();
  }
  EXPECT_EQ(errors.load(), 0);
  constexpr int kLast = (kRequests / kClients - 1) / 2 * 2;  // the last even step
  for (int c = 0; c < kClients; ++c) {
    auto item = control->Get(("/tav-testplugin/v1/items/c" + std::to_string(c)).c_str());
    ASSERT_TRUE(item);
    EXPECT_THAT(item->body, testing::HasSubstr("\"count\":" + std::to_string(kLast)));
  }
  // The timer ran meanwhile, on the real clock.
  EXPECT_TRUE(Eventually([&] {
    auto journal = control->Get("/tav-testplugin/v1/journal");
    return journal && journal->body.find("timer t") != std::string::npos;
  }));
}

TEST(RequestTranslation, RefusalsAndWhatReachesTheCore) {
  struct Case {
    std::string name;
    IncomingRequest request;
    std::uint32_t refusal;  // 0: translated
  };
  const std::vector<Case> cases = {
      {"plain", {"GET", "/a/b?c=%20", {}, ""}, 0},
      {"not absolute", {"GET", "a/b", {}, ""}, 400},
      {"absolute URL", {"GET", "http://x/a", {}, ""}, 400},
      {"empty", {"GET", "", {}, ""}, 400},
      {"space", {"GET", "/a b", {}, ""}, 400},
      {"percent at the end", {"GET", "/a%2", {}, ""}, 400},
      {"long", {"GET", "/" + std::string(5000, 'a'), {}, ""}, 414},
      {"body of an unread type", {"POST", "/a", {{"Content-Type", "text/plain"}}, "x"}, 400},
      {"body without a type", {"POST", "/a", {}, "{}"}, 0},
      {"YAML", {"POST", "/a", {{"content-type", "text/x-yaml; charset=utf-8"}}, "a: 1"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto translated = TranslateRequest(c.request, TranslationLimits{});
    EXPECT_EQ(translated.HasFailure() ? translated.GetFailure().Code() : 0u, c.refusal);
  }
  auto translated = TranslateRequest({"POST",
                                      "/a",
                                      {{"Authorization", "Bearer t"},
                                       {"Cookie", "c"},
                                       {"X-Request-ID", "7"},
                                       {"Content-Type", "application/x-msgpack"}},
                                      "\x80"},
                                     TranslationLimits{});
  ASSERT_FALSE(translated.HasFailure());
  EXPECT_EQ(translated.Value().contentType, "application/x-msgpack");
  EXPECT_THAT(translated.Value().headers,
              testing::ElementsAre(testing::Pair("x-request-id", "7"),
                                   testing::Pair("content-type", "application/x-msgpack")));
}

}  // namespace
}  // namespace Nalo::Host::Http
