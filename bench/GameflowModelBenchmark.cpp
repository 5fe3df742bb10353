// The gameflow session through the type registry against a hand-written
// RapidJSON encoding of the same struct, on one fully populated session: ten
// team members of a dozen fields each, a queue with its game-type config and
// rewards, and a map with assets and properties.
//
//   SessionToProperty    ToProperty alone (no baseline)
//   SessionToJson        ToProperty + ToJson of the tree    vs RapidJsonWriteSession
//   SessionToJsonDirect  ToJson of the native session       vs RapidJsonWriteSession
//   SessionFromJson      ParseJson + FromProperty           vs RapidJsonReadSession
// (the baselines: rapidjson::Writer by hand, and a Document read by hand)
//
// The hand-written encoder writes the members in the same order as ToJson,
// and the program checks once that both produce the same text and that both
// decoders read it back into the same session, so the pairs do the same
// work. Bytes processed are the JSON text's bytes. The summary prints each
// pair from the median CPU times (or the single run without repetitions): a
// ratio of 1.0 means as fast as the hand-written code, 0.5 half as fast.

#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

#include "bench/support/BenchmarkData.h"
#include "bench/support/GameflowRegistry.h"
#include "bench/support/RatioReport.h"
#include "binding/BindingConvert.h"
#include "binding/BindingTypeRegistry.h"
#include "binding/Json.h"
#include "gameflow/Api/GameflowSession.h"

