#include "host/peers/src/RealisticPeers.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "abi/HostAbi.h"
#include "binding/Json.h"

namespace Nalo::Host::detail {

namespace {

constexpr std::string_view kMapV1Prefix = "/tav-maps/v1/map/";
constexpr std::string_view kMapV2Prefix = "/tav-maps/v2/map/";
constexpr std::string_view kGameTypeConfigPrefix = "/tav-game-queues/v1/game-type-config/";

// POSTs with no body that only ask a peer to act; the peer reports what came
// of them through its resources, so they store and publish nothing.
constexpr std::array<std::string_view, 8> kActionPaths = {
    "/patcher/v1/products/tavora/stop-checking-request",
    "/patcher/v1/products/tavora/start-checking-request",
    "/patcher/v1/products/tavora/partial-repair-request",
    "/patcher/v1/products/tavora/start-patching-request",
    "/patcher/v1/products/tavora/signal-start-patching-delayed",
    "/naloclient/ux-minimize",
    "/naloclient/ux-show",
    "/tav-game-settings/v1/reload-post-game",
};
constexpr std::string_view kCorruptionCheckPath =
    "/patcher/v1/products/tavora/detect-corruption-request";

BindingProperty Json(std::string_view text) {
  BindingResult parsed = ParseJson(text);
  // The texts below are constants of this file; a test reads every one.
  return parsed.Succeeded() ? std::move(parsed.Value()) : BindingProperty();
}

constexpr std::string_view kLoginSession =
    R"({"state":"SUCCEEDED","summonerId":2411,"accountId":7341,"connected":true})";
constexpr std::string_view kLoginDataPacket = R"({"bannedUntilDateMillis":0,"platformId":"ST1"})";
constexpr std::string_view kCurrentSummoner =
    R"({"internalName":"standinplayer","displayName":"Stand-in Player","summonerId":2411,)"
    R"("accountId":7341,"summonerLevel":42})";
constexpr std::string_view kPatcherState =
    R"({"action":"Idle","isCorrupted":false,"isStopped":false,"isUpToDate":true,)"
    R"("isUpdateAvailable":false})";
constexpr std::string_view kRegionLocale = R"({"region":"ST","locale":"en_GB"})";
constexpr std::string_view kCrashCount = R"({"crashCount":0})";
constexpr std::string_view kReplaysSettings =
    R"({"data":{"highlights-folder-path":"/home/player/Videos/Tavora/Highlights"}})";

// Two game-type configurations that the queues name.
constexpr std::string_view kQuickConfig =
    R"({"id":1,"name":"GAME_CFG_SIMULTANEOUS","maxAllowableBans":0,"allowTrades":false,)"
    R"("exclusivePick":false,"duplicatePick":false,"teamChampionPool":false,)"
    R"("crossTeamChampionPool":false,"advancedLearningQuests":false,"battleBoost":false,)"
    R"("deathMatch":false,"doNotRemove":false,"learningQuests":false,)"
    R"("onboardCoopBeginner":false,"reroll":false,"mainPickTimerDuration":93,)"
    R"("postPickTimerDuration":11,"banTimerDuration":0,"pickMode":"Simultaneous",)"
    R"("banMode":"NoBans"})";
constexpr std::string_view kTurnsConfig =
    R"({"id":18,"name":"GAME_CFG_TURNS","maxAllowableBans":10,"allowTrades":true,)"
    R"("exclusivePick":true,"duplicatePick":false,"teamChampionPool":false,)"
    R"("crossTeamChampionPool":false,"advancedLearningQuests":false,"battleBoost":false,)"
    R"("deathMatch":false,"doNotRemove":false,"learningQuests":false,)"
    R"("onboardCoopBeginner":false,"reroll":false,"mainPickTimerDuration":30,)"
    R"("postPickTimerDuration":30,"banTimerDuration":30,"pickMode":"TurnByTurn",)"
    R"("banMode":"TenBans"})";

// A queue with the members a client reads; `config` is one of the above.
std::string QueueText(int id, int mapId, std::string_view name, std::string_view type,
                      std::string_view gameMode, std::string_view category, std::string_view config,
                      int playersPerTeam, bool ranked) {
  std::string text =
      R"({"id":)" + std::to_string(id) + R"(,"mapId":)" + std::to_string(mapId) + R"(,"name":")" +
      std::string(name) + R"(","shortName":")" + std::string(name) + R"(","description":")" +
      std::string(name) + R"(","detailedDescription":"","type":")" + std::string(type) +
      R"(","gameMode":")" + std::string(gameMode) +
      R"(","gameMutator":"","assetMutator":"","category":")" + std::string(category) +
      R"(","gameTypeConfig":)" + std::string(config) + R"(,"numPlayersPerTeam":)" +
      std::to_string(playersPerTeam) +
      R"(,"minimumParticipantListSize":1,"maximumParticipantListSize":)" +
      std::to_string(playersPerTeam) +
      R"(,"minLevel":0,"maxLevel":0,"maxSummonerLevelForFirstWinOfTheDay":0,)" + R"("isRanked":)" +
      (ranked ? "true" : "false") + R"(,"isTeamOnly":false,"areFreeChampionsAllowed":)" +
      (ranked ? "false" : "true") +
      R"(,"isTeamBuilderManaged":false,"queueAvailability":"Available",)" +
      R"("queueRewards":{"isIpEnabled":true,"isXpEnabled":true,)" +
      R"("isChampionPointsEnabled":true,"partySizeIpRewards":[]},)" + R"("spectatorEnabled":true})";
  return text;
}

