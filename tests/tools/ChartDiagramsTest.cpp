// The chart's diagrams say what the transition table says.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "binding/Json.h"
#include "gameflow/GameflowChart.h"
#include "tools/chart/ChartDiagrams.h"

namespace Nalo::Tools {
namespace {

using Client::Gameflow::GameflowChartRows;
using Client::Gameflow::GameflowChartStates;

TEST(ChartDiagrams, CheckedInMermaidMatchesTheTable) {
  const std::string path = std::string(NALO_SOURCE_DIR) + "/docs/gameflow-chart.md";
  std::ifstream file(path, std::ios::binary);
  ASSERT_TRUE(file) << "missing " << path;
  std::stringstream checkedIn;
  checkedIn << file.rdbuf();
  std::stringstream rendered(RenderGameflowChartMermaid());
  std::string expectedLine;
  std::string actualLine;
  for (int line = 1;; ++line) {
    const bool moreChecked = static_cast<bool>(std::getline(checkedIn, actualLine));
    const bool moreRendered = static_cast<bool>(std::getline(rendered, expectedLine));
    if (!moreChecked && !moreRendered) {
      break;
    }
    ASSERT_TRUE(moreChecked && moreRendered && actualLine == expectedLine)
        << "docs/gameflow-chart.md is stale at line " << line << ": it has \"" << actualLine
        << "\", the chart gives \"" << expectedLine
        << "\". Run: cmake --build --preset default --target gameflow-chart-diagram";
  }
}

// The dashboard finds each state by its name and each row's edge by "row-N".
TEST(ChartDiagrams, DotNamesEveryStateOnceAndDrawsEveryRow) {
  const std::string dot = RenderGameflowChartDot();
  const auto count = [&](const std::string& needle) {
    std::size_t found = 0;
    for (std::size_t at = dot.find(needle); at != std::string::npos;
         at = dot.find(needle, at + 1)) {
      ++found;
    }
    return found;
  };
  for (const auto* state : GameflowChartStates()) {
    if (state->Parent() == nullptr) {
      continue;  // the root is the graph itself; its rows leave from AnyState
    }
    EXPECT_EQ(count("id=\"" + state->Name() + "\""), 1U) << state->Name();
  }
  // A row that leaves its state is drawn once (its edge has the class
  // "row-N"); one that stays is not drawn.
  for (std::size_t row = 0; row < GameflowChartRows().size(); ++row) {
    const std::string name = " row-" + std::to_string(row);
    const std::size_t drawn = count(name + " ") + count(name + "\"");
    EXPECT_EQ(drawn, GameflowChartRows()[row].target != nullptr ? 1U : 0U) << row;
  }
  EXPECT_EQ(dot.back(), '\n');
}

TEST(ChartDiagrams, JsonHoldsTheStatesRowsAndEvents) {
  const BindingResult parsed = ParseJson(RenderGameflowChartJson());
  ASSERT_TRUE(parsed.Succeeded());
  const BindingProperty& chart = parsed.Value();
  const auto states = chart.Find("states")->Elements();
  ASSERT_EQ(states.size(), GameflowChartStates().size());
  std::set<std::string> names;
  for (const BindingProperty& state : states) {
    names.insert(state.Find("name")->AsString());
  }
  EXPECT_EQ(names.size(), states.size());
  EXPECT_EQ(states[0].Find("parent")->AsString(), "");  // the root's parent is null
  const auto rows = chart.Find("rows")->Elements();
  ASSERT_EQ(rows.size(), GameflowChartRows().size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].Find("source")->AsString(), GameflowChartRows()[i].source->Name());
    EXPECT_TRUE(names.contains(rows[i].Find("source")->AsString()));
    const std::string target = rows[i].Find("target")->AsString();
    EXPECT_TRUE(target.empty() || names.contains(target)) << target;
  }
  EXPECT_EQ(chart.Find("events")->Elements().size(), Client::Gameflow::kGameflowEventCount);
}

}  // namespace
}  // namespace Nalo::Tools
