// The runtime's naming rules: versions, plugin names, event names and URI
// patterns.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string_view>

#include "diagnostics/LogManager.h"
#include "plugin/EventNames.h"
#include "plugin/PluginVersion.h"

namespace Nalo {
namespace {

TEST(PluginApiVersion, TextAndCompatibility) {
  EXPECT_EQ((PluginApiVersion{1, 2, 3, "beta", "7"}.Text()), "1.2.3-beta+7");
  EXPECT_EQ((PluginApiVersion{1, 2, 3, "", ""}.Text()), "1.2.3");
  EXPECT_EQ((PluginApiVersion{1, 2, 3, "", "7"}.Text()), "1.2.3+7");

  struct Case {
    PluginApiVersion core;
    bool compatible = false;
  };
  const Case cases[] = {{{18, 0, 0, "", ""}, true},
                        {{18, 5, 0, "", ""}, true},
                        {{18, 0, 7, "", ""}, true},
                        {{17, 9, 9, "", ""}, false},
                        {{19, 0, 0, "", ""}, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.core.Text());
    EXPECT_EQ(IsCompatible(RuntimePluginApiVersion(), c.core), c.compatible);
  }
  // A core with a lower minor.patch than the plugin's is refused.
  EXPECT_FALSE(IsCompatible({2, 3, 4, "", ""}, {2, 3, 3, "", ""}));
  EXPECT_TRUE(IsCompatible({2, 3, 4, "", ""}, {2, 4, 0, "", ""}));
}

TEST(PluginNames, FullNameFromTypePrefix) {
  EXPECT_EQ(GetFullNameFromShortNameAndType("tav-gameflow", kBackendPluginType).fullName,
            "ncp-be-tav-gameflow");
  EXPECT_EQ(GetFullNameFromShortNameAndType("x", kFrontendPluginType).fullName, "ncp-fe-x");

  const std::uint64_t errorsBefore = LogManager::Instance().ErrorCount();
  const PluginNames odd = GetFullNameFromShortNameAndType("x", PluginType{"sidecar", ""});
  EXPECT_EQ(odd.fullName, "ncp-xx-x");
  EXPECT_EQ(odd.typeWord, "sidecar");
  EXPECT_EQ(LogManager::Instance().ErrorCount(), errorsBefore + 1);
}

TEST(EventNames, ResourceAndLcdsNames) {
  struct Case {
    std::string_view uri, name;
  };
  constexpr Case kCases[] = {
      {"/tav-gameflow/v1/session", "OnJsonApiEvent_tav-gameflow_v1_session"},
      {"/tav-gameflow/v1/session/deeper/still", "OnJsonApiEvent_tav-gameflow_v1_session"},
      {"tav-gameflow//v1/session", "OnJsonApiEvent_tav-gameflow_v1_session"},
      {"/tav-platform-config/v1/namespaces/A/B/C",
       "OnJsonApiEvent_tav-platform-config_v1_namespaces_A_B"},
      {"/a", "OnJsonApiEvent_a"},
      {"", "OnJsonApiEvent"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.uri);
    EXPECT_EQ(ResourceEventName(c.uri), c.name);
  }
  EXPECT_EQ(LcdsEventName("com.example.GameDTO"), "OnLcdsEvent_com_example_GameDTO");
}

TEST(EventNames, UriPatterns) {
  struct Case {
    std::string_view pattern, uri;
    bool matches;
  };
  constexpr Case kCases[] = {
      {"/a/*/c", "/a/b/c", true}, {"/a/*/c", "/a//c", true}, {"/a/*", "/a/b", true},
      {"/a/*", "/a/", false},     {"/a/*", "/a/b/c", false}, {"/a/*/c", "/a/b/d", false},
      {"/a/b", "/a/b", true},     {"/a/b", "/a/bc", false},  {"/a/*x", "/a/bx", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.pattern) + " " + std::string(c.uri));
    EXPECT_EQ(MatchesUriPattern(c.pattern, c.uri), c.matches);
  }
}

}  // namespace
}  // namespace Nalo
