#pragma once
// ChartDiagrams: the gameflow chart drawn from its own transition table, in
// three forms.
//
//   RenderGameflowChartMermaid()  the Markdown of docs/gameflow-chart.md
//   RenderGameflowChartDot()      a Graphviz graph: a composite state is a
//                                 cluster, a leaf a node; every node and
//                                 cluster has the state's name as its id; rows
//                                 between the same two states share one edge
//                                 (their events in its tooltip),
//                                 with the class "row-N" for each row N of the
//                                 table; the root's rows leave from the node
//                                 "AnyState"; rows that accept an event without
//                                 leaving are named in the state's tooltip
//   RenderGameflowChartJson()     what the dashboard needs to follow the chart:
//                                 {"states": [{"name", "parent", "phase",
//                                 "initial"}], "rows": [{"id", "source",
//                                 "event", "action", "target"}], "events": [...]}
//                                 ("phase" and "target" null where there is none)
//
// The gameflow_chart_diagram program (GameflowChartDiagram.cpp) writes them
// to files; the build renders the graph to SVG with Graphviz for the
// dashboard.

#include <string>

namespace Nalo::Tools {

[[nodiscard]] std::string RenderGameflowChartMermaid();
[[nodiscard]] std::string RenderGameflowChartDot();
[[nodiscard]] std::string RenderGameflowChartJson();

}  // namespace Nalo::Tools
