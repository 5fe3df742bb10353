// Dispatch through the core's records: how results, failures, headers and
// streams are written into a NaloResponse, and how handler results are
// encoded. Also the function-name and reason-phrase rules.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "abi/HostValue.h"
#include "binding/BindingRegistration.h"
#include "binding/BindingTypeRegistry.h"
#include "binding/Json.h"
#include "routing/BoundFunctionName.h"
#include "routing/RouteTable.h"
#include "routing/StatusReason.h"
#include "support/FailureMatchers.h"

namespace Nalo {
namespace {

enum class Phase { None = 0, Lobby = 1, Unnamed = 9 };

struct Session {
  Phase phase = Phase::None;
  std::string map;
};

struct Unregistered {
  int value = 0;
};

// A body of `size` bytes delivered in pieces of at most `piece` bytes.
class CountingStream final : public ResponseStream {
 public:
  CountingStream(std::size_t size, std::size_t piece, int* closed)
      : mLeft(size), mPiece(piece), mClosed(closed) {}
  ~CountingStream() override { ++*mClosed; }
  CountingStream(const CountingStream&) = delete;
  CountingStream& operator=(const CountingStream&) = delete;
  CountingStream(CountingStream&&) = delete;
  CountingStream& operator=(CountingStream&&) = delete;

  bool Read(std::span<std::uint8_t> buffer, std::size_t& delivered, bool& more) override {
    delivered = std::min({buffer.size(), mPiece, mLeft});
    std::memset(buffer.data(), 'x', delivered);
    mLeft -= delivered;
    more = mLeft > 0;
    return true;
  }
  std::uint64_t ExpectedSize() const override { return 10; }

 private:
  std::size_t mLeft;
  std::size_t mPiece;
  int* mClosed;
};

// What a C host would see of a response, in one comparable text.
std::string Describe(const NaloResponse& response) {
  std::string text = std::to_string(response.status) + " " +
                     (response.reason != nullptr ? response.reason : "<null>");
  if (response.error != nullptr) {
    text += " error=" + std::string(response.error);
  }
  const NaloHostValue body = response.body;
  BindingResult value = FromHostValue(body, "body");
  if (!value.Value().IsEmpty()) {
    text += " body=" + ToJson(value.Value());
  }
  const NaloHeader* headers = response.headers;
  for (std::size_t i = 0; i < response.headerCount; ++i) {
    text += " " + std::string(headers[i].name) + ":" + headers[i].value;
  }
  if (response.format != 0) {
    text += " format=" + std::to_string(response.format);
  }
  return text;
}

class DispatchRecords : public ::testing::Test {
 protected:
  DispatchRecords() : mTable(mRegistry) {
    RegisterEnum<Phase>(mRegistry, "Test", "Phase", "",
                        {{"None", Phase::None}, {"Lobby", Phase::Lobby}});
    RegisterStruct<Session>(mRegistry, "Test", "Session", "",
                            {Field("phase", &Session::phase), Field("map", &Session::map)});

    mTable.Get("/void", [] {});
    mTable.Get("/session", [] { return Session{Phase::Lobby, "Vale"}; });
    mTable.Get("/unnamed-phase", [] { return Phase::Unnamed; });
    mTable.Get("/missing", []() -> MaybeType<Failure, Session> {
      return Failure(404, "No gameflow session exists.");
    });
    mTable.Get("/no-code", []() -> MaybeType<Failure, void> { return Failure("Broken."); });
    mTable.Get("/fields", []() -> MaybeType<Failure, void> {
      return Failure(403, "Queue {queueId} is closed.", {{"queueId", 7}});
    });
    mTable.Get("/ok", []() -> MaybeType<Failure, void> { return {}; });
    mTable.Get("/unregistered", [] { return Unregistered{}; });
    mTable.Get("/throws", []() -> bool { throw std::runtime_error("boom"); });
    mTable.Get("/custom", [this]() -> MaybeType<Failure, CallResult> {
      CallResult result = CallResult::WithValue(BindingProperty());
      result.status = 201;
      result.headers.push_back({"Location", "/session"});
      result.format = 2;
      result.stream = std::make_unique<CountingStream>(10, 4, &mClosedStreams);
      return result;
    });
    mTable.Get("/odd", []() -> CallResult {
      CallResult result = CallResult::NoContent();
      result.status = 299;
      result.reason = "Odd";
      result.format = 9;
      return result;
    });
  }

  std::string Dispatch(std::string_view path) {
    const std::string text(path);
    NaloRequest request{};
    request.method = NALO_METHOD_GET;
    request.path = text.c_str();
    NaloResponse response;
    std::memset(&response, 0xAB, sizeof response);  // the plugin must ignore old contents
    RouteTable::DispatchEntry(&mTable, &response, &request);
    std::string described = Describe(response);
    if (response.stream != nullptr) {
      described += " stream=" + ReadAll(response);
      response.close(response.stream);
    }
    response.release(&response);
    return described;
  }

  static std::string ReadAll(const NaloResponse& response) {
    std::string pieces = std::to_string(response.expectedBodySize) + ":";
    std::uint8_t more = 1;
    while (more != 0) {
      std::uint8_t buffer[16];
      std::size_t count = sizeof buffer;
      if (response.read(response.stream, buffer, &count, &more) == 0) {
        return pieces + "<read failed>";
      }
      pieces += std::to_string(count) + (more != 0 ? "," : "");
    }
    return pieces;
  }