std::string Queues() {
  return "[" +
         QueueText(1001, 11, "Standard Match", "STANDARD_5x5", "CLASSIC", "PvP", kTurnsConfig, 5,
                   false) +
         "," +
         QueueText(1002, 11, "Ranked Match", "RANKED_5x5", "CLASSIC", "PvP", kTurnsConfig, 5,
                   true) +
         "," +
         QueueText(1003, 11, "Quick Match", "QUICK_5x5", "CLASSIC", "PvP", kQuickConfig, 5, false) +
         "," +
         QueueText(1004, 12, "Bridge Skirmish", "BRIDGE_5x5", "BRIDGE", "PvP", kQuickConfig, 5,
                   false) +
         "," +
         QueueText(1005, 11, "Versus Bots", "BOTS_5x5", "CLASSIC", "VersusAi", kQuickConfig, 5,
                   false) +
         "]";
}

std::string CustomQueues() {
  return "[" +
         QueueText(-1, 11, "Custom Game", "PRACTICE_GAME", "CLASSIC", "Custom", kQuickConfig, 5,
                   false) +
         "," +
         QueueText(-1, 12, "Custom Bridge Game", "PRACTICE_GAME", "BRIDGE", "Custom", kQuickConfig,
                   5, false) +
         "]";
}

struct MapEntry {
  std::int64_t id;
  std::string_view gameMode;
  std::string_view name;
  std::string_view mapStringId;
  std::string_view gameModeName;
};
constexpr std::array<MapEntry, 4> kMaps = {{
    {11, "CLASSIC", "Twin Rivers Valley", "TRV", "Classic"},
    {11, "TUTORIAL", "Twin Rivers Valley", "TRV", "Battle Training"},
    {12, "BRIDGE", "Glacier Bridge", "GB", "Bridge"},
    {22, "PRACTICE", "Practice Grounds", "PG", "Practice"},
}};

BindingProperty MapValue(const MapEntry& entry, std::string_view mutator) {
  BindingProperty map;
  map.member("id").SetSigned(entry.id);
  map.member("name").SetString(entry.name);
  map.member("mapStringId").SetString(entry.mapStringId);
  map.member("gameMode").SetString(entry.gameMode);
  map.member("gameModeName").SetString(entry.gameModeName);
  map.member("gameModeShortName").SetString(entry.gameModeName);
  map.member("gameMutator").SetString(mutator);
  map.member("isRGM").SetBool(false);
  map.member("description").SetString(entry.name);
  map.member("platformId").SetString("ST1");
  map.member("platformName").SetString("Stand-in");
  map.member("assets").MakeStructure();
  map.member("properties").MakeStructure();
  return map;
}

