#include "host/http/Recorder.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <iterator>
#include <thread>

#include "binding/Json.h"
#include "binding/MessagePack.h"
#include "host/scenario/ChildRun.h"

namespace Nalo::Host::Http {

namespace {

constexpr std::string_view kDataStorePrefix = "/data-store/v1/install-settings/";
constexpr std::string_view kDataStoreFile = "data-store.json";
constexpr std::string_view kDelete = "Delete";
constexpr std::uint64_t kNanosecondsPerMillisecond = 1'000'000;
// Where the realistic patcher says the game client is installed, and the
// stand-in client's files there.
constexpr std::string_view kClientFolder = "tav_game_client_sln";
constexpr std::string_view kClientProgram = "Tavora.exe";
constexpr std::string_view kClientControlFile = "stand-in-client.cfg";
constexpr std::string_view kClientRecordFile = "stand-in-client.record";
// A client is this process's child from its spawn, and writes its start
// line a moment later.
constexpr std::chrono::seconds kClientStartLimit{5};

std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

bool NamesPid(std::string_view name) {
  return name.size() >= 3 &&
         std::equal(name.end() - 3, name.end(), "pid", [](char left, char right) {
           return std::tolower(static_cast<unsigned char>(left)) == right;
         });
}

}  // namespace

std::vector<BindingProperty> Recorder::ClientRecord() const {
  std::vector<BindingProperty> lines;
  std::ifstream stream(mClientFolder / kClientRecordFile);
  std::string line;
  for (std::size_t index = 0; std::getline(stream, line); ++index) {
    if (index < mEarlierClientLines) {
      continue;
    }
    // A line that can't be read stays in its place, empty.
    BindingResult parsed = ParseJson(line);
    lines.emplace_back();
    if (parsed.Succeeded()) {
      lines.back().assign(parsed.Value());
    }
  }
  return lines;
}

std::vector<std::int64_t> Recorder::ClientStarts() const {
  std::vector<std::int64_t> pids;
  for (const BindingProperty& line : ClientRecord()) {
    if (line.Find("arguments") != nullptr && line.Find("pid") != nullptr) {
      pids.push_back(line.Find("pid")->AsSigned(0));
    }
  }
  return pids;
}

void Recorder::WriteClientSteps() {
  if (mClientFolder.empty()) {
    return;
  }
  // A control file changed since: clients started from now on follow it.
  if (std::string control = ReadWhole(mClientFolder / kClientControlFile);
      control != mClientControl) {
    BindingProperty step;
    step.SetString(control);
    WriteStep("client-control", step);
    mClientControl = std::move(control);
  }
  const std::vector<BindingProperty> lines = ClientRecord();
  std::int64_t latest = 0;
  for (std::size_t index = 0; index < lines.size(); ++index) {
    const BindingProperty* pid = lines[index].Find("pid");
    if (lines[index].Find("arguments") != nullptr && pid != nullptr) {
      latest = pid->AsSigned(0);
    }
    const BindingProperty* event = lines[index].Find("event");
    // The replay's steps act on the latest client only.
    if (index < mClientLinesWritten || event == nullptr || pid == nullptr ||
        pid->AsSigned(0) != latest) {
      continue;
    }
    const std::string_view name = event->StringValue();
    BindingProperty step;
    if (name == "window-opened" || name == "foreground") {
      step.SetString(name);
      WriteStep("await-client", step);
    } else if (name == "command" && lines[index].Find("detail") != nullptr) {
      const std::string_view command = lines[index].Find("detail")->StringValue();
      step.SetString(command);
      WriteStep("client-command", step);
      // An end the replay waits for, so that the plugin's monitoring finds
      // the client gone at the same time.
      BindingProperty end;
      int code = 0;
      const std::string_view digits = command.substr(std::min<std::size_t>(5, command.size()));
      if (command.starts_with("exit ") &&
          std::from_chars(digits.data(), digits.data() + digits.size(), code).ptr ==
              digits.data() + digits.size()) {
        end.member("code").SetSigned(code);
      } else if (command.starts_with("crash ")) {
        end.member("crash").SetString(command.substr(6));
      }
      if (!end.IsEmpty()) {
        WriteStep("await-client-exit", end);
      }
    }
  }
  mClientLinesWritten = lines.size();
}

std::optional<std::string> Recorder::ClientPlaceholder(std::int64_t pid) {
  const auto deadline = std::chrono::steady_clock::now() + kClientStartLimit;
  bool child = false;
  if (mNotClients.contains(pid)) {
    return std::nullopt;
  }
  for (;;) {
    const std::vector<std::int64_t> starts = ClientStarts();
    if (const auto found = std::ranges::find(starts, pid); found != starts.end()) {
      return "<client-pid-" + std::to_string(found - starts.begin() + 1) + ">";
    }
    // Only a child of this host can be a client that hasn't written its
    // start line yet; any other number stays a number.
    if (!child) {
      const std::vector<int> children = detail::ChildrenOf(getpid());
      child = std::ranges::find(children, pid) != children.end();
    }
    if (!child || std::chrono::steady_clock::now() > deadline) {
      // A child that never wrote a start line is no client: no further wait.
      if (child) {
        mNotClients.insert(pid);
      }
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void Recorder::MarkClientPids(BindingProperty& value) {
  if (mClientFolder.empty()) {
    return;
  }
  if (value.Kind() == BindingKind::Collection) {
    for (BindingProperty& element : value.Elements()) {
      MarkClientPids(element);
    }
    return;
  }
  if (value.Kind() != BindingKind::Structure) {
    return;
  }
  std::vector<std::string> names;
  for (const auto& member : value.Members()) {
    names.emplace_back(member.name);
  }
  for (const std::string& name : names) {
    BindingProperty* member = value.Find(name);
    const bool number =
        member->Kind() == BindingKind::Signed || member->Kind() == BindingKind::Unsigned;
    if (number && NamesPid(name)) {
      if (std::optional<std::string> placeholder = ClientPlaceholder(member->AsSigned(0))) {
        member->SetString(*placeholder);
      }
    } else {
      MarkClientPids(*member);
    }
  }
}

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
  // The stand-in client installed where the realistic patcher says the
  // game client is: the replay installs it with the same control file.
  const std::filesystem::path clientFolder = stateFolder / kClientFolder;
  std::error_code error;
  const bool clientInstalled = std::filesystem::exists(clientFolder / kClientProgram, error);
  std::string clientControl;
  if (clientInstalled) {
    clientControl = ReadWhole(clientFolder / kClientControlFile);
    BindingProperty control;
    control.SetString(clientControl);
    stream << "stand-in-client: " << ToJson(control) << "\n";
  }
  stream << "steps:\n  - load\n";
  stream.flush();
  std::unique_ptr<Recorder> recorder(new Recorder(std::move(stream)));
  if (clientInstalled) {
    recorder->mClientFolder = clientFolder;
    recorder->mClientControl = std::move(clientControl);
    recorder->mEarlierClientLines = recorder->ClientRecord().size();
  }
  return recorder;
}

Recorder::~Recorder() {
  if (!mFinished) {
    Finish(mWrittenMilliseconds * kNanosecondsPerMillisecond);
  }
}

void Recorder::WriteStep(std::string_view kind, const BindingProperty& members) {
  mFile << "  - " << kind << ": " << ToJson(members) << "\n";
}

void Recorder::Before() {
  WriteClientSteps();
}

void Recorder::CatchUp(std::uint64_t nowNanoseconds, bool withClient) {
  // Rounded from the start, so that the steps' times don't drift.
  const std::uint64_t now =
      (nowNanoseconds + kNanosecondsPerMillisecond / 2) / kNanosecondsPerMillisecond;
  if (withClient) {
    WriteClientSteps();
  }
  if (now > mWrittenMilliseconds) {
    mFile << "  - advance: " << (now - mWrittenMilliseconds) << "ms\n";
    mWrittenMilliseconds = now;
  }
  for (auto& [uri, expectation] : mPending) {
    MarkClientPids(expectation);
    WriteStep("expect-published", expectation);
  }
  mPending.clear();
}

void Recorder::Request(std::uint64_t nowNanoseconds, std::string_view method, std::string_view path,
                       std::string_view contentType, std::string_view body,
                       const Response& response) {
  CatchUp(nowNanoseconds, false);
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
    MarkClientPids(expect.member("body"));
  }
  WriteStep("request", step);
  // What a client did in answer to the step comes after it.
  WriteClientSteps();
  mFile.flush();
}

void Recorder::Step(std::uint64_t nowNanoseconds, std::string_view kind,
                    const BindingProperty& members) {
  CatchUp(nowNanoseconds, false);
  WriteStep(kind, members);
  WriteClientSteps();
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
  CatchUp(nowNanoseconds, true);
  mFile.flush();
  mFinished = true;
}

}  // namespace Nalo::Host::Http
