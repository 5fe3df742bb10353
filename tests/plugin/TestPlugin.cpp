// A plugin built only for the runtime's tests. It exercises every runtime
// feature through routes that the tests call over the host, and writes what
// its handlers, tasks and timers see into a journal the tests read back
// (GET /tav-testplugin/v1/journal).

#include <csignal>
#include <cstdint>
#include <future>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "binding/BindingRegistration.h"
#include "binding/Json.h"
#include "platform/Clock.h"
#include "plugin/AppModule.h"
#include "plugin/MemoryStatistics.h"
#include "plugin/PluginEntry.h"
#include "routing/CallResult.h"

namespace Nalo::Testing {

struct Item {
  std::string name;
  std::int32_t count = 0;
  std::vector<std::string> tags;
};

struct Participant {
  std::string name;
};

struct GameDto {
  std::uint64_t gameId = 0;
  std::string gameState;
  std::vector<Participant> players;
};

struct GameQuery {
  std::uint64_t gameId = 0;
  Participant requester;
};

struct MemoryProbe {
  std::uint64_t bytesAllocated = 0;
  std::uint64_t allocations = 0;
  std::uint64_t bytesFreed = 0;
  std::uint64_t frees = 0;
  std::uint64_t peakRise = 0;
  std::uint64_t textLength = 0;
};

// A body handed out in pieces of at most `pieceSize` bytes.
class TextStream final : public ResponseStream {
 public:
  TextStream(std::string text, std::size_t pieceSize)
      : mText(std::move(text)), mPieceSize(pieceSize == 0 ? 1 : pieceSize) {}
  bool Read(std::span<std::uint8_t> buffer, std::size_t& delivered, bool& more) override {
    delivered = std::min({buffer.size(), mPieceSize, mText.size() - mPosition});
    std::copy_n(mText.data() + mPosition, delivered, buffer.data());
    mPosition += delivered;
    more = mPosition < mText.size();
    return true;
  }
  std::uint64_t ExpectedSize() const override { return mText.size(); }

 private:
  std::string mText;
  std::size_t mPieceSize;
  std::size_t mPosition = 0;
};

class TestPlugin final : public AppModule {
 public:
  void RegisterApi() override {
    RegisterTypes();
    auto routes = Routes().Bind(*this);
    routes.Get("/tav-testplugin/v1/journal", &TestPlugin::GetJournal);
    routes.Get("/tav-testplugin/v1/bench-deliveries", &TestPlugin::BenchDeliveries);
    routes.Get("/tav-testplugin/v1/items/{name}", &TestPlugin::GetItem, InPath("name"));
    routes.Post("/tav-testplugin/v1/items", &TestPlugin::PostItem, InBody("item"));
    routes.Delete("/tav-testplugin/v1/items/{name}", &TestPlugin::DeleteItem, InPath("name"));
    routes.Post("/tav-testplugin/v1/subscribe", &TestPlugin::PostSubscribe, InQuery("uri"));
    routes.Post("/tav-testplugin/v1/unsubscribe", &TestPlugin::PostUnsubscribe, InQuery("uri"));
    routes.Get("/tav-testplugin/v1/fetch", &TestPlugin::Fetch, InQuery("path"));
    routes.Post("/tav-testplugin/v1/send", &TestPlugin::Send, InQuery("method"), InQuery("path"),
                InBody("data").Optional());
    routes.Get("/tav-testplugin/v1/fetch-item", &TestPlugin::FetchItem, InQuery("path"));
    routes.Post("/tav-testplugin/v1/put-item", &TestPlugin::PutItem, InQuery("path"),
                InBody("item"));
    routes.Get("/tav-testplugin/v1/raw", &TestPlugin::Raw, InQuery("text"),
               InQuery("piece").Optional());
    routes.Get("/tav-testplugin/v1/lcds/game", &TestPlugin::LcdsGame, InQuery("id"));
    routes.Post("/tav-testplugin/v1/lcds/ack", &TestPlugin::LcdsAck, InQuery("text"));
    routes.Get("/tav-testplugin/v1/await", &TestPlugin::AwaitAfterPumps, InQuery("pumps"));
    routes.Get("/tav-testplugin/v1/await-broken", &TestPlugin::AwaitBrokenPromise);
    routes.Post("/tav-testplugin/v1/timers/{name}", &TestPlugin::PostTimer, InPath("name"),
                InQuery("interval"), InQuery("mode").Optional());
    routes.Delete("/tav-testplugin/v1/timers/{name}", &TestPlugin::DeleteTimer, InPath("name"));
    routes.Post("/tav-testplugin/v1/tasks", &TestPlugin::PostTaskRoute, InQuery("label"),
                InQuery("delay"), InQuery("mode").Optional());
    routes.Post("/tav-testplugin/v1/telemetry/{event}", &TestPlugin::PostTelemetry, InPath("event"),
                InBody("data"));
    routes.Get("/tav-testplugin/v1/clock", &TestPlugin::ReadClocks);
    routes.Get("/tav-testplugin/v1/memory-probe", &TestPlugin::ProbeMemory);
    routes.Get("/tav-testplugin/v1/memory-probe/json", &TestPlugin::ProbeJsonMemory,
               InQuery("length"));
    routes.Post("/tav-testplugin/v1/service-proxy/pending", &TestPlugin::AddPending,
                InQuery("key"));
    routes.Get("/tav-testplugin/v1/service-proxy/stored", &TestPlugin::StoredReplies);
    routes.Post("/tav-testplugin/v1/shutdown-tables", &TestPlugin::ShutdownTables);
    routes.Get("/tav-testplugin/v1/fetch-fake", &TestPlugin::FetchFake, InQuery("text"),
               InQuery("failRead").Optional());
  }

