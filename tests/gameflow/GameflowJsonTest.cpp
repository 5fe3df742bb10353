#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "binding/BindingConvert.h"
#include "binding/Json.h"
#include "gameflow/Api/GameflowAvailability.h"
#include "gameflow/Api/GameflowProcessInfo.h"
#include "gameflow/Api/GameflowSession.h"
#include "gameflow/Api/LoginSession.h"
#include "gameflow/Api/PatcherProductState.h"
#include "gameflow/Api/PlayerStatus.h"
#include "gameflow/Api/RegionLocale.h"
#include "gameflow/Api/ReplaysSettings.h"
#include "gameflow/LCDS/ReconnectInfoDto.h"
#include "ModelRegistry.h"
#include "support/BindingMatchers.h"

namespace Nalo::Client::Gameflow {
namespace {

using namespace Api;
using namespace LCDS;
using Testing::Registry;

// `value` as compact JSON with enumerators by name, as peers see it.
template <class T>
std::string JsonOf(const T& value) {
  const BindingResult property = ToProperty(value, Registry());
  EXPECT_THAT(property, BindingSucceeded());
  return ToJson(property.Value(), &Registry());
}

// Reads `json` into `value` the way a request body or a peer's resource is
// read; "<value>" names the root in messages.
template <class T>
BindingResult ReadJson(std::string_view json, T& value) {
  BindingResult parsed = ParseJson(json);
  if (parsed.Failed()) {
    return parsed;
  }
  return FromProperty(value, parsed.Value(), "<value>", Registry());
}

template <class T>
void ExpectRoundTrip(const T& value) {
  const std::string json = JsonOf(value);
  SCOPED_TRACE(json);
  T read;
  EXPECT_THAT(ReadJson(json, read), BindingSucceeded());
  EXPECT_TRUE(read == value);
}

// `json`, read into a T and written again, comes out unchanged.
template <class T>
void ExpectSameJsonAfterReading(std::string_view json) {
  SCOPED_TRACE(json);
  T read;
  EXPECT_THAT(ReadJson(json, read), BindingSucceeded());
  EXPECT_EQ(JsonOf(read), json);
}

BindingProperty TeamMember(std::uint64_t summonerId, std::string_view name) {
  BindingProperty member;
  member.member("summonerId").SetUnsigned(summonerId);
  member.member("summonerName").SetString(name);
  member.member("teamParticipantId").SetSigned(-3);
  return member;
}

// Every field set, and set apart from its neighbours of the same type, so
// that two fields swapped in a table can't go unnoticed.
GameflowSession PopulatedSession() {
  GameflowSession session;
  session.phase = GameflowPhase::ChampSelect;
  GameflowGameData& game = session.gameData;
  game.gameId = 18446744073709551615u;
  game.isCustomGame = true;
  game.gameName = "Custom 5v5";
  game.password = "hunter2";
  game.teamOne = {TeamMember(11, "Ashe"), TeamMember(12, "Brand")};
  game.teamTwo = {TeamMember(21, "Caitlyn")};
  game.playerChampionSelections = {TeamMember(31, "Darius")};
  game.spectatorsAllowed = true;

  Queue& queue = game.queue;
  queue = {.id = 420, .mapId = 11, .name = "Ranked Solo", .shortName = "Solo",
           .description = "5v5 ranked", .detailedDescription = "Two players at most",
           .type = "RANKED_SOLO_5x5", .gameMode = "CLASSIC", .gameMutator = "none",
           .assetMutator = "night", .category = QueueGameCategory::PvP, .gameTypeConfig = {},
           .numPlayersPerTeam = 5, .minimumParticipantListSize = 1,
           .maximumParticipantListSize = 2, .minLevel = 30, .maxLevel = 2000,
           .maxSummonerLevelForFirstWinOfTheDay = 15, .isRanked = true, .isTeamOnly = true,
           .areFreeChampionsAllowed = true, .isTeamBuilderManaged = true,
           .queueAvailability = QueueAvailability::DoesntMeetRequirements,
           .queueRewards = {.isIpEnabled = true, .isXpEnabled = true,
                            .isChampionPointsEnabled = true, .partySizeIpRewards = {-1, 0, 7}},
           .spectatorEnabled = true};
  queue.gameTypeConfig = {.id = -9000000000, .name = "Draft", .maxAllowableBans = 10,
                          .allowTrades = true, .exclusivePick = true, .duplicatePick = true,
                          .teamChampionPool = true, .crossTeamChampionPool = true,
                          .advancedLearningQuests = true, .battleBoost = true,
                          .deathMatch = true, .doNotRemove = true, .learningQuests = true,
                          .onboardCoopBeginner = true, .reroll = true,
                          .mainPickTimerDuration = 30, .postPickTimerDuration = 31,
                          .banTimerDuration = 32, .pickMode = "DraftModeSinglePickStrategy",
                          .banMode = "StandardBanStrategy"};

  session.gameClient = {.serverIp = "10.0.0.1", .serverPort = 65535,
                        .observerServerIp = "10.0.0.2", .observerServerPort = 8080,
                        .running = true, .visible = true};

  GameflowGameMap& map = session.map;
  map = {.id = 11, .name = "Summoner's Rift", .mapStringId = "SR", .gameMode = "CLASSIC",
         .gameModeName = "Classic", .gameModeShortName = "Cl", .gameMutator = "m",
         .isRGM = true, .description = "The \"main\" map", .platformId = "EUW1",
         .platformName = "Europe West", .assets = {}, .properties = {}};
  map.assets.member("game-select-icon-active").SetString("lol-game-data/sr.png");
  map.assets.member("sizes").at(1).SetFloat(0.5);
  map.properties.member("suppressRunesMasteriesPerks").SetBool(false);

  session.gameDodge = {.state = GameflowGameDodgeState::StrangerDodged,
                       .dodgeIds = {1, 18446744073709551615u},
                       .phase = GameflowPhase::ReadyCheck};
  return session;
}

ReconnectInfoDto PopulatedReconnectInfo() {
  ReconnectInfoDto info;
  info.playerCredentials = {.gameId = 77, .serverIp = "10.1.1.1", .serverPort = 5119,
                            .encryptionKey = "a2V5", .observer = true,
                            .observerServerIp = "10.1.1.2", .observerServerPort = 8088,
                            .observerEncryptionKey = "b2Jz", .summonerId = 123456789};
  info.game = {.id = 78, .mapId = -11, .gameState = "IN_PROGRESS", .queueTypeName = "NORMAL",
               .gameMode = "ARAM", .gameTypeConfigId = 1, .maxNumPlayers = 10,
               .gameType = "MATCHED_GAME", .spectatorDelay = 180,
               .teamOne = {TeamMember(1, "One")}, .teamTwo = {TeamMember(2, "Two")},
               .playerChampionSelections = {TeamMember(3, "Three")}};
  info.reconnectDelay = 4294967295u;
  return info;
}

TEST(GameflowJson, NeverSetSessionIsTheNoGameSession) {
  EXPECT_EQ(
      JsonOf(GameflowSession{}),
      R"({"gameClient":{"observerServerIp":"","observerServerPort":0,"running":false,)"
      R"("serverIp":"","serverPort":0,"visible":false},)"
      R"("gameData":{"gameId":0,"gameName":"","isCustomGame":false,"password":"",)"
      R"("playerChampionSelections":[],"queue":{"allowablePremadeSizes":[],)"
      R"("areFreeChampionsAllowed":false,"assetMutator":"","category":"None","description":"",)"
      R"(...)");
}

TEST(GameflowJson, EveryTypeSurvivesARoundTrip) {
  ExpectRoundTrip(PopulatedSession());
  ExpectRoundTrip(GameflowSession{});
  ExpectRoundTrip(PopulatedReconnectInfo());
  ExpectRoundTrip(ReconnectInfoDto{});
  ExpectRoundTrip(GameflowAvailability{.isAvailable = true,
                                       .state = GameflowAvailabilityState::Configuration});
  ExpectRoundTrip(GameflowProcessInfo{.pid = 4242, .rawArgs = {"Tavora.exe", "", "a b \"c\""}});
  ExpectRoundTrip(ReplaysSettingsResource{.data = {.highlightsFolderPath = "C:\\Highlights"}});
  ExpectRoundTrip(PatcherProductState{.isCorrupted = true, .isStopped = true, .isUpToDate = true,
                                      .isUpdateAvailable = true,
                                      .action = PatcherProductStateAction::Repairing});
  ExpectRoundTrip(LoginSession{.state = LoginSessionStates::LOGGING_OUT, .summonerId = 1,
                               .accountId = 2, .connected = true});
  ExpectRoundTrip(RegionLocale{.region = "EUW", .locale = "de_DE"});

  const LobbyStatus lobby = {
      .queueId = 450, .isCustom = true, .isPracticeTool = true, .isLeader = true,
      .isSpectator = true, .allowedPlayAgain = true, .memberSummonerIds = {1, 2},
      .invitedSummonerIds = {3}, .lobbyId = "0f6c-4d1e",
      .customSpectatorPolicy = QueueCustomGameSpectatorPolicy::FriendsAllowed};
  ExpectRoundTrip(PlayerStatus{.currentLobbyStatus = lobby,
                               .lastQueuedLobbyStatus = LobbyStatus{},
                               .canInviteOthersAtEog = true});
  ExpectRoundTrip(PlayerStatus{});
}

TEST(GameflowJson, KeysAsPeersWriteThem) {
  ExpectSameJsonAfterReading<ReplaysSettingsResource>(
      R"({"data":{"highlights-folder-path":"D:/Clips"}})");
  ExpectSameJsonAfterReading<RegionLocale>(R"({"locale":"en_US","region":"NA"})");
  ExpectSameJsonAfterReading<GameflowAvailability>(R"({"isAvailable":true,"state":"Patching"})");
  ExpectSameJsonAfterReading<GameflowProcessInfo>(R"({"pid":17,"rawArgs":["-Locale=en_US"]})");
  ExpectSameJsonAfterReading<LoginSession>(
      R"({"accountId":5,"connected":true,"state":"SUCCEEDED","summonerId":6})");
  ExpectSameJsonAfterReading<PatcherProductState>(
      R"({"action":"CheckingForUpdates","isCorrupted":false,"isStopped":true,)"
      R"("isUpToDate":false,"isUpdateAvailable":true})");
  ExpectSameJsonAfterReading<PlayerStatus>(
      R"({"canInviteOthersAtEog":false,"currentLobbyStatus":{"allowedPlayAgain":false,)"
      R"("customSpectatorPolicy":"AllAllowed","invitedSummonerIds":[],"isCustom":true,)"
      R"("isLeader":true,"isPracticeTool":false,"isSpectator":false,"lobbyId":"L1",)"
      R"("memberSummonerIds":[9,10],"queueId":0}})");
  ExpectSameJsonAfterReading<ReconnectInfoDto>(
      R"({"game":{"gameMode":"","gameState":"","gameType":"","gameTypeConfigId":0,"id":0,)"
      R"("mapId":0,"maxNumPlayers":0,"playerChampionSelections":[],"queueTypeName":"",)"
      R"("spectatorDelay":0,"teamOne":[],"teamTwo":[]},"playerCredentials":{)"
      R"("encryptionKey":"","gameId":0,"observer":false,"observerEncryptionKey":"",)"
      R"("observerServerIp":"","observerServerPort":0,"serverIp":"","serverPort":0,)"
      R"("summonerId":0},"reconnectDelay":0})");
}

TEST(GameflowJson, EnumerationsReadByNameOrRegisteredNumber) {
  struct Case {
    std::string_view json;
    std::optional<LoginSessionStates> state;  // nothing: refused with `error`
    std::string_view error;
  };
  // The server's numbers are not in registration order.
  const Case kLoginCases[] = {
      {R"({"state":"ERROR"})", LoginSessionStates::ERROR, ""},
      {R"({"state":1})", LoginSessionStates::SUCCEEDED, ""},
      {R"({"state":"3"})", LoginSessionStates::ERROR, ""},
      {R"({"state":"LOGGING_OUT"})", LoginSessionStates::LOGGING_OUT, ""},
      {R"({"state":"Succeeded"})", std::nullopt,
       "Succeeded is not a valid TavGameflowLoginSessionStates enumeration value for 'state'."},
      {R"({"state":4})", std::nullopt,
       "4 is not a valid TavGameflowLoginSessionStates enumeration value for 'state'."},
  };
  for (const Case& c : kLoginCases) {
    SCOPED_TRACE(c.json);
    LoginSession session;
    const BindingResult result = ReadJson(c.json, session);
    if (c.state) {
      EXPECT_THAT(result, BindingSucceeded());
      EXPECT_EQ(session.state, *c.state);
    } else {
      EXPECT_THAT(result, IsBindingError(c.error));
    }
  }
  EXPECT_EQ(static_cast<int>(LoginSessionStates::ERROR), 3);
  EXPECT_EQ(JsonOf(LoginSession{.state = static_cast<LoginSessionStates>(1)}),
            R"({"accountId":0,"connected":false,"state":"SUCCEEDED","summonerId":0})");

  // Dodge states are character codes: '1' is PartyDodged, the number 1 is
  // nothing.
  struct DodgeCase {
    std::string_view json;
    std::optional<GameflowGameDodgeState> state;
    std::string_view error;
  };
  const DodgeCase kDodgeCases[] = {
      {R"({"state":"PartyDodged"})", GameflowGameDodgeState::PartyDodged, ""},
      {R"({"state":49})", GameflowGameDodgeState::PartyDodged, ""},
      {R"({"state":"51"})", GameflowGameDodgeState::TournamentDodged, ""},
      {R"({"state":1})", std::nullopt,
       "1 is not a valid TavGameflowGameflowGameDodgeState enumeration value for 'state'."},
  };
  for (const DodgeCase& c : kDodgeCases) {
    SCOPED_TRACE(c.json);
    GameflowGameDodge dodge;
    const BindingResult result = ReadJson(c.json, dodge);
    if (c.state) {
      EXPECT_THAT(result, BindingSucceeded());
      EXPECT_EQ(dodge.state, *c.state);
    } else {
      EXPECT_THAT(result, IsBindingError(c.error));
    }
  }
  EXPECT_EQ(static_cast<GameflowGameDodgeState>('1'), GameflowGameDodgeState::PartyDodged);
  EXPECT_EQ(static_cast<int>(GameflowGameDodgeState::PartyDodged), 49);
  EXPECT_EQ(JsonOf(GameflowGameDodge{.state = static_cast<GameflowGameDodgeState>('2')}),
            R"({"dodgeIds":[],"phase":"None","state":"StrangerDodged"})");
}

TEST(GameflowJson, AbsentOptionalsAndMissingMembers) {
  // A player status without lobbies converts, and writes without them.
  PlayerStatus status{.currentLobbyStatus = LobbyStatus{}, .lastQueuedLobbyStatus = LobbyStatus{}};
  ASSERT_THAT(ReadJson(R"({"canInviteOthersAtEog":true})", status), BindingSucceeded());
  EXPECT_EQ(status.currentLobbyStatus, std::nullopt);
  EXPECT_EQ(status.lastQueuedLobbyStatus, std::nullopt);
  EXPECT_TRUE(status.canInviteOthersAtEog);
  EXPECT_EQ(JsonOf(status), R"({"canInviteOthersAtEog":true})");

  // null is absent; an empty lobby id is left out like an absent one.
  LobbyStatus lobby{.lobbyId = "kept?"};
  ASSERT_THAT(ReadJson(R"({"lobbyId":null,"queueId":7})", lobby), BindingSucceeded());
  EXPECT_EQ(lobby.lobbyId, std::nullopt);
  EXPECT_EQ(lobby.queueId, 7);
  lobby.lobbyId = "";
  EXPECT_THAT(JsonOf(lobby), ::testing::Not(::testing::HasSubstr("lobbyId")));

  // Members a peer leaves out keep their defaults, the queue id included.
  GameflowSession session;
  ASSERT_THAT(ReadJson(R"({"phase":"Lobby","gameData":{"gameId":5}})", session),
              BindingSucceeded());
  EXPECT_EQ(session.phase, GameflowPhase::Lobby);
  EXPECT_EQ(session.gameData.gameId, 5u);
  EXPECT_EQ(session.gameData.queue.id, kNoQueueId);
  EXPECT_EQ(session.gameDodge.state, GameflowGameDodgeState::Invalid);

  // A value that doesn't fit names the innermost field.
  GameflowGameClient client;
  EXPECT_THAT(ReadJson(R"({"serverPort":65536})", client),
              IsBindingError("Value 65536 for 'serverPort' of type uint16 is out of range"));
}

}  // namespace
}  // namespace Nalo::Client::Gameflow
