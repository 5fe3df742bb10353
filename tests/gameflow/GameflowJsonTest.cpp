#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "ModelRegistry.h"
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

// `json`, read into a T and written again, comes out unchanged, and reads
// back into an equal T. With every member set apart from its default this
// checks each key both ways.
template <class T>
void ExpectRoundTrip(std::string_view json) {
  SCOPED_TRACE(json);
  T read;
  ASSERT_THAT(ReadJson(json, read), BindingSucceeded());
  const std::string written = JsonOf(read);
  EXPECT_EQ(written, json);
  T readAgain;
  EXPECT_THAT(ReadJson(written, readAgain), BindingSucceeded());
  EXPECT_TRUE(readAgain == read);
}

TEST(GameflowJson, NeverSetSessionIsTheNoGameSession) {
  // Every key is written, defaults included; the map's free-form parts are
  // null until the maps plugin fills them.
  EXPECT_EQ(
      JsonOf(GameflowSession{}),
      R"({"gameClient":{"observerServerIp":"","observerServerPort":0,"running":false,)"
      R"("serverIp":"","serverPort":0,"visible":false},)"
      R"("gameData":{"gameId":0,"gameName":"","isCustomGame":false,"password":"",)"
      R"("playerChampionSelections":[],)"
      R"("queue":{"areFreeChampionsAllowed":false,"assetMutator":"","category":"None",)"
      R"("description":"","detailedDescription":"","gameMode":"","gameMutator":"",)"
      R"("gameTypeConfig":{"advancedLearningQuests":false,"allowTrades":false,"banMode":"",)"
      R"("banTimerDuration":0,"battleBoost":false,"crossTeamChampionPool":false,)"
      R"("deathMatch":false,"doNotRemove":false,"duplicatePick":false,"exclusivePick":false,)"
      R"("id":0,"learningQuests":false,"mainPickTimerDuration":0,"maxAllowableBans":0,)"
      R"("name":"","onboardCoopBeginner":false,"pickMode":"","postPickTimerDuration":0,)"
      R"("reroll":false,"teamChampionPool":false},)"
      R"("id":-1,"isRanked":false,"isTeamBuilderManaged":false,"isTeamOnly":false,"mapId":0,)"
      R"("maxLevel":0,"maxSummonerLevelForFirstWinOfTheDay":0,"maximumParticipantListSize":0,)"
      R"("minLevel":0,"minimumParticipantListSize":0,"name":"","numPlayersPerTeam":0,)"
      R"("queueAvailability":"Available","queueRewards":{"isChampionPointsEnabled":false,)"
      R"("isIpEnabled":false,"isXpEnabled":false,"partySizeIpRewards":[]},"shortName":"",)"
      R"("spectatorEnabled":false,"type":""},)"
      R"("spectatorsAllowed":false,"teamOne":[],"teamTwo":[]},)"
      R"("gameDodge":{"dodgeIds":[],"phase":"None","state":"Invalid"},)"
      R"("map":{"assets":null,"description":"","gameMode":"","gameModeName":"",)"
      R"("gameModeShortName":"","gameMutator":"","id":0,"isRGM":false,"mapStringId":"",)"
      R"("name":"","platformId":"","platformName":"","properties":null},)"
      R"("phase":"None"})");
}