  bool OnInitialize() override {
    AddResourceHandler<Item>("/peer/v1/item", [this](std::string_view uri,
                                                     PluginResourceEventType type,
                                                     const Item* item) {
      Note("item " + std::string(uri) + " " + TypeText(type) + " " +
           (item != nullptr ? item->name + "/" + std::to_string(item->count) : std::string("-")));
    });
    AddResourceHandler<BindingProperty>(
        "/peer/v1/things/a",
        [this](std::string_view uri, PluginResourceEventType type, const BindingProperty* value) {
          Note("exact " + std::string(uri) + " " + TypeText(type) + " " +
               (value != nullptr ? ToJson(*value) : std::string("-")));
        });
    AddResourceHandler<BindingProperty>(
        "/peer/v1/things/*",
        [this](std::string_view uri, PluginResourceEventType type, const BindingProperty*) {
          Note("pattern " + std::string(uri) + " " + TypeText(type));
        });
    // Counts only, so that a benchmark can publish without growing the journal.
    AddResourceHandler<Item>("/peer/v1/bench",
                             [this](std::string_view, PluginResourceEventType, const Item* item) {
                               mBenchDeliveries += item != nullptr ? 1 : 0;
                             });
    SubscribeLcds<GameDto>("com.example.GameDTO", [this](GameDto& game) {
      Note("lcds game " + std::to_string(game.gameId) + " " + game.gameState);
    });
    return true;
  }

  // Answers the next request itself, as a core whose stream delivers
  // `mFakeBody` (or fails to read) would, when a fake answer is armed.
  void HostRequest(NaloResponse* response, const NaloRequest* request) override {
    if (!mFakeAnswer.has_value()) {
      AppModule::HostRequest(response, request);
      return;
    }
    *response = NaloResponse{};
    response->status = 200;
    response->stream = &*mFakeAnswer;
    response->read = &FakeRead;
    response->close = &FakeClose;
    response->expectedBodySize = mFakeAnswer->text.size();
  }

  void HostPump() override {
    AppModule::HostPump();
    if (mPumpsLeft > 0 && --mPumpsLeft == 0) {
      mPumpPromise.set_value(BindingProperty());
    }
  }

 private:
  static std::string TypeText(PluginResourceEventType type) {
    switch (type) {
      case PluginResourceEventType::Create:
        return "Create";
      case PluginResourceEventType::Update:
        return "Update";
      case PluginResourceEventType::Delete:
        return "Delete";
    }
    return "?";
  }

  struct FakeAnswer {
    std::string text;
    bool failRead = false;
    std::size_t position = 0;
    std::vector<std::string>* journal = nullptr;
  };

  static std::uint8_t NALO_ABI_CALL FakeRead(void* stream, std::uint8_t* buffer, std::size_t* count,
                                             std::uint8_t* more) {
    auto* answer = static_cast<FakeAnswer*>(stream);
    if (answer->failRead) {
      return 0;
    }
    *count = std::min(*count, answer->text.size() - answer->position);
    std::copy_n(answer->text.data() + answer->position, *count, buffer);
    answer->position += *count;
    *more = answer->position < answer->text.size() ? 1 : 0;
    return 1;
  }

  static void NALO_ABI_CALL FakeClose(void* stream) {
    static_cast<FakeAnswer*>(stream)->journal->push_back("fake stream closed");
  }

  void Note(std::string line) { mJournal.push_back(std::move(line)); }

