#include "routing/BoundFunctionName.h"

#include <cctype>

namespace Nalo {

namespace {

// Characters dropped from the word, each upper-casing the next character.
constexpr std::string_view kSeparators = "!+-./_";
// What an opening brace becomes.
constexpr std::string_view kParameterWord = "By";

char Upper(char c) {
  return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}
char Lower(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

}  // namespace

std::string JoinedWord(std::string_view text) {
  std::string word;
  word.reserve(text.size());
  bool capitalizeNext = true;
  for (const char c : text) {
    if (kSeparators.find(c) != std::string_view::npos) {
      capitalizeNext = true;
    } else if (c == '{') {
      word += kParameterWord;
      capitalizeNext = true;
    } else if (c == '}') {
      continue;
    } else {
      word += capitalizeNext ? Upper(c) : c;
      capitalizeNext = false;
    }
  }
  return word;
}

std::string BoundFunctionName(RequestMethod method, std::string_view path) {
  const std::string_view methodName = RequestMethodName(method);
  std::string text;
  text.reserve(methodName.size() + 1 + path.size());
  if (!methodName.empty()) {
    text += methodName.front();
    for (const char c : methodName.substr(1)) {
      text += Lower(c);
    }
    text += '/';
  }
  text += path;
  return JoinedWord(text);
}

}  // namespace Nalo