TEST(GameflowJson, EveryTypeRoundTrips) {
  // Members in the order ToJson writes them: ascending byte order.
  ExpectRoundTrip<GameflowSession>(
      R"({"gameClient":{"observerServerIp":"10.0.0.2","observerServerPort":8080,)"
      R"("running":true,"serverIp":"10.0.0.1","serverPort":65535,"visible":true},)"
      R"("gameData":{"gameId":18446744073709551615,"gameName":"Custom 5v5",)"
      R"("isCustomGame":true,"password":"hunter2",)"
      R"("playerChampionSelections":[{"championId":31,"summonerId":3}],)"
      R"("queue":{"areFreeChampionsAllowed":true,"assetMutator":"night","category":"PvP",)"
      R"("description":"5v5 ranked","detailedDescription":"Two players at most",)"
      R"("gameMode":"CLASSIC","gameMutator":"none",)"
      R"("gameTypeConfig":{"advancedLearningQuests":true,"allowTrades":true,)"
      R"("banMode":"StandardBanStrategy","banTimerDuration":32,"battleBoost":true,)"
      R"("crossTeamChampionPool":true,"deathMatch":true,"doNotRemove":true,)"
      R"("duplicatePick":true,"exclusivePick":true,"id":-9000000000,"learningQuests":true,)"
      R"("mainPickTimerDuration":30,"maxAllowableBans":10,"name":"Draft",)"
      R"("onboardCoopBeginner":true,"pickMode":"SimulPick","postPickTimerDuration":31,)"
      R"("reroll":true,"teamChampionPool":true},"id":420,"isRanked":true,)"
      R"("isTeamBuilderManaged":true,"isTeamOnly":true,"mapId":11,"maxLevel":2000,)"
      R"("maxSummonerLevelForFirstWinOfTheDay":15,"maximumParticipantListSize":2,)"
      R"("minLevel":30,"minimumParticipantListSize":1,"name":"Ranked Solo",)"
      R"("numPlayersPerTeam":5,"queueAvailability":"DoesntMeetRequirements",)"
      R"("queueRewards":{"isChampionPointsEnabled":true,"isIpEnabled":true,)"
      R"("isXpEnabled":true,"partySizeIpRewards":[-1,0,7]},"shortName":"Solo",)"
      R"("spectatorEnabled":true,"type":"RANKED_DUO_QUEUE"},"spectatorsAllowed":true,)"
      R"("teamOne":[{"summonerId":11,"summonerName":"Arin","teamParticipantId":-3},)"
      R"({"summonerId":12,"summonerName":"Bex"}],"teamTwo":[{"ratio":0.5,)"
      R"("summonerName":"Corra"}]},"gameDodge":{"dodgeIds":[1,18446744073709551615],)"
      R"("phase":"ReadyCheck","state":"StrangerDodged"},)"
      R"("map":{"assets":{"game-select-icon-active":"vc.png","sizes":[null,0.5]},)"
      R"("description":"The \"main\" map","gameMode":"BRAWL","gameModeName":"Classic",)"
      R"("gameModeShortName":"Cl","gameMutator":"m","id":12,"isRGM":true,"mapStringId":"VC",)"
      R"("name":"Verdant Crossing","platformId":"ST1","platformName":"Stand-in West",)"
      R"("properties":{"suppressRunes":false}},"phase":"ChampSelect"})");
  ExpectRoundTrip<ReconnectInfoDto>(
      R"({"game":{"gameMode":"BRAWL","gameState":"IN_PROGRESS","gameType":"MATCHED_GAME",)"
      R"("gameTypeConfigId":1,"id":78,"mapId":-11,"maxNumPlayers":10,)"
      R"("playerChampionSelections":[{"championId":3}],"queueTypeName":"NORMAL",)"
      R"("spectatorDelay":180,"teamOne":[{"summonerId":1}],"teamTwo":[{"summonerId":2}]},)"
      R"("playerCredentials":{"encryptionKey":"a2V5","gameId":77,"observer":true,)"
      R"("observerEncryptionKey":"b2Jz","observerServerIp":"10.1.1.2",)"
      R"("observerServerPort":8088,"serverIp":"10.1.1.1","serverPort":5119,)"
      R"("summonerId":123456789},"reconnectDelay":4294967295})");
  ExpectRoundTrip<ReplaysSettingsResource>(R"({"data":{"highlights-folder-path":"D:/Clips"}})");
  ExpectRoundTrip<RegionLocale>(R"({"locale":"en_US","region":"NA"})");
  ExpectRoundTrip<GameflowAvailability>(R"({"isAvailable":true,"state":"Configuration"})");
  ExpectRoundTrip<GameflowProcessInfo>(R"({"pid":17,"rawArgs":["Tavora.exe","","a \"b\""]})");
  ExpectRoundTrip<LoginSession>(
      R"({"accountId":5,"connected":true,"state":"LOGGING_OUT","summonerId":6})");
  ExpectRoundTrip<PatcherProductState>(
      R"({"action":"Repairing","isCorrupted":true,"isStopped":true,"isUpToDate":true,)"
      R"("isUpdateAvailable":true})");
  ExpectRoundTrip<PlayerStatus>(
      R"({"canInviteOthersAtEog":true,"currentLobbyStatus":{"allowedPlayAgain":true,)"
      R"("customSpectatorPolicy":"FriendsAllowed","invitedSummonerIds":[3],"isCustom":true,)"
      R"("isLeader":true,"isPracticeTool":true,"isSpectator":true,"lobbyId":"0f6c-4d1e",)"
      R"("memberSummonerIds":[1,2],"queueId":450},"lastQueuedLobbyStatus":{)"
      R"("allowedPlayAgain":false,"customSpectatorPolicy":"NotAllowed","invitedSummonerIds":[],)"
      R"("isCustom":false,"isLeader":false,"isPracticeTool":false,"isSpectator":false,)"
      R"("memberSummonerIds":[],"queueId":0}})");
}