  void RegisterTypes() {
    BindingTypeRegistry& registry = Registry();
    RegisterStruct<Item>(
        registry, "TavTestplugin", "Item", "",
        {Field("name", &Item::name), Field("count", &Item::count), Field("tags", &Item::tags)});
    RegisterStruct<Participant>(registry, "", "TestLcdsParticipant", "",
                                {Field("name", &Participant::name)});
    RegisterStruct<GameDto>(
        registry, "", "TestLcdsGameDTO", "",
        {Field("gameId", &GameDto::gameId), Field("gameState", &GameDto::gameState),
         Field("players", &GameDto::players)});
    RegisterStruct<GameQuery>(
        registry, "", "TestLcdsGameQuery", "",
        {Field("gameId", &GameQuery::gameId), Field("requester", &GameQuery::requester)});
    RegisterStruct<MemoryProbe>(
        registry, "TavTestplugin", "MemoryProbe", "",
        {Field("bytesAllocated", &MemoryProbe::bytesAllocated),
         Field("allocations", &MemoryProbe::allocations),
         Field("bytesFreed", &MemoryProbe::bytesFreed), Field("frees", &MemoryProbe::frees),
         Field("peakRise", &MemoryProbe::peakRise), Field("textLength", &MemoryProbe::textLength)});
    LcdsClasses().Register<Participant>("TestLcdsParticipant", "com.example.Participant");
    LcdsClasses().Register<GameDto>("TestLcdsGameDTO", "com.example.GameDTO");
  }

  std::vector<std::string> GetJournal() { return mJournal; }
  std::uint64_t BenchDeliveries() { return mBenchDeliveries; }
  // [monotonic nanoseconds, wall milliseconds since 1970], as the plugin reads them.
  std::vector<std::uint64_t> ReadClocks() {
    return {NowNanoseconds(), NowMillisecondsSinceEpoch()};
  }

  MaybeType<Failure, Item> GetItem(std::string name) {
    const auto found = mItems.find(name);
    if (found == mItems.end()) {
      return Failure(404, "No item named {name}.", {{"name", name}});
    }
    return found->second;
  }

  MaybeType<Failure, void> PostItem(Item item) {
    const std::string uri = "/tav-testplugin/v1/items/" + item.name;
    mItems[item.name] = item;
    return Publish(uri, item);
  }

  MaybeType<Failure, void> DeleteItem(std::string name) {
    mItems.erase(name);
    return PublishDeletion("/tav-testplugin/v1/items/" + name);
  }

  void PostSubscribe(std::string uri) { Subscribe(uri); }
  void PostUnsubscribe(std::string uri) { Unsubscribe(uri); }

  MaybeType<Failure, BindingProperty> Fetch(std::string path) {
    return Request<BindingProperty>(RequestMethod::Get, path);
  }

  // Sends `data` (nothing when absent) with the named method to `path` and
  // answers what came back.
  MaybeType<Failure, BindingProperty> Send(std::string method, std::string path,
                                           BindingProperty data) {
    RequestMethod code = RequestMethod::None;
    for (std::uint32_t candidate = 1; candidate <= 7; ++candidate) {
      if (RequestMethodName(RequestMethodFromCode(candidate)) == method) {
        code = RequestMethodFromCode(candidate);
      }
    }
    if (data.IsEmpty()) {
      return Request<BindingProperty>(code, path);
    }
    return Request<BindingProperty>(code, path, data);
  }

  MaybeType<Failure, Item> FetchItem(std::string path) {
    return Request<Item>(RequestMethod::Get, path);
  }

  MaybeType<Failure, void> PutItem(std::string path, Item item) {
    return Request(RequestMethod::Put, path, item);
  }

  CallResult Raw(std::string text, std::uint32_t piece) {
    CallResult result;
    result.stream = std::make_unique<TextStream>(std::move(text), piece == 0 ? 4096 : piece);
    return result;
  }

  MaybeType<Failure, GameDto> LcdsGame(std::uint64_t id) {
    GameQuery query{id, {"tester"}};
    return Await(LcdsInvoke<GameDto>("gameService", "getGame", query, std::string("plain")));
  }

  MaybeType<Failure, void> LcdsAck(std::string text) {
    return Await(LcdsInvoke("gameService", "ack", text));
  }

  MaybeType<Failure, BindingProperty> AwaitAfterPumps(std::uint32_t pumps) {
    mPumpPromise = {};
    if (pumps == 0) {
      mPumpPromise.set_value(BindingProperty());
    }
    mPumpsLeft = pumps;
    MaybeType<Failure, BindingProperty> result = Await(mPumpPromise.get_future());
    Note("await done");
    return result;
  }

