// The host's own routes under /host/v1/: platform-server pushes and
// answers, injected faults, virtual time and the host's status. Each reads
// its body by its content type, checks it on the connection's strand and
// runs its action on the plugin thread, recorded as the scenario step it
// stands for when the front records.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "FrontMessages.h"
#include "Session.h"
#include "binding/BindingProperty.h"
#include "binding/Json.h"
#include "host/peers/Peers.h"

namespace Nalo::Host::Http {

namespace http = boost::beast::http;
using namespace detail;

void Session::ServeControl(const std::string& path) {
  const auto& request = Request();
  const http::verb method = request.method();
  BindingProperty body;
  if (!request.body().empty()) {
    BindingResult parsed = Http::ReadBody(View(request[http::field::content_type]), request.body());
    if (parsed.Failed()) {
      Answer refused =
          Refusal(kBadRequest, Failure(kBadRequest, Message::kBadControlBody,
                                       {{"path", path}, {"error", parsed.ErrorMessage()}})
                                   .Message());
      Reply(std::move(refused));
      return;
    }
    body = std::move(parsed.Value());
  }
  const auto missing = [&](std::string_view member) {
    Reply(Refusal(
        kBadRequest,
        Failure(kBadRequest, Message::kMissing, {{"path", path}, {"member", member}}).Message()));
  };
  const auto text = [&body](std::string_view member) {
    const BindingProperty* found = body.Find(member);
    return found != nullptr ? found->AsString() : std::string();
  };
  Recorder* recorder = Options().recorder;
  std::function<void(Host&)> work;
  unsigned status = 204;
  auto answer = std::make_shared<std::string>();
  if (path == "/host/v1/lcds/push" && method == http::verb::post) {
    const BindingProperty* message = body.Find("body");
    if (text("type").empty() || message == nullptr) {
      missing(text("type").empty() ? "type" : "body");
      return;
    }
    auto step = std::make_shared<BindingProperty>();
    step->member("type").SetString(text("type"));
    step->member("body").assign(*message);
    if (!text("subtopic").empty()) {
      step->member("subtopic").SetString(text("subtopic"));
    }
    if (!text("clientId").empty()) {
      step->member("client-id").SetString(text("clientId"));
    }
    work = [step, recorder](Host& host) {
      if (recorder != nullptr) {
        recorder->Before();
      }
      const BindingProperty* subtopic = step->Find("subtopic");
      const BindingProperty* client = step->Find("client-id");
      host.GetPeers().PushLcds(step->Find("type")->AsString(), *step->Find("body"),
                               subtopic != nullptr ? subtopic->AsString() : std::string(),
                               client != nullptr ? client->AsString() : std::string());
      if (recorder != nullptr) {
        recorder->Step(host.NowNanoseconds(), "push-lcds", *step);
      }
    };
  } else if (path.starts_with("/host/v1/lcds/answers/") && method == http::verb::put) {
    const std::string call = path.substr(std::strlen("/host/v1/lcds/answers/"));
    const std::size_t dot = call.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == call.size()) {
      missing("destination.method in the path");
      return;
    }
    const auto toAnswer = [](const BindingProperty& item) {
      LcdsAnswer answerRecord;
      if (const BindingProperty* error = item.Find("error")) {
        const BindingProperty* code = item.Find("status");
        answerRecord.failure =
            Failure(static_cast<std::uint32_t>(code != nullptr ? code->AsUnsigned(500) : 500),
                    error->AsString());
      } else {
        if (const BindingProperty* type = item.Find("type")) {
          answerRecord.typeName = type->AsString();
        }
        if (const BindingProperty* value = item.Find("body")) {
          answerRecord.body.assign(*value);
        }
      }
      return answerRecord;
    };
    auto answers = std::make_shared<std::vector<LcdsAnswer>>();
    if (const BindingProperty* list = body.Find("answers")) {
      for (const BindingProperty& item : list->Elements()) {
        answers->push_back(toAnswer(item));
      }
    } else if (!body.IsEmpty()) {
      answers->push_back(toAnswer(body));
    }
    work = [answers, call, recorder, destination = call.substr(0, dot),
            name = call.substr(dot + 1)](Host& host) {
      if (recorder != nullptr && !answers->empty()) {
        BindingProperty step;
        step.member("call").SetString(std::string_view(call));
        BindingProperty& list = step.member("answers").MakeCollection();
        for (const LcdsAnswer& item : *answers) {
          BindingProperty& entry = list.at(list.size());
          if (item.failure) {
            entry.member("status").SetUnsigned(item.failure->Code());
            entry.member("error").SetString(item.failure->Message());
          } else {
            entry.member("type").SetString(std::string_view(item.typeName));
            entry.member("body").assign(item.body);
          }
        }
        recorder->Step(host.NowNanoseconds(), "lcds-answer", step);
      }
      host.GetPeers().SetLcdsAnswers(destination, name, std::move(*answers));
    };
  } else if (path == "/host/v1/faults" && method == http::verb::post) {
    if (text("path").empty()) {
      missing("path");
      return;
    }
    const BindingProperty* countValue = body.Find("count");
    const BindingProperty* statusValue = body.Find("status");
    const std::int64_t count = countValue != nullptr ? countValue->AsSigned(0) : 1;
    const std::int64_t code = statusValue != nullptr ? statusValue->AsSigned(0) : 500;
    if (code < 100 || code > 599) {
      Reply(Refusal(kBadRequest, Message::kFaultStatus));
      return;
    }
    if (count < 1) {
      Reply(Refusal(kBadRequest, Message::kFaultCount));
      return;
    }
    auto step = std::make_shared<BindingProperty>();
    step->member("path").SetString(text("path"));
    step->member("count").SetUnsigned(static_cast<std::uint64_t>(count));
    step->member("status").SetUnsigned(static_cast<std::uint64_t>(code));
    step->member("error").SetString(text("error").empty() ? "Injected fault." : text("error"));
    work = [step, recorder](Host& host) {
      host.GetPeers().InjectFault(step->Find("path")->AsString(),
                                  static_cast<std::uint32_t>(std::min<std::uint64_t>(
                                      step->Find("count")->AsUnsigned(), UINT32_MAX)),
                                  static_cast<std::uint32_t>(step->Find("status")->AsUnsigned()),
                                  step->Find("error")->AsString());
      if (recorder != nullptr) {
        recorder->Step(host.NowNanoseconds(), "fault", *step);
      }
    };
  } else if (path == "/host/v1/advance" && method == http::verb::post) {
    if (Options().clock != ClockMode::Virtual) {
      Reply(Refusal(kConflict, Message::kRealClock));
      return;
    }
    const BindingProperty* seconds = body.Find("seconds");
    if (seconds == nullptr) {
      missing("seconds");
      return;
    }
    double value = seconds->GetFloat(static_cast<double>(seconds->AsSigned(0)));
    value = std::clamp(value, 0.0, 365.0 * 24 * 3600);
    work = [value](Host& host) {
      host.Advance(std::chrono::nanoseconds(static_cast<std::int64_t>(value * 1e9)));
    };
  } else if (path == "/host/v1/status" &&
             (method == http::verb::get || method == http::verb::head)) {
    status = 200;
    const bool virtualClock = Options().clock == ClockMode::Virtual;
    EventHub* hub = &mFront.mHub;
    work = [answer, virtualClock, hub](Host& host) {
      BindingProperty record;
      BindingProperty& plugins = record.member("plugins").MakeCollection();
      for (const std::string& name : host.PluginNames()) {
        plugins.at(plugins.size()).SetString(std::string_view(name));
      }
      record.member("clock").SetString(virtualClock ? "virtual" : "real");
      record.member("nanoseconds").SetUnsigned(host.NowNanoseconds());
      record.member("wallClock").SetUnsigned(host.WallClockMilliseconds());
      record.member("eventStreams").SetUnsigned(hub->StreamCount());
      *answer = ToJson(record);
    };
  } else {
    Answer refused = Refusal(
        kNotFound, Failure(kNotFound, Message::kNoControl,
                           {{"method", std::string(request.method_string())}, {"path", path}})
                       .Message());
    refused.close = false;
    Reply(std::move(refused));
    return;
  }
  mFront.CallPlugin(shared_from_this(), std::move(work),
                    [self = shared_from_this(), status, answer](bool ran) {
                      if (!ran) {
                        self->Reply(Refusal(kUnavailable, Message::kStopping));
                        return;
                      }
                      Answer done;
                      done.status = status;
                      done.json = std::move(*answer);
                      self->Reply(std::move(done));
                    });
}

}  // namespace Nalo::Host::Http