  BindingTypeRegistry mRegistry;
  RouteTable mTable;
  int mClosedStreams = 0;
};

TEST_F(DispatchRecords, ResultsAndFailuresInTheResponse) {
  struct Case {
    std::string_view path;
    std::string_view expected;
  };
  // clang-format off
  const Case cases[] = {
      {"/void",          "204 No Content"},
      {"/ok",            "204 No Content"},
      {"/session",       R"(200 OK body={"map":"Vale","phase":"Lobby"})"},
      {"/unnamed-phase", "200 OK body=9"},
      {"/missing",       "404 Not Found error=No gameflow session exists."},
      {"/no-code",       "500 Internal Server Error error=Broken."},
      {"/fields",        R"(403 Forbidden error={"message":"Queue 7 is closed.","queueId":7})"},
      {"/nowhere",       "404 Not Found error=Invalid function"},
      {"/unregistered",  "400 Bad Request error=Couldn't convert native value because it's an unregistered structure."},
      {"/throws",        "500 Internal Server Error error=Unhandled exception while serving the request: boom"},
      {"/custom",        "201 Created Location:/session format=2 stream=10:4,4,2"},
      {"/odd",           "299 Odd"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(Dispatch(c.path), c.expected);
  }
  EXPECT_EQ(mClosedStreams, 1);
}

TEST_F(DispatchRecords, MissingRecordsAnswerWithoutCrashing) {
  NaloResponse response{};
  RouteTable::DispatchEntry(nullptr, &response, nullptr);
  EXPECT_EQ(Describe(response), "404 Not Found error=Invalid function");
  response.release(&response);

  // Null texts and arrays with counts read as absent.
  NaloRequest request{};
  request.method = NALO_METHOD_GET;
  request.headerCount = 3;
  request.argumentCount = 2;
  request.bodyLength = 5;
  RouteTable::DispatchEntry(&mTable, &response, &request);
  EXPECT_EQ(Describe(response), "404 Not Found error=Invalid function");
  response.release(&response);
}

// Requests and handlers beyond the few headers and arguments the dispatch
// keeps on its stack.
TEST(DispatchManyValues, EveryHeaderAndArgumentIsBound) {
  BindingTypeRegistry registry;
  RouteTable table(registry);
  table.Get(
      "/many",
      [](std::string a, std::string b, std::string c, std::string d, std::string e, std::string f,
         std::string g, std::string h) { return a + b + c + d + e + f + g + h; },
      InHeader("a"), InHeader("b"), InHeader("c"), InHeader("d"), InHeader("e"), InHeader("f"),
      InHeader("g"), InHeader("h"));
  std::vector<std::string> texts;
  texts.reserve(32);
  for (int i = 0; i < 24; ++i) {
    texts.push_back("x-filler-" + std::to_string(i));
  }
  for (const char name : std::string_view("hgfedcba")) {
    texts.push_back(std::string(1, name));
  }
  std::vector<NaloHeader> headers;
  headers.reserve(texts.size());
  for (const std::string& text : texts) {
    headers.push_back({text.c_str(), text.c_str()});
  }
  NaloRequest request{};
  request.method = NALO_METHOD_GET;
  request.path = "/many";
  request.headers = headers.data();
  request.headerCount = headers.size();
  NaloResponse response;
  RouteTable::DispatchEntry(&table, &response, &request);
  EXPECT_EQ(Describe(response), R"(200 OK body="abcdefgh")");
  response.release(&response);
}

TEST(BoundFunctionName, WordRule) {
  struct Case {
    RequestMethod method;
    std::string_view path;
    std::string_view name;
  };
  const Case cases[] = {
      {RequestMethod::Get, "/a-b/v1/items/{id}", "GetABV1ItemsById"},
      {RequestMethod::Delete, "/x", "DeleteX"},
      {RequestMethod::Options, "/x", "OptionsX"},
      {RequestMethod::Post, "/tav-gameflow/v1/session/request-lobby",
       "PostTavGameflowV1SessionRequestLobby"},
      {RequestMethod::Get, "/files/{+rest}", "GetFilesByRest"},
      {RequestMethod::Get, "/a_b.c!d", "GetABCD"},
      {RequestMethod::None, "tav-gameflow", "TavGameflow"},
      {RequestMethod::Call, "/do", "Do"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(BoundFunctionName(c.method, c.path), c.name);
  }
}

TEST(StatusReason, Table) {
  struct Case {
    std::uint32_t status;
    std::string_view reason;
  };
  const Case cases[] = {{100, "Continue"},
                        {200, "OK"},
                        {204, "No Content"},
                        {207, "207 Multi-Status"},
                        {307, "Temporary Redirect"},
                        {404, "Not Found"},
                        {422, "Unprocessable Entity"},
                        {507, "Insufficient Storage"},
                        {0, ""},
                        {306, ""},
                        {599, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    EXPECT_EQ(StatusReason(c.status), c.reason);
  }
}

TEST(RouteTableDeathTest, RowsThatCannotWorkEndTheProcess) {
  BindingTypeRegistry registry;
  RouteTable table(registry);
  EXPECT_DEATH(table.Get("/a/{id", [] {}),
               "The path template '/a/\\{id' is malformed: a parameter is not closed.");
  EXPECT_DEATH(table.Get(
                   "/a/{id}", [](int) {}, InQuery("id")),
               "Route GET /a/\\{id\\}: no path argument takes the template parameter 'id'.");
  EXPECT_DEATH(table.Get(
                   "/a/{item.name}", [](int) {}, InPath("name")),
               "Route GET /a/\\{item.name\\}: no path argument takes the template parameter "
               "'item.name'.");
  EXPECT_DEATH(table.Get(
                   "/a", [](int, int) {}, InQuery("x"), InHeader("x")),
               "Route GET /a declares argument 'x' twice.");
}

}  // namespace
}  // namespace Nalo