  // The promise is destroyed unfulfilled: its future holds a broken promise.
  MaybeType<Failure, void> AwaitBrokenPromise() {
    std::future<MaybeType<Failure, void>> future;
    {
      std::promise<MaybeType<Failure, void>> promise;
      future = promise.get_future();
    }
    return Await(std::move(future));
  }

  MaybeType<Failure, void> PostTimer(std::string name, double interval, std::string mode) {
    return SetTimer(name, interval, [this, name, interval, mode] {
      if (mode == "quiet") {
        return;  // allocates nothing: the firing's own cost shows
      }
      Note("timer " + name);
      if (mode == "reset-self") {
        auto reset =
            SetTimer(name, interval * 2, [this, name] { Note("timer " + name + " again"); });
        if (reset.HasFailure()) {
          Note(std::string(reset.GetFailure().Message()));
        }
      } else if (mode == "remove-self") {
        RemoveTimer(name);
      }
    });
  }

  void DeleteTimer(std::string name) { RemoveTimer(name); }

  bool PostTaskRoute(std::string label, double delay, std::string mode) {
    const std::uint64_t now = NowNanoseconds();
    const auto offset = static_cast<std::uint64_t>((delay < 0 ? -delay : delay) * 1e9);
    const std::uint64_t deadline = delay < 0 ? now - std::min(now, offset) : now + offset;
    return PostTask(label, deadline, [this, label, mode] { RunTestTask(label, mode); });
  }

  void RunTestTask(const std::string& label, const std::string& mode) {
    if (mode == "throw") {
      throw std::runtime_error("the task " + label + " failed");
    }
    if (mode == "repost") {  // a task that is always due again
      PostTask(label, NowNanoseconds(), [this, label, mode] { RunTestTask(label, mode); });
      return;
    }
    if (mode == "crash") {
      std::raise(SIGSEGV);
    }
    Note("task " + label + (mode == "timed" ? " at " + std::to_string(NowNanoseconds()) : ""));
  }

  MaybeType<Failure, void> PostTelemetry(std::string event, BindingProperty data) {
    return Await(Telemetry().Send(event, data));
  }

  // What writing a string of `length` quotation marks as JSON allocates: the
  // writer's buffer (at least the text, escaped to twice its length) and the
  // text handed back.
  MemoryProbe ProbeJsonMemory(std::uint32_t length) {
    BindingProperty value;
    value.SetString(std::string(length, '"'));
    const MemoryStatistics before = CurrentMemoryStatistics();
    const std::string json = ToJson(value);
    const MemoryStatistics after = CurrentMemoryStatistics();
    MemoryProbe probe;
    probe.bytesAllocated = after.bytesAllocated - before.bytesAllocated;
    probe.allocations = after.allocations - before.allocations;
    probe.textLength = json.size();
    return probe;
  }

  MemoryProbe ProbeMemory() {
    const MemoryStatistics before = CurrentMemoryStatistics();
    // Called directly: a new-expression paired with its delete may be
    // optimised away.
    void* block = ::operator new(100);
    const MemoryStatistics allocated = CurrentMemoryStatistics();
    ::operator delete(block);
    const MemoryStatistics after = CurrentMemoryStatistics();
    return MemoryProbe{allocated.bytesAllocated - before.bytesAllocated,
                       after.allocations - before.allocations,
                       after.bytesFreed - allocated.bytesFreed, after.frees - before.frees,
                       after.peakBytesInUse - before.peakBytesInUse};
  }

  void AddPending(std::string key) {
    AddPendingServiceProxyRequest(key, [this, key](const PluginServiceProxyResponse& reply) {
      Note("proxy " + key + " " + reply.payload);
    });
  }

  std::uint64_t StoredReplies() { return StoredServiceProxyReplyCount(); }

  void ShutdownTables() { OnShutdown(); }

  // The next fetch is answered with `text`, or with a failing read.
  MaybeType<Failure, BindingProperty> FetchFake(std::string text, bool failRead) {
    mFakeAnswer = FakeAnswer{std::move(text), failRead, 0, &mJournal};
    MaybeType<Failure, BindingProperty> result =
        Request<BindingProperty>(RequestMethod::Get, "/peer/v1/fake");
    mFakeAnswer.reset();
    return result;
  }

  std::vector<std::string> mJournal;
  std::map<std::string, Item> mItems;
  std::promise<MaybeType<Failure, BindingProperty>> mPumpPromise;
  std::uint32_t mPumpsLeft = 0;
  std::uint64_t mBenchDeliveries = 0;
  std::optional<FakeAnswer> mFakeAnswer;
};

}  // namespace Nalo::Testing

NALO_PLUGIN_ENTRY(load_tav_testplugin, Nalo::Testing::TestPlugin, "tav-testplugin")
