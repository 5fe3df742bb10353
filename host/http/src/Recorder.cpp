#include "host/http/Recorder.h"

#include <iterator>

#include "binding/Json.h"
#include "binding/MessagePack.h"

namespace Nalo::Host::Http {

namespace {

constexpr std::string_view kDataStorePrefix = "/data-store/v1/install-settings/";
constexpr std::string_view kDataStoreFile = "data-store.json";
constexpr std::string_view kDelete = "Delete";
constexpr std::uint64_t kNanosecondsPerMillisecond = 1'000'000;

}  // namespace

MaybeType<Failure, std::unique_ptr<Recorder>> Recorder::Open(
    const std::filesystem::path& file, const std::filesystem::path& stateFolder,
    std::uint64_t wallClockMilliseconds) {
  std::ofstream stream(file, std::ios::binary | std::ios::trunc);
  if (!stream) {
    return Failure(500, "Can't write the recording {file}.", {{"file", file.string()}});
  }
  // JSON is YAML: every value is written as compact JSON, which also keeps
  // texts that YAML would read as something else ('yes', 'null') texts.
  stream << "name: a session recorded by the host's HTTP front\n"
         << "host:\n"
         << "  peers: realistic\n"
         << "  wall-clock: " << wallClockMilliseconds << "\n";
  std::ifstream dataStore(stateFolder / kDataStoreFile, std::ios::binary);
  if (dataStore) {
    const std::string text((std::istreambuf_iterator<char>(dataStore)),
                           std::istreambuf_iterator<char>());
    BindingResult values = ParseJson(text);
    if (values.Succeeded() && values.Value().size() > 0) {
      stream << "resources:\n";
      for (const auto& member : values.Value().Members()) {
        BindingProperty path;
        path.SetString(std::string(kDataStorePrefix) + std::string(member.name));
        stream << "  " << ToJson(path) << ": " << ToJson(member.value) << "\n";
      }
    }
  }
  stream << "steps:\n  - load\n";
  stream.flush();
  return std::unique_ptr<Recorder>(new Recorder(std::move(stream)));
}

Recorder::~Recorder() {
  if (!mFinished) {
    Finish(mWrittenMilliseconds * kNanosecondsPerMillisecond);
  }
}

void Recorder::WriteStep(std::string_view kind, const BindingProperty& members) {
  mFile << "  - " << kind << ": " << ToJson(members) << "\n";
}

void Recorder::CatchUp(std::uint64_t nowNanoseconds) {
  // Rounded from the start, so that the steps' times don't drift.
  const std::uint64_t now =
      (nowNanoseconds + kNanosecondsPerMillisecond / 2) / kNanosecondsPerMillisecond;
  if (now > mWrittenMilliseconds) {
    mFile << "  - advance: " << (now - mWrittenMilliseconds) << "ms\n";
    mWrittenMilliseconds = now;
  }
  for (auto& [uri, expectation] : mPending) {
    WriteStep("expect-published", expectation);
  }
  mPending.clear();
}

void Recorder::Request(std::uint64_t nowNanoseconds, std::string_view method, std::string_view path,
                       std::string_view contentType, std::string_view body,
                       const Response& response) {
  CatchUp(nowNanoseconds);
  BindingProperty step;
  step.member("method").SetString(method);
  step.member("path").SetString(path);
  if (!body.empty()) {
    if (contentType.starts_with("application/x-msgpack")) {
      MessagePackParse parsed = ParseMessagePack(body);
      if (parsed.result.Succeeded()) {
        step.member("body").assign(parsed.result.Value());
      } else {
        step.member("body-text").SetString(body);
      }
    } else {
      step.member("body-text").SetString(body);
      step.member("content-type").SetString(contentType);
    }
  }
  BindingProperty& expect = step.member("expect");
  expect.member("status").SetUnsigned(response.status);
  if (!response.error.empty()) {
    expect.member("error").SetString(std::string_view(response.error));
  } else if (!response.body.IsEmpty()) {
    expect.member("body").assign(response.body);
  }
  WriteStep("request", step);
  mFile.flush();
}

void Recorder::Step(std::uint64_t nowNanoseconds, std::string_view kind,
                    const BindingProperty& members) {
  CatchUp(nowNanoseconds);
  WriteStep(kind, members);
  mFile.flush();
}

void Recorder::Published(const PublishedEvent& event) {
  if (event.uri.empty() || event.eventType.empty() || event.name == "OnJsonApiEvent") {
    return;
  }
  BindingProperty expectation;
  expectation.member("path").SetString(std::string_view(event.uri));
  if (event.eventType == kDelete) {
    expectation.member("deleted").SetBool(true);
  } else if (const BindingProperty* data = event.Data(); data != nullptr && !data->IsEmpty()) {
    expectation.member("value").assign(*data);
  }
  mPending[event.uri] = std::move(expectation);
}

void Recorder::Finish(std::uint64_t nowNanoseconds) {
  CatchUp(nowNanoseconds);
  mFile.flush();
  mFinished = true;
}

}  // namespace Nalo::Host::Http
