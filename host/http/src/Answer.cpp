#include "Answer.h"

#include "FrontMessages.h"
#include "host/http/RequestTranslation.h"
#include "routing/StatusReason.h"

namespace Nalo::Host::Http::detail {

namespace {

// The status line's phrase: the house's for the status, else the core's
// reason, else "Unknown".
std::string Phrase(unsigned status, std::string_view reason) {
  std::string_view phrase = StatusReason(status);
  // A house phrase that carries its code ("207 Multi-Status") carries it
  // once on the status line.
  const std::string code = std::to_string(status) + " ";
  if (phrase.starts_with(code)) {
    phrase.remove_prefix(code.size());
  }
  if (!phrase.empty()) {
    return std::string(phrase);
  }
  return reason.empty() ? std::string("Unknown") : HeaderSafe(reason);
}

}  // namespace

Answer Refusal(unsigned status, std::string_view message) {
  Answer answer;
  answer.status = status;
  answer.json = ErrorJson(status, message);
  answer.close = true;
  return answer;
}

std::string HeaderSafe(std::string_view text) {
  std::string safe(text.substr(0, 256));
  for (char& c : safe) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      c = ' ';
    }
  }
  return safe;
}

std::string Render(const Answer& answer, const Rendering& rendering) {
  // An informational status can't end an exchange, and a status outside
  // the three digits can't be written: the core failed to answer.
  unsigned status = answer.status;
  if (status < 200 || status > 599) {
    status = 500;
  }
  const std::string phrase = Phrase(status, answer.reason);
  const bool noBody = status == 204 || status == 304;
  const bool keepAlive = rendering.keepAlive && !answer.close;
  std::string text;
  text.reserve(answer.json.size() + 256);
  text.append("HTTP/1.1 ").append(std::to_string(status)).append(" ").append(phrase).append("\r\n");
  if (!answer.reason.empty()) {
    text.append("X-Status-Reason: ").append(HeaderSafe(answer.reason)).append("\r\n");
  } else if (status >= 400) {
    text.append("X-Status-Reason: ").append(phrase).append("\r\n");
  }
  for (const auto& [name, value] : rendering.headers) {
    text.append(name).append(": ").append(value).append("\r\n");
  }
  for (const auto& [name, value] : answer.headers) {
    text.append(name).append(": ").append(value).append("\r\n");
  }
  if (!keepAlive) {
    text.append("Connection: close\r\n");
  } else if (rendering.version10) {
    text.append("Connection: keep-alive\r\n");
  }
  if (!noBody) {
    if (!answer.json.empty()) {
      const std::string_view type = answer.contentType.empty() ? kJson : answer.contentType;
      text.append("Content-Type: ").append(type).append("\r\n");
    }
    text.append("Content-Length: ").append(std::to_string(answer.json.size())).append("\r\n");
  }
  text.append("\r\n");
  if (!noBody && !rendering.head) {
    text.append(answer.json);
  }
  return text;
}

}  // namespace Nalo::Host::Http::detail
