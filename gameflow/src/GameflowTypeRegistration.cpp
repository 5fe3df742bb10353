#include "gameflow/GameflowTypeRegistration.h"

#include <cctype>
#include <initializer_list>

#include "binding/BindingRegistration.h"
#include "binding/BindingTypeRegistry.h"
#include "gameflow/Api/GameflowAvailability.h"
#include "gameflow/Api/GameflowPhase.h"
#include "gameflow/Api/GameflowProcessInfo.h"
#include "gameflow/Api/GameflowSession.h"
#include "gameflow/Api/GameflowWatchPhase.h"
#include "gameflow/Api/LoginSession.h"
#include "gameflow/Api/PatcherProductState.h"
#include "gameflow/Api/PlayerStatus.h"
#include "gameflow/Api/Queue.h"
#include "gameflow/Api/RegionLocale.h"
#include "gameflow/Api/ReplaysSettings.h"
#include "gameflow/LCDS/GameDto.h"
#include "gameflow/LCDS/PlayerCredentialsDto.h"
#include "gameflow/LCDS/ReconnectInfoDto.h"
#include "plugin/LcdsClassNames.h"

namespace Nalo::Client::Gameflow {

namespace {

// The LCDS records carry the server's names, not the plugin's prefix.
constexpr std::string_view kLcdsNameSpace = "";

constexpr bool IsNameSeparator(char c) {
  return c == '!' || c == '+' || c == '-' || c == '.' || c == '/' || c == '_';
}

// Records the server's class name, then registers the record itself.
template <class T>
void RegisterLcdsRecord(BindingTypeRegistry& registry, LcdsClassNames& classNames,
                        std::string_view name, std::string_view className,
                        std::initializer_list<BindingField<T>> fields) {
  classNames.Register<T>(name, className);
  RegisterStruct<T>(registry, kLcdsNameSpace, name, "", fields);
}

void RegisterLcdsTypes(BindingTypeRegistry& registry, LcdsClassNames& classNames) {
  using namespace LCDS;

  RegisterLcdsRecord<PlayerCredentialsDto>(
      registry, classNames, "GameflowLcdsPlayerCredentialsDto", kPlayerCredentialsDtoClassName,
      {
          Field("gameId", &PlayerCredentialsDto::gameId),
          Field("serverIp", &PlayerCredentialsDto::serverIp),
          Field("serverPort", &PlayerCredentialsDto::serverPort),
          Field("encryptionKey", &PlayerCredentialsDto::encryptionKey),
          Field("observer", &PlayerCredentialsDto::observer),
          Field("observerServerIp", &PlayerCredentialsDto::observerServerIp),
          Field("observerServerPort", &PlayerCredentialsDto::observerServerPort),
          Field("observerEncryptionKey", &PlayerCredentialsDto::observerEncryptionKey),
          Field("summonerId", &PlayerCredentialsDto::summonerId),
      });

  RegisterLcdsRecord<GameDto>(
      registry, classNames, "GameflowLcdsGameDTO", kGameDtoClassName,
      {
          Field("id", &GameDto::id),
          Field("mapId", &GameDto::mapId),
          Field("gameState", &GameDto::gameState),
          Field("queueTypeName", &GameDto::queueTypeName),
          Field("gameMode", &GameDto::gameMode),
          Field("gameTypeConfigId", &GameDto::gameTypeConfigId),
          Field("maxNumPlayers", &GameDto::maxNumPlayers),
          Field("gameType", &GameDto::gameType),
          Field("spectatorDelay", &GameDto::spectatorDelay),
          Field("teamOne", &GameDto::teamOne),
          Field("teamTwo", &GameDto::teamTwo),
          Field("playerChampionSelections", &GameDto::playerChampionSelections),
      });

  RegisterLcdsRecord<ReconnectInfoDto>(
      registry, classNames, "GameflowLcdsReconnectInfoDto", kReconnectInfoDtoClassName,
      {
          Field("playerCredentials", &ReconnectInfoDto::playerCredentials),
          Field("game", &ReconnectInfoDto::game),
          Field("reconnectDelay", &ReconnectInfoDto::reconnectDelay),
      });
}

void RegisterQueueTypes(BindingTypeRegistry& registry, std::string_view prefix) {
  using namespace Api;

  RegisterEnum<QueueGameCategory>(registry, prefix, "QueueGameCategory", "",
                                  {
                                      {"None", QueueGameCategory::None},
                                      {"Custom", QueueGameCategory::Custom},
                                      {"PvP", QueueGameCategory::PvP},
                                      {"VersusAi", QueueGameCategory::VersusAi},
                                  });

  RegisterEnum<QueueAvailability>(
      registry, prefix, "QueueAvailability", "",
      {
          {"Available", QueueAvailability::Available},
          {"PlatformDisabled", QueueAvailability::PlatformDisabled},
          {"DoesntMeetRequirements", QueueAvailability::DoesntMeetRequirements},
      });

  RegisterStruct<QueueReward>(
      registry, prefix, "QueueReward", "",
      {
          Field("isIpEnabled", &QueueReward::isIpEnabled),
          Field("isXpEnabled", &QueueReward::isXpEnabled),
          Field("isChampionPointsEnabled", &QueueReward::isChampionPointsEnabled),
          Field("partySizeIpRewards", &QueueReward::partySizeIpRewards),
      });

  using Config = QueueGameTypeConfig;
  RegisterStruct<Config>(registry, prefix, "QueueGameTypeConfig", "",
                         {
                             Field("id", &Config::id),
                             Field("name", &Config::name),
                             Field("maxAllowableBans", &Config::maxAllowableBans),
                             Field("allowTrades", &Config::allowTrades),
                             Field("exclusivePick", &Config::exclusivePick),
                             Field("duplicatePick", &Config::duplicatePick),
                             Field("teamChampionPool", &Config::teamChampionPool),
                             Field("crossTeamChampionPool", &Config::crossTeamChampionPool),
                             Field("advancedLearningQuests", &Config::advancedLearningQuests),
                             Field("battleBoost", &Config::battleBoost),
                             Field("deathMatch", &Config::deathMatch),
                             Field("doNotRemove", &Config::doNotRemove),
                             Field("learningQuests", &Config::learningQuests),
                             Field("onboardCoopBeginner", &Config::onboardCoopBeginner),
                             Field("reroll", &Config::reroll),
                             Field("mainPickTimerDuration", &Config::mainPickTimerDuration),
                             Field("postPickTimerDuration", &Config::postPickTimerDuration),
                             Field("banTimerDuration", &Config::banTimerDuration),
                             Field("pickMode", &Config::pickMode),
                             Field("banMode", &Config::banMode),
                         });

  RegisterStruct<Queue>(
      registry, prefix, "Queue", "",
      {
          Field("id", &Queue::id),
          Field("mapId", &Queue::mapId),
          Field("name", &Queue::name),
          Field("shortName", &Queue::shortName),
          Field("description", &Queue::description),
          Field("detailedDescription", &Queue::detailedDescription),
          Field("type", &Queue::type),
          Field("gameMode", &Queue::gameMode),
          Field("gameMutator", &Queue::gameMutator),
          Field("assetMutator", &Queue::assetMutator),
          Field("category", &Queue::category),
          Field("gameTypeConfig", &Queue::gameTypeConfig),
          Field("numPlayersPerTeam", &Queue::numPlayersPerTeam),
          Field("minimumParticipantListSize", &Queue::minimumParticipantListSize),
          Field("maximumParticipantListSize", &Queue::maximumParticipantListSize),
          Field("minLevel", &Queue::minLevel),
          Field("maxLevel", &Queue::maxLevel),
          Field("maxSummonerLevelForFirstWinOfTheDay", &Queue::maxSummonerLevelForFirstWinOfTheDay),
          Field("isRanked", &Queue::isRanked),
          Field("isTeamOnly", &Queue::isTeamOnly),
          Field("areFreeChampionsAllowed", &Queue::areFreeChampionsAllowed),
          Field("isTeamBuilderManaged", &Queue::isTeamBuilderManaged),
          Field("queueAvailability", &Queue::queueAvailability),
          Field("queueRewards", &Queue::queueRewards),
          Field("spectatorEnabled", &Queue::spectatorEnabled),
      });
}

void RegisterAvailabilityTypes(BindingTypeRegistry& registry, std::string_view prefix) {
  using namespace Api;

  RegisterEnum<GameflowAvailabilityState>(
      registry, prefix, "GameflowAvailabilityState", "",
      {
          {"Available", GameflowAvailabilityState::Available},
          {"Initializing", GameflowAvailabilityState::Initializing},
          {"Patching", GameflowAvailabilityState::Patching},
          {"PlayerBanned", GameflowAvailabilityState::PlayerBanned},
          {"InGameFlow", GameflowAvailabilityState::InGameFlow},
          {"Configuration", GameflowAvailabilityState::Configuration},
      });

  RegisterStruct<GameflowAvailability>(registry, prefix, "GameflowAvailability", "",
                                       {
                                           Field("isAvailable", &GameflowAvailability::isAvailable),
                                           Field("state", &GameflowAvailability::state),
                                       });
}

void RegisterSessionTypes(BindingTypeRegistry& registry, std::string_view prefix) {
  using namespace Api;

  RegisterEnum<GameflowPhase>(registry, prefix, "GameflowPhase", "",
                              {
                                  {"None", GameflowPhase::None},
                                  {"Lobby", GameflowPhase::Lobby},
                                  {"Matchmaking", GameflowPhase::Matchmaking},
                                  {"CheckedIntoTournament", GameflowPhase::CheckedIntoTournament},
                                  {"ReadyCheck", GameflowPhase::ReadyCheck},
                                  {"ChampSelect", GameflowPhase::ChampSelect},
                                  {"GameStart", GameflowPhase::GameStart},
                                  {"FailedToLaunch", GameflowPhase::FailedToLaunch},
                                  {"InProgress", GameflowPhase::InProgress},
                                  {"Reconnect", GameflowPhase::Reconnect},
                                  {"WaitingForStats", GameflowPhase::WaitingForStats},
                                  {"PreEndOfGame", GameflowPhase::PreEndOfGame},
                                  {"EndOfGame", GameflowPhase::EndOfGame},
                                  {"TerminatedInError", GameflowPhase::TerminatedInError},
                              });

  RegisterStruct<GameflowGameClient>(
      registry, prefix, "GameflowGameClient", "",
      {
          Field("serverIp", &GameflowGameClient::serverIp),
          Field("serverPort", &GameflowGameClient::serverPort),
          Field("observerServerIp", &GameflowGameClient::observerServerIp),
          Field("observerServerPort", &GameflowGameClient::observerServerPort),
          Field("running", &GameflowGameClient::running),
          Field("visible", &GameflowGameClient::visible),
      });

  RegisterStruct<GameflowGameMap>(
      registry, prefix, "GameflowGameMap", "",
      {
          Field("id", &GameflowGameMap::id),
          Field("name", &GameflowGameMap::name),
          Field("mapStringId", &GameflowGameMap::mapStringId),
          Field("gameMode", &GameflowGameMap::gameMode),
          Field("gameModeName", &GameflowGameMap::gameModeName),
          Field("gameModeShortName", &GameflowGameMap::gameModeShortName),
          Field("gameMutator", &GameflowGameMap::gameMutator),
          Field("isRGM", &GameflowGameMap::isRGM),
          Field("description", &GameflowGameMap::description),
          Field("platformId", &GameflowGameMap::platformId),
          Field("platformName", &GameflowGameMap::platformName),
          Field("assets", &GameflowGameMap::assets),
          Field("properties", &GameflowGameMap::properties),
      });

  RegisterStruct<GameflowGameData>(
      registry, prefix, "GameflowGameData", "",
      {
          Field("gameId", &GameflowGameData::gameId),
          Field("queue", &GameflowGameData::queue),
          Field("isCustomGame", &GameflowGameData::isCustomGame),
          Field("gameName", &GameflowGameData::gameName),
          Field("password", &GameflowGameData::password),
          Field("teamOne", &GameflowGameData::teamOne),
          Field("teamTwo", &GameflowGameData::teamTwo),
          Field("playerChampionSelections", &GameflowGameData::playerChampionSelections),
          Field("spectatorsAllowed", &GameflowGameData::spectatorsAllowed),
      });

  RegisterEnum<GameflowGameDodgeState>(
      registry, prefix, "GameflowGameDodgeState", "",
      {
          {"Invalid", GameflowGameDodgeState::Invalid},
          {"PartyDodged", GameflowGameDodgeState::PartyDodged},
          {"StrangerDodged", GameflowGameDodgeState::StrangerDodged},
          {"TournamentDodged", GameflowGameDodgeState::TournamentDodged},
      });

  RegisterStruct<GameflowGameDodge>(registry, prefix, "GameflowGameDodge", "",
                                    {
                                        Field("state", &GameflowGameDodge::state),
                                        Field("dodgeIds", &GameflowGameDodge::dodgeIds),
                                        Field("phase", &GameflowGameDodge::phase),
                                    });

  RegisterStruct<GameflowSession>(registry, prefix, "GameflowSession", "",
                                  {
                                      Field("phase", &GameflowSession::phase),
                                      Field("gameData", &GameflowSession::gameData),
                                      Field("gameClient", &GameflowSession::gameClient),
                                      Field("map", &GameflowSession::map),
                                      Field("gameDodge", &GameflowSession::gameDodge),
                                  });
}

void RegisterProcessAndReplayTypes(BindingTypeRegistry& registry, std::string_view prefix) {
  using namespace Api;

  RegisterStruct<GameflowProcessInfo>(registry, prefix, "GameflowProcessInfo", "",
                                      {
                                          Field("pid", &GameflowProcessInfo::pid),
                                          Field("rawArgs", &GameflowProcessInfo::rawArgs),
                                      });

  RegisterEnum<GameflowWatchPhase>(
      registry, prefix, "GameflowWatchPhase", "",
      {
          {"None", GameflowWatchPhase::None},
          {"WatchStarted", GameflowWatchPhase::WatchStarted},
          {"WatchInProgress", GameflowWatchPhase::WatchInProgress},
          {"WatchFailedToLaunch", GameflowWatchPhase::WatchFailedToLaunch},
      });

  RegisterStruct<ReplaysSettingsData>(
      registry, prefix, "ReplaysSettingsData", "",
      {
          Field("highlights-folder-path", &ReplaysSettingsData::highlightsFolderPath),
      });

  RegisterStruct<ReplaysSettingsResource>(registry, prefix, "ReplaysSettingsResource", "",
                                          {
                                              Field("data", &ReplaysSettingsResource::data),
                                          });
}

void RegisterStatusTypes(BindingTypeRegistry& registry, std::string_view prefix) {
  using namespace Api;

  RegisterEnum<PatcherProductStateAction>(
      registry, prefix, "PatcherProductStateAction", "",
      {
          {"Idle", PatcherProductStateAction::Idle},
          {"CheckingForUpdates", PatcherProductStateAction::CheckingForUpdates},
          {"Patching", PatcherProductStateAction::Patching},
          {"Repairing", PatcherProductStateAction::Repairing},
      });

  RegisterStruct<PatcherProductState>(
      registry, prefix, "PatcherProductState", "",
      {
          Field("isCorrupted", &PatcherProductState::isCorrupted),
          Field("isStopped", &PatcherProductState::isStopped),
          Field("isUpToDate", &PatcherProductState::isUpToDate),
          Field("isUpdateAvailable", &PatcherProductState::isUpdateAvailable),
          Field("action", &PatcherProductState::action),
      });

  RegisterEnum<QueueCustomGameSpectatorPolicy>(
      registry, prefix, "QueueCustomGameSpectatorPolicy", "",
      {
          {"NotAllowed", QueueCustomGameSpectatorPolicy::NotAllowed},
          {"LobbyAllowed", QueueCustomGameSpectatorPolicy::LobbyAllowed},
          {"FriendsAllowed", QueueCustomGameSpectatorPolicy::FriendsAllowed},
          {"AllAllowed", QueueCustomGameSpectatorPolicy::AllAllowed},
      });

  RegisterStruct<LobbyStatus>(
      registry, prefix, "LobbyStatus", "",
      {
          Field("queueId", &LobbyStatus::queueId),
          Field("isCustom", &LobbyStatus::isCustom),
          Field("isPracticeTool", &LobbyStatus::isPracticeTool),
          Field("isLeader", &LobbyStatus::isLeader),
          Field("isSpectator", &LobbyStatus::isSpectator),
          Field("allowedPlayAgain", &LobbyStatus::allowedPlayAgain),
          Field("memberSummonerIds", &LobbyStatus::memberSummonerIds),
          Field("invitedSummonerIds", &LobbyStatus::invitedSummonerIds),
          Field("lobbyId", &LobbyStatus::lobbyId, kOmitWhenDefault),
          Field("customSpectatorPolicy", &LobbyStatus::customSpectatorPolicy),
      });

  RegisterStruct<PlayerStatus>(
      registry, prefix, "PlayerStatus", "",
      {
          Field("currentLobbyStatus", &PlayerStatus::currentLobbyStatus, kOmitWhenDefault),
          Field("lastQueuedLobbyStatus", &PlayerStatus::lastQueuedLobbyStatus, kOmitWhenDefault),
          Field("canInviteOthersAtEog", &PlayerStatus::canInviteOthersAtEog),
      });

  // The server's order and numbers: ERROR (3) comes before SUCCEEDED (1).
  RegisterEnum<LoginSessionStates>(registry, prefix, "LoginSessionStates", "",
                                   {
                                       {"IN_PROGRESS", LoginSessionStates::IN_PROGRESS},
                                       {"ERROR", LoginSessionStates::ERROR},
                                       {"SUCCEEDED", LoginSessionStates::SUCCEEDED},
                                       {"LOGGING_OUT", LoginSessionStates::LOGGING_OUT},
                                   });

  RegisterStruct<LoginSession>(registry, prefix, "LoginSession", "",
                               {
                                   Field("state", &LoginSession::state),
                                   Field("summonerId", &LoginSession::summonerId),
                                   Field("accountId", &LoginSession::accountId),
                                   Field("connected", &LoginSession::connected),
                               });
}

}  // namespace

std::string TypePrefixFor(std::string_view shortName) {
  std::string prefix;
  prefix.reserve(shortName.size());
  bool capitalizeNext = true;
  for (const char c : shortName) {
    if (IsNameSeparator(c)) {
      capitalizeNext = true;
      continue;
    }
    prefix += capitalizeNext ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
    capitalizeNext = false;
  }
  return prefix;
}

void RegisterGameflowTypes(BindingTypeRegistry& registry, LcdsClassNames& classNames) {
  const std::string prefix = TypePrefixFor(kPluginShortName);

  RegisterStruct<Api::RegionLocale>(registry, prefix, "RegionLocale", "",
                                    {
                                        Field("region", &Api::RegionLocale::region),
                                        Field("locale", &Api::RegionLocale::locale),
                                    });
  RegisterLcdsTypes(registry, classNames);
  RegisterQueueTypes(registry, prefix);
  RegisterAvailabilityTypes(registry, prefix);
  RegisterSessionTypes(registry, prefix);
  RegisterProcessAndReplayTypes(registry, prefix);
  RegisterStatusTypes(registry, prefix);
}

}  // namespace Nalo::Client::Gameflow
