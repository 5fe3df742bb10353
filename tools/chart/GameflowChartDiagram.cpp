// Writes the gameflow chart's diagrams, each to the file named after its
// option:
//   gameflow_chart_diagram [--mermaid FILE.md] [--dot FILE.dot] [--json FILE.json]
// Exit status 0 on success, 1 when a file can't be written, 2 for bad usage.

#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

#include "tools/chart/ChartDiagrams.h"

namespace {

bool Write(const char* path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  file.close();
  if (!file) {
    std::cerr << "gameflow_chart_diagram: could not write " << path << "\n";
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc % 2 == 0) {
    std::cerr << "usage: gameflow_chart_diagram [--mermaid FILE.md] [--dot FILE.dot] "
                 "[--json FILE.json]\n";
    return 2;
  }
  bool written = true;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string_view option = argv[i];
    if (option == "--mermaid") {
      written = Write(argv[i + 1], Nalo::Tools::RenderGameflowChartMermaid()) && written;
    } else if (option == "--dot") {
      written = Write(argv[i + 1], Nalo::Tools::RenderGameflowChartDot()) && written;
    } else if (option == "--json") {
      written = Write(argv[i + 1], Nalo::Tools::RenderGameflowChartJson()) && written;
    } else {
      std::cerr << "gameflow_chart_diagram: unknown option " << option << "\n";
      return 2;
    }
  }
  return written ? 0 : 1;
}