namespace {

using namespace Nalo::Client::Gameflow::Api;
using Nalo::BindingKind;
using Nalo::BindingProperty;
using Nalo::Bench::Abort;
using Nalo::Bench::GameflowRegistry;

// --- The input. -----------------------------------------------------------------

// Numbers are held as a parsed tree holds them (non-negative integers
// unsigned), so that the session reads back equal.
BindingProperty TeamMember(std::uint64_t index) {
  BindingProperty member;
  member.member("summonerId").SetUnsigned(2'000'000'000ull + index);
  member.member("summonerName").SetString("Summoner number " + std::to_string(index));
  member.member("puuid").SetString("6f0b1c2e-88d4-4b7e-9f20-00000000000" + std::to_string(index));
  member.member("championId").SetUnsigned(100 + index);
  member.member("teamParticipantId").SetUnsigned(index < 5 ? 1 : 2);
  member.member("scoreDelta").SetSigned(-static_cast<std::int64_t>(index % 3) - 1);
  member.member("spell1Id").SetUnsigned(4);
  member.member("spell2Id").SetUnsigned(14);
  member.member("isBot").SetBool(index == 9);
  member.member("botDifficulty").SetString(index == 9 ? "MEDIUM" : "NONE");
  member.member("profileIconId").SetUnsigned(5000 + index);
  member.member("ratio").SetFloat(0.25 * static_cast<double>(index));
  return member;
}

GameflowSession PopulatedSession() {
  GameflowSession session;
  session.phase = GameflowPhase::InProgress;
  GameflowGameData& game = session.gameData;
  game.gameId = 6'543'210'987ull;
  game.gameName = "Matched game";
  for (std::uint64_t i = 0; i < 10; ++i) {
    (i < 5 ? game.teamOne : game.teamTwo).push_back(TeamMember(i));
  }
  game.spectatorsAllowed = true;

  Queue& queue = game.queue;
  queue.id = 420;
  queue.mapId = 11;
  queue.name = "Ranked Solo/Duo";
  queue.shortName = "Solo/Duo";
  queue.description = "5v5 Ranked Solo";
  queue.detailedDescription = "Ranked games for one or two players";
  queue.type = "RANKED_DUO_QUEUE";
  queue.gameMode = "CLASSIC";
  queue.category = QueueGameCategory::PvP;
  queue.gameTypeConfig.id = 18;
  queue.gameTypeConfig.name = "GAME_CFG_DRAFT_RANKED";
  queue.gameTypeConfig.maxAllowableBans = 10;
  queue.gameTypeConfig.allowTrades = true;
  queue.gameTypeConfig.exclusivePick = true;
  queue.gameTypeConfig.mainPickTimerDuration = 30;
  queue.gameTypeConfig.postPickTimerDuration = 30;
  queue.gameTypeConfig.banTimerDuration = 30;
  queue.gameTypeConfig.pickMode = "SimulPickStrategy";
  queue.gameTypeConfig.banMode = "StandardBanStrategy";
  queue.numPlayersPerTeam = 5;
  queue.minimumParticipantListSize = 1;
  queue.maximumParticipantListSize = 2;
  queue.minLevel = 30;
  queue.isRanked = true;
  queue.queueRewards = {.isIpEnabled = true,
                        .isXpEnabled = true,
                        .isChampionPointsEnabled = true,
                        .partySizeIpRewards = {0, 0, 0, 0, 0}};

  session.gameClient = {.serverIp = "162.249.72.4",
                        .serverPort = 7153,
                        .observerServerIp = "162.249.72.5",
                        .observerServerPort = 80,
                        .running = true,
                        .visible = true};

  GameflowGameMap& map = session.map;
  map.id = 11;
  map.name = "Verdant Crossing";
  map.mapStringId = "VC";
  map.gameMode = "CLASSIC";
  map.gameModeName = "Verdant Crossing";
  map.gameModeShortName = "Verdant Crossing";
  map.description = "The newest and most venerated battleground.";
  map.platformId = "ST1";
  map.platformName = "Stand-in West";
  for (const char* asset : {"champ-select-background-sound", "champ-select-flyout-background",
                            "game-select-icon-active", "game-select-icon-default",
                            "game-select-icon-disabled", "game-select-icon-hover", "icon-defeat",
                            "icon-victory", "parties-background", "ready-check-background"}) {
    map.assets.member(asset).SetString(std::string("/maps/sr/") + asset + ".png");
  }
  map.properties.member("suppressRunesMasteriesPerks").SetBool(false);
  map.properties.member("maxPlayers").SetUnsigned(10);

  session.gameDodge.dodgeIds = {1, 2};
  return session;
}

// --- The hand-written baseline: enumerator names. ----------------------------------

constexpr std::array<std::string_view, 14> kPhaseNames = {"None",
                                                          "Lobby",
                                                          "Matchmaking",
                                                          "CheckedIntoTournament",
                                                          "ReadyCheck",
                                                          "ChampSelect",
                                                          "GameStart",
                                                          "FailedToLaunch",
                                                          "InProgress",
                                                          "Reconnect",
                                                          "WaitingForStats",
                                                          "PreEndOfGame",
                                                          "EndOfGame",
                                                          "TerminatedInError"};
constexpr std::array<std::string_view, 4> kCategoryNames = {"None", "Custom", "PvP", "VersusAi"};
constexpr std::array<std::string_view, 3> kAvailabilityNames = {"Available", "PlatformDisabled",
                                                                "DoesntMeetRequirements"};
constexpr std::array<std::string_view, 4> kDodgeNames = {"Invalid", "PartyDodged", "StrangerDodged",
                                                         "TournamentDodged"};

template <std::size_t N>
bool ReadName(const rapidjson::Value& value, const std::array<std::string_view, N>& names,
              std::int32_t offset, std::int32_t& out) {
  if (!value.IsString()) {
    return false;
  }
  const std::string_view text(value.GetString(), value.GetStringLength());
  for (std::size_t i = 0; i < N; ++i) {
    if (names[i] == text) {
      out = static_cast<std::int32_t>(i) + offset;
      return true;
    }
  }
  return false;
}

// --- The hand-written baseline: encoding. ------------------------------------------

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

void Write(Writer& writer, std::string_view text) {
  writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

void Member(Writer& writer, const char* key, bool value) {
  writer.Key(key);
  writer.Bool(value);
}
void Member(Writer& writer, const char* key, std::int32_t value) {
  writer.Key(key);
  writer.Int(value);
}
void Member(Writer& writer, const char* key, std::uint32_t value) {
  writer.Key(key);
  writer.Uint(value);
}
void Member(Writer& writer, const char* key, std::int64_t value) {
  writer.Key(key);
  writer.Int64(value);
}
void Member(Writer& writer, const char* key, std::uint64_t value) {
  writer.Key(key);
  writer.Uint64(value);
}
void Member(Writer& writer, const char* key, std::string_view value) {
  writer.Key(key);
  Write(writer, value);
}

void WriteProperty(Writer& writer, const BindingProperty& value) {
  switch (value.Kind()) {
    case BindingKind::Empty:
      writer.Null();
      return;
    case BindingKind::Bool:
      writer.Bool(value.BoolValue());
      return;
    case BindingKind::Signed:
      writer.Int64(value.GetSigned(0));
      return;
    case BindingKind::Unsigned:
      writer.Uint64(value.GetUnsigned(0));
      return;
    case BindingKind::Float:
      writer.Double(value.GetFloat(0));
      return;
    case BindingKind::String:
      Write(writer, value.StringValue());
      return;
    case BindingKind::Collection:
      writer.StartArray();
      for (const BindingProperty& element : value.Elements()) {
        WriteProperty(writer, element);
      }
      writer.EndArray();
      return;
    case BindingKind::Structure:
      writer.StartObject();
      for (const auto member : value.Members()) {
        Write(writer, member.name);
        WriteProperty(writer, member.value);
      }
      writer.EndObject();
      return;
    case BindingKind::Blob:
    case BindingKind::Enum:
      Abort("the benchmark's session holds no blob or enum objects");
  }
}

void WriteProperties(Writer& writer, const std::vector<BindingProperty>& values) {
  writer.StartArray();
  for (const BindingProperty& value : values) {
    WriteProperty(writer, value);
  }
  writer.EndArray();
}

// Members in ascending byte order, as ToJson writes them.
void WriteQueue(Writer& writer, const Queue& queue) {
  const QueueGameTypeConfig& config = queue.gameTypeConfig;
  writer.StartObject();
  Member(writer, "areFreeChampionsAllowed", queue.areFreeChampionsAllowed);
  Member(writer, "assetMutator", queue.assetMutator);
  Member(writer, "category", kCategoryNames[static_cast<std::size_t>(queue.category)]);
  Member(writer, "description", queue.description);
  Member(writer, "detailedDescription", queue.detailedDescription);
  Member(writer, "gameMode", queue.gameMode);
  Member(writer, "gameMutator", queue.gameMutator);
  writer.Key("gameTypeConfig");
  writer.StartObject();
  Member(writer, "advancedLearningQuests", config.advancedLearningQuests);
  Member(writer, "allowTrades", config.allowTrades);
  Member(writer, "banMode", config.banMode);
  Member(writer, "banTimerDuration", config.banTimerDuration);
  Member(writer, "battleBoost", config.battleBoost);
  Member(writer, "crossTeamChampionPool", config.crossTeamChampionPool);
  Member(writer, "deathMatch", config.deathMatch);
  Member(writer, "doNotRemove", config.doNotRemove);
  Member(writer, "duplicatePick", config.duplicatePick);
  Member(writer, "exclusivePick", config.exclusivePick);
  Member(writer, "id", config.id);
  Member(writer, "learningQuests", config.learningQuests);
  Member(writer, "mainPickTimerDuration", config.mainPickTimerDuration);
  Member(writer, "maxAllowableBans", config.maxAllowableBans);
  Member(writer, "name", config.name);
  Member(writer, "onboardCoopBeginner", config.onboardCoopBeginner);
  Member(writer, "pickMode", config.pickMode);
  Member(writer, "postPickTimerDuration", config.postPickTimerDuration);
  Member(writer, "reroll", config.reroll);
  Member(writer, "teamChampionPool", config.teamChampionPool);
  writer.EndObject();
  Member(writer, "id", queue.id);
  Member(writer, "isRanked", queue.isRanked);
  Member(writer, "isTeamBuilderManaged", queue.isTeamBuilderManaged);
  Member(writer, "isTeamOnly", queue.isTeamOnly);
  Member(writer, "mapId", queue.mapId);
  Member(writer, "maxLevel", queue.maxLevel);
  Member(writer, "maxSummonerLevelForFirstWinOfTheDay", queue.maxSummonerLevelForFirstWinOfTheDay);
  Member(writer, "maximumParticipantListSize", queue.maximumParticipantListSize);
  Member(writer, "minLevel", queue.minLevel);
  Member(writer, "minimumParticipantListSize", queue.minimumParticipantListSize);
  Member(writer, "name", queue.name);
  Member(writer, "numPlayersPerTeam", queue.numPlayersPerTeam);
  Member(writer, "queueAvailability",
         kAvailabilityNames[static_cast<std::size_t>(queue.queueAvailability)]);
  writer.Key("queueRewards");
  writer.StartObject();
  Member(writer, "isChampionPointsEnabled", queue.queueRewards.isChampionPointsEnabled);
  Member(writer, "isIpEnabled", queue.queueRewards.isIpEnabled);
  Member(writer, "isXpEnabled", queue.queueRewards.isXpEnabled);
  writer.Key("partySizeIpRewards");
  writer.StartArray();
  for (const std::int32_t reward : queue.queueRewards.partySizeIpRewards) {
    writer.Int(reward);
  }
  writer.EndArray();
  writer.EndObject();
  Member(writer, "shortName", queue.shortName);
  Member(writer, "spectatorEnabled", queue.spectatorEnabled);
  Member(writer, "type", queue.type);
  writer.EndObject();
}

void WriteSession(Writer& writer, const GameflowSession& session) {
  const GameflowGameClient& client = session.gameClient;
  const GameflowGameData& game = session.gameData;
  const GameflowGameMap& map = session.map;
  const GameflowGameDodge& dodge = session.gameDodge;
  writer.StartObject();
  writer.Key("gameClient");
  writer.StartObject();
  Member(writer, "observerServerIp", client.observerServerIp);
  Member(writer, "observerServerPort", client.observerServerPort);
  Member(writer, "running", client.running);
  Member(writer, "serverIp", client.serverIp);
  Member(writer, "serverPort", client.serverPort);
  Member(writer, "visible", client.visible);
  writer.EndObject();
  writer.Key("gameData");
  writer.StartObject();
  Member(writer, "gameId", game.gameId);
  Member(writer, "gameName", game.gameName);
  Member(writer, "isCustomGame", game.isCustomGame);
  Member(writer, "password", game.password);
  writer.Key("playerChampionSelections");
  WriteProperties(writer, game.playerChampionSelections);
  writer.Key("queue");
  WriteQueue(writer, game.queue);
  Member(writer, "spectatorsAllowed", game.spectatorsAllowed);
  writer.Key("teamOne");
  WriteProperties(writer, game.teamOne);
  writer.Key("teamTwo");
  WriteProperties(writer, game.teamTwo);
  writer.EndObject();
  writer.Key("gameDodge");
  writer.StartObject();
  writer.Key("dodgeIds");
  writer.StartArray();
  for (const std::uint64_t id : dodge.dodgeIds) {
    writer.Uint64(id);
  }
  writer.EndArray();
  Member(writer, "phase", kPhaseNames[static_cast<std::size_t>(dodge.phase)]);
  Member(writer, "state", kDodgeNames[static_cast<std::size_t>(dodge.state) - '0']);
  writer.EndObject();
  writer.Key("map");
  writer.StartObject();
  writer.Key("assets");
  WriteProperty(writer, map.assets);
  Member(writer, "description", map.description);
  Member(writer, "gameMode", map.gameMode);
  Member(writer, "gameModeName", map.gameModeName);
  Member(writer, "gameModeShortName", map.gameModeShortName);
  Member(writer, "gameMutator", map.gameMutator);
  Member(writer, "id", map.id);
  Member(writer, "isRGM", map.isRGM);
  Member(writer, "mapStringId", map.mapStringId);
  Member(writer, "name", map.name);
  Member(writer, "platformId", map.platformId);
  Member(writer, "platformName", map.platformName);
  writer.Key("properties");
  WriteProperty(writer, map.properties);
  writer.EndObject();
  Member(writer, "phase", kPhaseNames[static_cast<std::size_t>(session.phase)]);
  writer.EndObject();
}

std::string HandWrittenJson(const GameflowSession& session) {
  rapidjson::StringBuffer buffer;
  Writer writer(buffer);
  WriteSession(writer, session);
  return std::string(buffer.GetString(), buffer.GetSize());
}

// --- The hand-written baseline: decoding. ------------------------------------------
// Each reader checks the kind and the range as the registry's converters do,
// and leaves a missing or null member as it was.

using Value = rapidjson::Value;

bool Read(const Value& value, bool& out) {
  if (!value.IsBool()) {
    return false;
  }
  out = value.GetBool();
  return true;
}
bool Read(const Value& value, std::int32_t& out) {
  if (!value.IsInt()) {
    return false;
  }
  out = value.GetInt();
  return true;
}
bool Read(const Value& value, std::uint32_t& out) {
  if (!value.IsUint()) {
    return false;
  }
  out = value.GetUint();
  return true;
}
bool Read(const Value& value, std::uint16_t& out) {
  if (!value.IsUint() || value.GetUint() > std::numeric_limits<std::uint16_t>::max()) {
    return false;
  }
  out = static_cast<std::uint16_t>(value.GetUint());
  return true;
}
bool Read(const Value& value, std::int64_t& out) {
  if (!value.IsInt64()) {
    return false;
  }
  out = value.GetInt64();
  return true;
}
bool Read(const Value& value, std::uint64_t& out) {
  if (!value.IsUint64()) {
    return false;
  }
  out = value.GetUint64();
  return true;
}
bool Read(const Value& value, std::string& out) {
  if (!value.IsString()) {
    return false;
  }
  out.assign(value.GetString(), value.GetStringLength());
  return true;
}
void ReadProperty(const Value& value, BindingProperty& out) {
  if (value.IsNull()) {
    out.Reset();
  } else if (value.IsBool()) {
    out.SetBool(value.GetBool());
  } else if (value.IsUint64()) {
    out.SetUnsigned(value.GetUint64());
  } else if (value.IsInt64()) {
    out.SetSigned(value.GetInt64());
  } else if (value.IsNumber()) {
    out.SetFloat(value.GetDouble());
  } else if (value.IsString()) {
    out.SetString(std::string_view(value.GetString(), value.GetStringLength()));
  } else if (value.IsArray()) {
    out.MakeCollection();
    for (rapidjson::SizeType i = 0; i < value.Size(); ++i) {
      ReadProperty(value[i], out.at(i));
    }
  } else {
    out.MakeStructure();
    for (const auto& member : value.GetObject()) {
      ReadProperty(member.value, out.member(std::string_view(member.name.GetString(),
                                                             member.name.GetStringLength())));
    }
  }
}
bool Read(const Value& value, BindingProperty& out) {
  out.Reset();
  ReadProperty(value, out);
  return true;
}
template <class E>
bool Read(const Value& value, std::vector<E>& out) {
  if (!value.IsArray()) {
    return false;
  }
  out.clear();
  out.resize(value.Size());
  for (rapidjson::SizeType i = 0; i < value.Size(); ++i) {
    if (!Read(value[i], out[i])) {
      return false;
    }
  }
  return true;
}
template <class T>
bool ReadMember(const Value& object, const char* key, T& out) {
  const auto found = object.FindMember(key);
  return found == object.MemberEnd() || found->value.IsNull() || Read(found->value, out);
}
template <class E, std::size_t N>
bool ReadEnumMember(const Value& object, const char* key,
                    const std::array<std::string_view, N>& names, std::int32_t offset, E& out) {
  const auto found = object.FindMember(key);
  if (found == object.MemberEnd() || found->value.IsNull()) {
    return true;
  }
  std::int32_t number = 0;
  if (!ReadName(found->value, names, offset, number)) {
    return false;
  }
  out = static_cast<E>(number);
  return true;
}
// The object member `key`, or null when it is missing; false when it is not
// an object.
bool ObjectMember(const Value& object, const char* key, const Value*& out) {
  const auto found = object.FindMember(key);
  out = found == object.MemberEnd() || found->value.IsNull() ? nullptr : &found->value;
  return out == nullptr || out->IsObject();
}

bool ReadQueue(const Value& object, Queue& queue) {
  const Value* config = nullptr;
  const Value* rewards = nullptr;
  if (!ObjectMember(object, "gameTypeConfig", config) ||
      !ObjectMember(object, "queueRewards", rewards)) {
    return false;
  }
  QueueGameTypeConfig& c = queue.gameTypeConfig;
  const bool configRead =
      config == nullptr ||
      (ReadMember(*config, "id", c.id) && ReadMember(*config, "name", c.name) &&
       ReadMember(*config, "maxAllowableBans", c.maxAllowableBans) &&
       ReadMember(*config, "allowTrades", c.allowTrades) &&
       ReadMember(*config, "exclusivePick", c.exclusivePick) &&
       ReadMember(*config, "duplicatePick", c.duplicatePick) &&
       ReadMember(*config, "teamChampionPool", c.teamChampionPool) &&
       ReadMember(*config, "crossTeamChampionPool", c.crossTeamChampionPool) &&
       ReadMember(*config, "advancedLearningQuests", c.advancedLearningQuests) &&
       ReadMember(*config, "battleBoost", c.battleBoost) &&
       ReadMember(*config, "deathMatch", c.deathMatch) &&
       ReadMember(*config, "doNotRemove", c.doNotRemove) &&
       ReadMember(*config, "learningQuests", c.learningQuests) &&
       ReadMember(*config, "onboardCoopBeginner", c.onboardCoopBeginner) &&
       ReadMember(*config, "reroll", c.reroll) &&
       ReadMember(*config, "mainPickTimerDuration", c.mainPickTimerDuration) &&
       ReadMember(*config, "postPickTimerDuration", c.postPickTimerDuration) &&
       ReadMember(*config, "banTimerDuration", c.banTimerDuration) &&
       ReadMember(*config, "pickMode", c.pickMode) && ReadMember(*config, "banMode", c.banMode));
  QueueReward& r = queue.queueRewards;
  const bool rewardsRead =
      rewards == nullptr ||
      (ReadMember(*rewards, "isIpEnabled", r.isIpEnabled) &&
       ReadMember(*rewards, "isXpEnabled", r.isXpEnabled) &&
       ReadMember(*rewards, "isChampionPointsEnabled", r.isChampionPointsEnabled) &&
       ReadMember(*rewards, "partySizeIpRewards", r.partySizeIpRewards));
  return configRead && rewardsRead && ReadMember(object, "id", queue.id) &&
         ReadMember(object, "mapId", queue.mapId) && ReadMember(object, "name", queue.name) &&
         ReadMember(object, "shortName", queue.shortName) &&
         ReadMember(object, "description", queue.description) &&
         ReadMember(object, "detailedDescription", queue.detailedDescription) &&
         ReadMember(object, "type", queue.type) && ReadMember(object, "gameMode", queue.gameMode) &&
         ReadMember(object, "gameMutator", queue.gameMutator) &&
         ReadMember(object, "assetMutator", queue.assetMutator) &&
         ReadEnumMember(object, "category", kCategoryNames, 0, queue.category) &&
         ReadMember(object, "numPlayersPerTeam", queue.numPlayersPerTeam) &&
         ReadMember(object, "minimumParticipantListSize", queue.minimumParticipantListSize) &&
         ReadMember(object, "maximumParticipantListSize", queue.maximumParticipantListSize) &&
         ReadMember(object, "minLevel", queue.minLevel) &&
         ReadMember(object, "maxLevel", queue.maxLevel) &&
         ReadMember(object, "maxSummonerLevelForFirstWinOfTheDay",
                    queue.maxSummonerLevelForFirstWinOfTheDay) &&
         ReadMember(object, "isRanked", queue.isRanked) &&
         ReadMember(object, "isTeamOnly", queue.isTeamOnly) &&
         ReadMember(object, "areFreeChampionsAllowed", queue.areFreeChampionsAllowed) &&
         ReadMember(object, "isTeamBuilderManaged", queue.isTeamBuilderManaged) &&
         ReadEnumMember(object, "queueAvailability", kAvailabilityNames, 0,
                        queue.queueAvailability) &&
         ReadMember(object, "spectatorEnabled", queue.spectatorEnabled);
}

bool ReadSession(const std::string& text, GameflowSession& session) {
  rapidjson::Document document;
  document.Parse(text.c_str());
  if (document.HasParseError() || !document.IsObject()) {
    return false;
  }
  const Value* client = nullptr;
  const Value* game = nullptr;
  const Value* queue = nullptr;
  const Value* map = nullptr;
  const Value* dodge = nullptr;
  if (!ObjectMember(document, "gameClient", client) || !ObjectMember(document, "gameData", game) ||
      !ObjectMember(document, "map", map) || !ObjectMember(document, "gameDodge", dodge) ||
      !ReadEnumMember(document, "phase", kPhaseNames, 0, session.phase)) {
    return false;
  }
  if (game != nullptr) {
    GameflowGameData& g = session.gameData;
    if (!ObjectMember(*game, "queue", queue) || (queue != nullptr && !ReadQueue(*queue, g.queue)) ||
        !ReadMember(*game, "gameId", g.gameId) ||
        !ReadMember(*game, "isCustomGame", g.isCustomGame) ||
        !ReadMember(*game, "gameName", g.gameName) || !ReadMember(*game, "password", g.password) ||
        !ReadMember(*game, "teamOne", g.teamOne) || !ReadMember(*game, "teamTwo", g.teamTwo) ||
        !ReadMember(*game, "playerChampionSelections", g.playerChampionSelections) ||
        !ReadMember(*game, "spectatorsAllowed", g.spectatorsAllowed)) {
      return false;
    }
  }
  if (client != nullptr) {
    GameflowGameClient& c = session.gameClient;
    if (!ReadMember(*client, "serverIp", c.serverIp) ||
        !ReadMember(*client, "serverPort", c.serverPort) ||
        !ReadMember(*client, "observerServerIp", c.observerServerIp) ||
        !ReadMember(*client, "observerServerPort", c.observerServerPort) ||
        !ReadMember(*client, "running", c.running) || !ReadMember(*client, "visible", c.visible)) {
      return false;
    }
  }
  if (map != nullptr) {
    GameflowGameMap& m = session.map;
    if (!ReadMember(*map, "id", m.id) || !ReadMember(*map, "name", m.name) ||
        !ReadMember(*map, "mapStringId", m.mapStringId) ||
        !ReadMember(*map, "gameMode", m.gameMode) ||
        !ReadMember(*map, "gameModeName", m.gameModeName) ||
        !ReadMember(*map, "gameModeShortName", m.gameModeShortName) ||
        !ReadMember(*map, "gameMutator", m.gameMutator) || !ReadMember(*map, "isRGM", m.isRGM) ||
        !ReadMember(*map, "description", m.description) ||
        !ReadMember(*map, "platformId", m.platformId) ||
        !ReadMember(*map, "platformName", m.platformName) ||
        !ReadMember(*map, "assets", m.assets) || !ReadMember(*map, "properties", m.properties)) {
      return false;
    }
  }
  if (dodge != nullptr) {
    GameflowGameDodge& d = session.gameDodge;
    if (!ReadEnumMember(*dodge, "state", kDodgeNames, '0', d.state) ||
        !ReadMember(*dodge, "dodgeIds", d.dodgeIds) ||
        !ReadEnumMember(*dodge, "phase", kPhaseNames, 0, d.phase)) {
      return false;
    }
  }
  return true;
}

// --- The registry path. ------------------------------------------------------------

std::string RegistryJson(const GameflowSession& session) {
  const Nalo::BindingResult property = Nalo::ToProperty(session, GameflowRegistry());
  return Nalo::ToJson(property.Value(), &GameflowRegistry());
}

bool RegistryRead(const std::string& text, GameflowSession& session) {
  const Nalo::BindingResult parsed = Nalo::ParseJson(text);
  return parsed.Succeeded() &&
         Nalo::FromProperty(session, parsed.Value(), "<value>", GameflowRegistry()).Succeeded();
}

// Both encoders write the same text, and both decoders read it back.
const std::string& SessionJson() {
  static const std::string text = [] {
    const GameflowSession session = PopulatedSession();
    std::string ours = RegistryJson(session);
    if (ours != HandWrittenJson(session)) {
      Abort("the hand-written encoder and ToJson disagree:\n" + ours + "\n" +
            HandWrittenJson(session));
    }
    std::string direct;
    if (Nalo::ToJson(session, GameflowRegistry(), direct).Failed() || direct != ours) {
      Abort("ToJson of the native session and of its tree disagree:\n" + direct + "\n" + ours);
    }
    GameflowSession byRegistry;
    GameflowSession byHand;
    if (!RegistryRead(ours, byRegistry) || !(byRegistry == session)) {
      Abort("the registry doesn't read the session back");
    }
    if (!ReadSession(ours, byHand) || !(byHand == session)) {
      Abort("the hand-written decoder doesn't read the session back");
    }
    return ours;
  }();
  return text;
}

// --- Benchmarks. -------------------------------------------------------------------

void SessionToProperty(benchmark::State& state) {
  const GameflowSession session = PopulatedSession();
  const auto& registry = GameflowRegistry();
  for (auto _ : state) {
    Nalo::BindingResult property = Nalo::ToProperty(session, registry);
    benchmark::DoNotOptimize(property);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * SessionJson().size()));
}

void SessionToJson(benchmark::State& state) {
  const GameflowSession session = PopulatedSession();
  const auto& registry = GameflowRegistry();
  for (auto _ : state) {
    const Nalo::BindingResult property = Nalo::ToProperty(session, registry);
    std::string text = Nalo::ToJson(property.Value(), &registry);
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * SessionJson().size()));
}

void SessionToJsonDirect(benchmark::State& state) {
  const GameflowSession session = PopulatedSession();
  const auto& registry = GameflowRegistry();
  std::string text;
  for (auto _ : state) {
    const Nalo::BindingResult written = Nalo::ToJson(session, registry, text);
    benchmark::DoNotOptimize(written);
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * SessionJson().size()));
}

