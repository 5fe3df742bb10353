// Writes the gameflow chart's diagram (Mermaid, in Markdown) to the file named
// by its one argument. Exit status 0 on success, 1 when the file can't be
// written, 2 for bad usage.

#include <cstdio>
#include <fstream>
#include <iostream>

#include "gameflow/GameflowChart.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: gameflow_chart_diagram OUTPUT.md\n";
    return 2;
  }
  const std::string text = Nalo::Client::Gameflow::RenderGameflowChartMermaid();
  std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
  file << text;
  file.close();
  if (!file) {
    std::cerr << "gameflow_chart_diagram: could not write " << argv[1] << "\n";
    return 1;
  }
  return 0;
}
