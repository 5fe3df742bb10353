#include "diagnostics/ErrorChain.h"

namespace Nalo {
namespace {

constexpr std::string_view kCausedBy = "Caused by:";
constexpr std::size_t kIndentStep = 2;

}  // namespace

std::string ErrorChainText(const ChainedError& error) {
  std::string text = error.Description();
  text.push_back('\n');
  std::size_t indent = 0;
  for (const ChainedError* cause = error.Cause(); cause != nullptr; cause = cause->Cause()) {
    text.append(indent, ' ').append(kCausedBy).push_back('\n');
    indent += kIndentStep;
    text.append(indent, ' ').append(cause->Description()).push_back('\n');
  }
  return text;
}

}  // namespace Nalo