void RapidJsonWriteSession(benchmark::State& state) {
  const GameflowSession session = PopulatedSession();
  for (auto _ : state) {
    std::string text = HandWrittenJson(session);
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * SessionJson().size()));
}

void SessionFromJson(benchmark::State& state) {
  const std::string& text = SessionJson();
  for (auto _ : state) {
    GameflowSession session;
    const bool read = RegistryRead(text, session);
    benchmark::DoNotOptimize(read);
    benchmark::DoNotOptimize(session);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void RapidJsonReadSession(benchmark::State& state) {
  const std::string& text = SessionJson();
  for (auto _ : state) {
    GameflowSession session;
    const bool read = ReadSession(text, session);
    benchmark::DoNotOptimize(read);
    benchmark::DoNotOptimize(session);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

// Each baseline right before ours, so that both see the same machine load as
// far as possible.
BENCHMARK(SessionToProperty);
BENCHMARK(RapidJsonWriteSession);
BENCHMARK(SessionToJson);
BENCHMARK(SessionToJsonDirect);
BENCHMARK(RapidJsonReadSession);
BENCHMARK(SessionFromJson);

// --- Summary. -----------------------------------------------------------------------

constexpr Nalo::Bench::RatioComparison kComparisons[] = {
    {"SessionToJson", "RapidJsonWriteSession"},
    {"SessionToJsonDirect", "RapidJsonWriteSession"},
    {"SessionFromJson", "RapidJsonReadSession"},
};

}  // namespace

int main(int argc, char** argv) {
  SessionJson();  // checks the baseline against ours before anything is timed
  return Nalo::Bench::RunWithRatioSummary(argc, argv, kComparisons,
                                          {.baseline = Nalo::Bench::BaselineColumn::Shown,
                                           .unit = Nalo::Bench::SummaryTimeUnit::Microseconds});
}
