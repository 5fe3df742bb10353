// The gameflow plugin served over HTTP: many clients posting events and
// reading the session at once, with the session consistent at the end.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "HttpFrontFixture.h"
#include "binding/Json.h"

namespace Nalo::Host::Http {
namespace {

using Testing::ServedHost;

std::string Phase(const std::string& sessionJson) {
  BindingResult session = ParseJson(sessionJson);
  if (session.Failed() || session.Value().Find("phase") == nullptr) {
    return "<no phase>";
  }
  return session.Value().Find("phase")->AsString();
}

// Each client posts REQUESTED_LOBBY, ENTERED_LOBBY and ENTERED_QUEUE in turn
// and reads the session between them. In whatever order the clients'
// requests interleave, the chart goes None, Lobby, Matchmaking once each
// and stays there: in Matchmaking the three events are ignored or kept.
TEST(HttpGameflow, ThirtyTwoClientsPostEventsAndReadTheSession) {
  ServedHost served({}, ClockMode::Real, NALO_GAMEFLOW_PLUGIN_PATH);
  ASSERT_TRUE(served.Ready());
  constexpr int kClients = 32;
  constexpr int kRequests = 20000;
  constexpr const char* kEvents[] = {"\"GAMEFLOW_EVENT.REQUESTED_LOBBY\"",
                                     "\"GAMEFLOW_EVENT.ENTERED_LOBBY\"",
                                     "\"GAMEFLOW_EVENT.ENTERED_QUEUE\""};
  std::atomic<int> errors{0};
  std::vector<std::thread> clients;
  clients.reserve(kClients);
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&] {
      auto client = served.Client();
      for (int i = 0; i < kRequests / kClients; ++i) {
        if (i % 2 == 0) {
          auto posted = client->Post("/tav-gameflow/v1/session/event", kEvents[(i / 2) % 3],
                                     "application/json");
          if (!posted || posted->status != 204) {
            ++errors;
            ADD_FAILURE() << "POST: "
                          << (posted ? posted->body : httplib::to_string(posted.error()));
          }
        } else {
          auto session = client->Get("/tav-gameflow/v1/session");
          // In the phase None the session answers 404 by design.
          const bool none = session && session->status == 404 &&
                            session->body.find("No gameflow session exists.") != std::string::npos;
          if (!none &&
              (!session || session->status != 200 || Phase(session->body) == "<no phase>")) {
            ++errors;
            ADD_FAILURE() << "GET: "
                          << (session ? session->body : httplib::to_string(session.error()));
          }
        }
      }
    });
  }
  for (std::thread& thread : clients) {
    thread.join();
  }
  EXPECT_EQ(errors.load(), 0);
  auto client = served.Client();
  auto session = client->Get("/tav-gameflow/v1/session");
  ASSERT_TRUE(session);
  EXPECT_EQ(Phase(session->body), "Matchmaking");
  // The published session is the one a client reads.
  auto latest = served.Hub().Latest("/tav-gameflow/v1/session");
  ASSERT_NE(latest, nullptr);
  BindingResult published = ParseJson(latest->json);
  ASSERT_TRUE(published.Succeeded());
  EXPECT_EQ(ToJson(*published.Value().Find("data")), session->body);
}

}  // namespace
}  // namespace Nalo::Host::Http
