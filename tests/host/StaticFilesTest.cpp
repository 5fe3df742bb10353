// The dashboard's files: which paths they answer, and that nothing outside
// their folder is ever read.

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "host/http/StaticFiles.h"

namespace Nalo::Host::Http {
namespace {

class StaticFilesTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/static-files-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    mRoot = pattern;
    std::filesystem::create_directories(mRoot / "ui" / "icons");
    Write(mRoot / "ui" / "index.html", "<!doctype html>");
    Write(mRoot / "ui" / "app.js", "export {};");
    Write(mRoot / "ui" / "icons" / "chart.svg", "<svg/>");
    Write(mRoot / "ui" / ".hidden", "no");
    Write(mRoot / "secret.txt", "the token");
    std::filesystem::create_symlink(mRoot / "secret.txt", mRoot / "ui" / "link.txt");
  }
  void TearDown() override { std::filesystem::remove_all(mRoot); }

  static void Write(const std::filesystem::path& path, std::string_view text) {
    std::ofstream(path, std::ios::binary) << text;
  }

  std::filesystem::path mRoot;
};

TEST_F(StaticFilesTest, AnswersThePageAndItsFilesWithTheirTypes) {
  const StaticFiles files(mRoot / "ui");
  for (const std::string_view path : {"/", "/index.html", "/ui/", "/ui/index.html"}) {
    const auto answer = files.Answer("GET", path);
    ASSERT_TRUE(answer.has_value()) << path;
    EXPECT_EQ(answer->status, 200);
    EXPECT_EQ(answer->body, "<!doctype html>");
    EXPECT_EQ(answer->contentType, "text/html; charset=utf-8");
  }
  const auto script = files.Answer("HEAD", "/ui/app.js");
  ASSERT_TRUE(script.has_value());
  EXPECT_EQ(script->contentType, "text/javascript; charset=utf-8");
  const auto chart = files.Answer("GET", "/ui/icons/chart.svg");
  ASSERT_TRUE(chart.has_value());
  EXPECT_EQ(chart->body, "<svg/>");
  EXPECT_EQ(chart->contentType, "image/svg+xml");
  bool policy = false;
  for (const auto& [name, value] : chart->headers) {
    policy = policy || name == "Content-Security-Policy";
  }
  EXPECT_TRUE(policy);
}

TEST_F(StaticFilesTest, LeavesOtherRequestsToTheFront) {
  const StaticFiles files(mRoot / "ui");
  for (const std::string_view path :
       {"/tav-gameflow/v1/session", "/events", "/uix/app.js", "/ui/../secret.txt",
        "/ui/%2e%2e/secret.txt", "/ui/.hidden", "/ui/icons/../app.js", "/ui//app.js", "/ui/a\\b",
        "/ui/app.js\n", "//ui/app.js", ""}) {
    EXPECT_FALSE(files.Answer("GET", path).has_value()) << path;
  }
  EXPECT_FALSE(files.Answer("POST", "/ui/app.js").has_value());
  EXPECT_FALSE(files.Answer("DELETE", "/").has_value());
  EXPECT_FALSE(StaticFiles("").Answer("GET", "/").has_value());
  EXPECT_FALSE(StaticFiles(mRoot / "missing").Answer("GET", "/").has_value());
}

TEST_F(StaticFilesTest, AMissingFileOrALinkOutOfTheFolderIsNotFound) {
  const StaticFiles files(mRoot / "ui");
  for (const std::string_view path : {"/ui/missing.js", "/ui/link.txt", "/ui/icons"}) {
    const auto answer = files.Answer("GET", path);
    ASSERT_TRUE(answer.has_value()) << path;
    EXPECT_EQ(answer->status, 404) << path;
    EXPECT_EQ(answer->body.find("token"), std::string::npos);
  }
}

TEST(StaticContentType, ByExtension) {
  EXPECT_EQ(StaticContentType("style.css"), "text/css; charset=utf-8");
  EXPECT_EQ(StaticContentType("chart.json"), "application/json");
  EXPECT_EQ(StaticContentType("shot.png"), "image/png");
  EXPECT_EQ(StaticContentType(".js"), "application/octet-stream");
  EXPECT_EQ(StaticContentType("README"), "application/octet-stream");
}

}  // namespace
}  // namespace Nalo::Host::Http