// A `state` member as text, and the number it reads as or the error.
struct StateCase {
  std::string_view json;
  std::int32_t state;
  std::string_view error;  // empty: read
};

template <class T>
void ExpectStates(std::initializer_list<StateCase> cases) {
  for (const StateCase& c : cases) {
    SCOPED_TRACE(c.json);
    T value;
    const BindingResult result = ReadJson(c.json, value);
    if (c.error.empty()) {
      EXPECT_THAT(result, BindingSucceeded());
      EXPECT_EQ(static_cast<std::int32_t>(value.state), c.state);
    } else {
      EXPECT_THAT(result, IsBindingError(c.error));
    }
  }
}

TEST(GameflowJson, EnumerationsReadByNameOrRegisteredNumber) {
  // The server's numbers, not the registration order.
  ExpectStates<LoginSession>({
      {R"({"state":"ERROR"})", 3, ""},
      {R"({"state":1})", 1, ""},
      {R"({"state":"2"})", 2, ""},
      {R"({"state":"Succeeded"})", 0,
       "Succeeded is not a valid TavGameflowLoginSessionStates enumeration value for 'state'."},
      {R"({"state":4})", 0,
       "4 is not a valid TavGameflowLoginSessionStates enumeration value for 'state'."},
  });
  LoginSession login;
  login.state = static_cast<LoginSessionStates>(1);
  EXPECT_EQ(JsonOf(login),
            R"({"accountId":0,"connected":false,"state":"SUCCEEDED","summonerId":0})");

  // Dodge states are character codes: '1' is PartyDodged, the number 1 is
  // nothing.
  ExpectStates<GameflowGameDodge>({
      {R"({"state":"PartyDodged"})", '1', ""},
      {R"({"state":49})", '1', ""},
      {R"({"state":"51"})", '3', ""},
      {R"({"state":1})", 0,
       "1 is not a valid TavGameflowGameflowGameDodgeState enumeration value for 'state'."},
  });
}

TEST(GameflowJson, AbsentOptionalsAndMissingMembers) {
  // A player status without lobbies converts, and writes without them.
  PlayerStatus status;
  ASSERT_THAT(ReadJson(R"({"canInviteOthersAtEog":true})", status), BindingSucceeded());
  EXPECT_EQ(status.currentLobbyStatus, std::nullopt);
  EXPECT_EQ(status.lastQueuedLobbyStatus, std::nullopt);
  EXPECT_TRUE(status.canInviteOthersAtEog);
  EXPECT_EQ(JsonOf(status), R"({"canInviteOthersAtEog":true})");

  // null is absent; an empty lobby id is left out like an absent one.
  LobbyStatus lobby;
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
}

}  // namespace
}  // namespace Nalo::Client::Gameflow
