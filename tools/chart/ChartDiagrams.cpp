#include "tools/chart/ChartDiagrams.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "gameflow/GameflowChart.h"

namespace Nalo::Tools {

namespace {

using Client::Gameflow::FindGameflowChartState;
using Client::Gameflow::GameflowChartActionName;
using Client::Gameflow::GameflowChartRoot;
using Client::Gameflow::GameflowChartRows;
using Client::Gameflow::GameflowChartState;
using Client::Gameflow::GameflowChartStates;
using Client::Gameflow::GameflowEventName;
using Row = Client::Gameflow::GameflowMachine::Transition;

const GameflowChartState& NoneState() {
  return *FindGameflowChartState("None");
}

std::string_view ShortEventName(Client::Gameflow::GameflowEvent event) {
  std::string_view name = GameflowEventName(event);
  name.remove_prefix(name.find('.') + 1);
  return name;
}

std::vector<const GameflowChartState*> ChildrenOf(const GameflowChartState* parent) {
  std::vector<const GameflowChartState*> children;
  for (const GameflowChartState* state : GameflowChartStates()) {
    if (state->Parent() == parent) {
      children.push_back(state);
    }
  }
  return children;
}

std::string PhaseText(const GameflowChartState& state) {
  if (&state == &NoneState()) {
    return "publishes None (CheckedIntoTournament while a tournament runs)";
  }
  if (!state.PhaseOnEntry().has_value()) {
    return "publishes no phase";
  }
  return "publishes " +
         std::string(Client::Gameflow::Api::GameflowPhaseName(*state.PhaseOnEntry()));
}

std::string RowLabel(const Row& row) {
  const std::string_view action = GameflowChartActionName(row);
  return std::string(ShortEventName(row.event)) +
         (action.empty() ? std::string() : " / " + std::string(action));
}

// The row's position in the whole table.
std::size_t RowIndex(const Row& row) {
  return static_cast<std::size_t>(&row - GameflowChartRows().data());
}

// The leaf that stands for `state` in the graph: itself, or for a composite
// state the leaf its initial transitions end in (its first child's, when it
// has none).
const GameflowChartState& LeafOf(const GameflowChartState& state) {
  const auto* leaf = &state;
  for (;;) {
    if (const auto* initial = leaf->InitialTransition().target) {
      leaf = static_cast<const GameflowChartState*>(initial);
      continue;
    }
    const std::vector<const GameflowChartState*> children = ChildrenOf(leaf);
    if (children.empty()) {
      return *leaf;
    }
    leaf = children.front();
  }
}

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      static constexpr char kDigits[] = "0123456789abcdef";
      out += "\\u00";
      out += kDigits[(c >> 4) & 0xF];
      out += kDigits[c & 0xF];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace

std::string RenderGameflowChartMermaid() {
  // Composite states are written with their children inside; the root's rows
  // apply in every state, so they leave from a pseudo-state "any state".
  const GameflowChartState& root = GameflowChartRoot();
  std::string text =
      "# The gameflow state chart\n\n"
      "Written by `cmake --build --preset default --target gameflow-chart-diagram` from the\n"
      "transition table in `gameflow/src/GameflowChart.cpp`; a test fails when this file and\n"
      "the table differ. Edges are labelled with the event (without `GAMEFLOW_EVENT.`) and the\n"
      "action it runs; a loop lists the events a state accepts without leaving it. Each state\n"
      "names the phase its entry publishes.\n\n"
      "```mermaid\nstateDiagram-v2\n";
  const auto writeState = [&](const auto& self, const GameflowChartState& state,
                              const std::string& indent) -> void {
    const std::vector<const GameflowChartState*> children = ChildrenOf(&state);
    if (children.empty()) {
      text += indent + state.Name() + " : " + PhaseText(state) + "\n";
      return;
    }
    text += indent + "state " + state.Name() + " {\n";
    const std::string inner = indent + "  ";
    if (&state != &root) {
      text += inner + "note right of " + children.front()->Name() + " : " + state.Name() + " " +
              PhaseText(state) + "\n";
    }
    if (const auto* initial = state.InitialTransition().target) {
      text += inner + "[*] --> " + initial->Name() + "\n";
    }
    for (const GameflowChartState* child : children) {
      self(self, *child, inner);
    }
    text += indent + "}\n";
  };
  writeState(writeState, root, "  ");
  text += "  state \"any state\" as AnyState\n";
  for (const GameflowChartState* state : GameflowChartStates()) {
    std::string accepted;
    for (const Row& row : state->Transitions()) {
      const std::string label = RowLabel(row);
      if (row.target == nullptr) {
        accepted += (accepted.empty() ? "" : ", ") + label;
        continue;
      }
      const std::string source = state == &root ? "AnyState" : state->Name();
      text.append("  ")
          .append(source)
          .append(" --> ")
          .append(row.target->Name())
          .append(" : ")
          .append(label)
          .append("\n");
    }
    if (!accepted.empty()) {
      text += "  " + state->Name() + " --> " + state->Name() + " : " + accepted + "\n";
    }
  }
  text += "```\n";
  return text;
}

std::string RenderGameflowChartDot() {
  // Graphviz draws edges between nodes only: an edge into or out of a
  // composite state is drawn to or from its initial leaf and clipped at the
  // cluster's border (lhead, ltail).
  const GameflowChartState& root = GameflowChartRoot();
  std::string text =
      "// The gameflow chart, written by gameflow_chart_diagram from its transition table.\n"
      "digraph Gameflow {\n"
      "  graph [id=\"GameflowChart\", compound=true, rankdir=TB, nodesep=0.25, ranksep=0.35,\n"
      "         fontname=\"sans-serif\", fontsize=11, bgcolor=\"transparent\"];\n"
      "  node [shape=box, style=\"rounded,filled\", fillcolor=\"#ffffff\", color=\"#5a6270\",\n"
      "        fontname=\"sans-serif\", fontsize=11, class=\"state\"];\n"
      "  edge [color=\"#7a828e\", fontname=\"sans-serif\", fontsize=8, fontcolor=\"#3a414b\",\n"
      "        arrowsize=0.6, class=\"row\"];\n"
      "  AnyState [id=\"AnyState\", label=\"any state\", shape=box, style=\"dashed,rounded\",\n"
      "            class=\"any\"];\n";
  const auto writeState = [&](const auto& self, const GameflowChartState& state,
                              const std::string& indent) -> void {
    const std::vector<const GameflowChartState*> children = ChildrenOf(&state);
    std::string tooltip = state.Name() + ": " + PhaseText(state);
    std::string accepted;
    for (const Row& row : state.Transitions()) {
      if (row.target == nullptr) {
        accepted += (accepted.empty() ? "" : ", ") + RowLabel(row);
      }
    }
    if (!accepted.empty()) {
      tooltip += "; accepts " + accepted + " without leaving";
    }
    if (children.empty()) {
      text += indent + Quoted(state.Name()) + " [id=" + Quoted(state.Name()) +
              ", tooltip=" + Quoted(tooltip) + "];\n";
      return;
    }
    if (&state != &root) {
      text += indent + "subgraph " + Quoted("cluster_" + state.Name()) + " {\n";
      text += indent + "  graph [id=" + Quoted(state.Name()) + ", label=" + Quoted(state.Name()) +
              ", tooltip=" + Quoted(tooltip) +
              ", class=\"state composite\", style=\"rounded,dashed\", color=\"#5a6270\"];\n";
    }
    const std::string inner = &state != &root ? indent + "  " : indent;
    for (const GameflowChartState* child : children) {
      self(self, *child, inner);
    }
    if (&state != &root) {
      text += indent + "}\n";
    }
  };
  writeState(writeState, root, "  ");
  const auto isComposite = [](const GameflowChartState& state) {
    return !ChildrenOf(&state).empty();
  };
  // Rows between the same two nodes share one edge, with each row's event in
  // its tooltip (labels would make the graph too wide to read) and the class
  // "row-N" for each; rows that accept an event
  // without leaving are listed in the state's tooltip instead of a loop.
  struct Edge {
    std::string from;
    std::string to;
    std::string ltail;
    std::string lhead;
    std::string label;
    std::string classes;
  };
  std::vector<Edge> edges;
  for (const GameflowChartState* state : GameflowChartStates()) {
    for (const Row& row : state->Transitions()) {
      if (row.target == nullptr) {
        continue;
      }
      const auto& source = *state;
      const auto& target = *static_cast<const GameflowChartState*>(row.target);
      Edge edge{&source == &root ? "AnyState" : LeafOf(source).Name(),
                LeafOf(target).Name(),
                &source != &root && isComposite(source) ? "cluster_" + source.Name() : "",
                isComposite(target) ? "cluster_" + target.Name() : "",
                "",
                ""};
      auto same = std::find_if(edges.begin(), edges.end(), [&](const Edge& other) {
        return other.from == edge.from && other.to == edge.to && other.ltail == edge.ltail &&
               other.lhead == edge.lhead;
      });
      if (same == edges.end()) {
        edges.push_back(edge);
        same = edges.end() - 1;
      }
      same->label += (same->label.empty() ? "" : "; ") + RowLabel(row);
      same->classes += " row-" + std::to_string(RowIndex(row));
    }
  }
  for (const Edge& edge : edges) {
    std::string attributes =
        "class=" + Quoted("row" + edge.classes) + ", tooltip=" + Quoted(edge.label);
    if (!edge.ltail.empty()) {
      attributes += ", ltail=" + Quoted(edge.ltail);
    }
    if (!edge.lhead.empty()) {
      attributes += ", lhead=" + Quoted(edge.lhead);
    }
    text += "  " + Quoted(edge.from) + " -> " + Quoted(edge.to) + " [" + attributes + "];\n";
  }
  text += "}\n";
  return text;
}

std::string RenderGameflowChartJson() {
  std::string text = "{\"states\":[";
  bool first = true;
  for (const GameflowChartState* state : GameflowChartStates()) {
    text += first ? "" : ",";
    first = false;
    text += "{\"name\":" + Quoted(state->Name()) + ",\"parent\":" +
            (state->Parent() != nullptr ? Quoted(state->Parent()->Name()) : "null") +
            ",\"phase\":" +
            (state->PhaseOnEntry().has_value()
                 ? Quoted(Client::Gameflow::Api::GameflowPhaseName(*state->PhaseOnEntry()))
                 : "null") +
            ",\"initial\":" +
            (state->InitialTransition().target != nullptr
                 ? Quoted(state->InitialTransition().target->Name())
                 : "null") +
            "}";
  }
  text += "],\"rows\":[";
  first = true;
  for (const Row& row : GameflowChartRows()) {
    text += first ? "" : ",";
    first = false;
    text += "{\"id\":" + Quoted("row-" + std::to_string(RowIndex(row))) +
            ",\"source\":" + Quoted(row.source->Name()) +
            ",\"event\":" + Quoted(GameflowEventName(row.event)) +
            ",\"action\":" + Quoted(GameflowChartActionName(row)) +
            ",\"target\":" + (row.target != nullptr ? Quoted(row.target->Name()) : "null") + "}";
  }
  text += "],\"events\":[";
  first = true;
  for (const std::string_view name : Client::Gameflow::kGameflowEventNames) {
    text += (first ? "" : ",") + Quoted(name);
    first = false;
  }
  text += "]}\n";
  return text;
}

}  // namespace Nalo::Tools
