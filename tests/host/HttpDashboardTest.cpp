// The front answers the dashboard's files without the token, and nothing
// else: every other request still needs it.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>

#include "HttpFrontFixture.h"

namespace Nalo::Host::Http {
namespace {

TEST(HttpDashboard, StaticFilesNeedNoTokenAndEverythingElseStillDoes) {
  std::string pattern = (std::filesystem::temp_directory_path() / "nalo-ui-XXXXXX").string();
  const std::filesystem::path folder = mkdtemp(pattern.data());
  std::ofstream(folder / "index.html") << "<!doctype html><title>dashboard</title>";
  std::ofstream(folder / "main.js") << "export {};";
  ASSERT_EQ(::setenv("NALO_HOST_UI", folder.c_str(), 1), 0);
  {
    Testing::ServedHost served;
    ASSERT_TRUE(served.Ready());
    const auto anonymous = served.Client(false);
    const auto page = anonymous->Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_NE(page->get_header_value("Content-Security-Policy").find("default-src 'self'"),
              std::string::npos);
    const auto script = anonymous->Get("/ui/main.js?v=1");
    ASSERT_TRUE(script);
    EXPECT_EQ(script->status, 200);
    EXPECT_EQ(script->body, "export {};");
    EXPECT_EQ(anonymous->Get("/ui/missing.js")->status, 404);
    for (const char* path : {"/events", "/host/v1/status", "/tav-gameflow/v1/session"}) {
      EXPECT_EQ(anonymous->Get(path)->status, 401) << path;
    }
    EXPECT_EQ(anonymous->Post("/", "{}", "application/json")->status, 401);
    EXPECT_EQ(served.Client()->Get("/")->status, 200);
  }
  ::unsetenv("NALO_HOST_UI");
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace Nalo::Host::Http