// Splits "a/b/c" at "/".
std::vector<std::string_view> Pieces(std::string_view text) {
  std::vector<std::string_view> pieces;
  while (!text.empty()) {
    const std::size_t slash = text.find('/');
    pieces.push_back(text.substr(0, slash));
    text = slash == std::string_view::npos ? std::string_view() : text.substr(slash + 1);
  }
  return pieces;
}

std::optional<std::int64_t> Integer(std::string_view text) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::vector<RealisticValue> RealisticValues(const std::filesystem::path& stateFolder) {
  const std::filesystem::path gameClient =
      (stateFolder.empty() ? std::filesystem::path("/opt/tavora") : stateFolder) /
      "tav_game_client_sln";
  BindingProperty paths;
  paths.member("tav_game_client_sln").SetString(gameClient.string());
  BindingProperty port;
  port.SetUnsigned(51234);
  BindingProperty token;
  token.SetString("stand-in-auth-token");
  BindingProperty toggles;
  toggles.MakeStructure();

  std::vector<RealisticValue> values;
  // Announced, in this order: the login plugin first, as on a real start.
  values.push_back({"/tav-login/v1/session", Json(kLoginSession), true});
  values.push_back({"/tav-login/v1/login-data-packet", Json(kLoginDataPacket), true});
  values.push_back({std::string(kPatcherStatePath), Json(kPatcherState), true});
  values.push_back({"/naloclient/ux-crash-count", Json(kCrashCount), true});
  values.push_back({"/tav-game-queues/v1/queues", Json(Queues()), true});
  values.push_back({"/tav-game-queues/v1/custom", Json(CustomQueues()), true});
  // Read on request only.
  values.push_back({"/tav-summoner/v1/current-summoner", Json(kCurrentSummoner), false});
  values.push_back({"/patcher/v1/products/tavora/paths", std::move(paths), false});
  values.push_back({"/naloclient/region-locale", Json(kRegionLocale), false});
  values.push_back({"/naloclient/app-port", std::move(port), false});
  values.push_back({"/naloclient/auth-token", std::move(token), false});
  values.push_back({"/tav-settings/v1/local/tav-replays", Json(kReplaysSettings), false});
  values.push_back(
      {"/tav-platform-config/v1/namespaces/GameClientCmdLineToggles", std::move(toggles), false});
  return values;
}

RealisticAction RealisticActionOf(std::uint32_t method, std::string_view path) {
  if (method == NALO_METHOD_POST) {
    if (path == kCorruptionCheckPath) {
      return RealisticAction::AnswerState;
    }
    if (std::ranges::find(kActionPaths, path) != kActionPaths.end()) {
      return RealisticAction::Acknowledge;
    }
  }
  if (method == NALO_METHOD_GET &&
      (path.starts_with(kMapV1Prefix) || path.starts_with(kMapV2Prefix) ||
       path.starts_with(kGameTypeConfigPrefix))) {
    return RealisticAction::AnswerComputed;
  }
  return RealisticAction::None;
}

std::optional<BindingProperty> RealisticComputedValue(std::string_view path) {
  if (path.starts_with(kGameTypeConfigPrefix)) {
    const std::optional<std::int64_t> id = Integer(path.substr(kGameTypeConfigPrefix.size()));
    if (id == 1) {
      return Json(kQuickConfig);
    }
    if (id == 18) {
      return Json(kTurnsConfig);
    }
    return std::nullopt;
  }
  // v1: /tav-maps/v1/map/<id>, the map's classic mode.
  // v2: /tav-maps/v2/map/<id>/<game mode>[/<mutator>].
  const bool second = path.starts_with(kMapV2Prefix);
  const std::vector<std::string_view> pieces =
      Pieces(path.substr(second ? kMapV2Prefix.size() : kMapV1Prefix.size()));
  if (pieces.empty() || pieces.size() > (second ? 3u : 1u) || (second && pieces.size() < 2)) {
    return std::nullopt;
  }
  const std::optional<std::int64_t> id = Integer(pieces[0]);
  if (!id) {
    return std::nullopt;
  }
  for (const MapEntry& entry : kMaps) {
    if (entry.id == *id && (second ? entry.gameMode == pieces[1] : true)) {
      return MapValue(entry, second && pieces.size() == 3 ? pieces[2] : std::string_view());
    }
  }
  return std::nullopt;
}

}  // namespace Nalo::Host::detail
