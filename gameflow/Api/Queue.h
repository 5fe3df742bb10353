#pragma once
// The gameflow's copy of a matchmaking queue, as the game-queues plugin
// publishes it, with the enumerations and records a queue is made of.
//
// The gameflow keeps the queue of the current game in
// GameflowGameData::queue; a queue id of kNoQueueId means that no queue is
// set (a custom game, or no game yet).

#include <cstdint>
#include <string>
#include <vector>

namespace Nalo::Client::Gameflow::Api {

inline constexpr std::int32_t kNoQueueId = -1;

enum class QueueGameCategory : std::int32_t {
  None = 0,
  Custom = 1,
  PvP = 2,
  VersusAi = 3,
};

enum class QueueAvailability : std::int32_t {
  Available = 0,
  PlatformDisabled = 1,
  DoesntMeetRequirements = 2,
};

// Who may watch a custom game; part of a lobby's settings (LobbyStatus).
enum class QueueCustomGameSpectatorPolicy : std::int32_t {
  NotAllowed = 0,
  LobbyAllowed = 1,
  FriendsAllowed = 2,
  AllAllowed = 3,
};

struct QueueReward {
  bool isIpEnabled = false;
  bool isXpEnabled = false;
  bool isChampionPointsEnabled = false;
  std::vector<std::int32_t> partySizeIpRewards;

  bool operator==(const QueueReward&) const = default;
};

// The champion-select rules of a queue. Durations are in seconds, as the
// game-queues plugin hands them on.
struct QueueGameTypeConfig {
  std::int64_t id = 0;
  std::string name;
  std::int32_t maxAllowableBans = 0;
  bool allowTrades = false;
  bool exclusivePick = false;
  bool duplicatePick = false;
  bool teamChampionPool = false;
  bool crossTeamChampionPool = false;
  bool advancedLearningQuests = false;
  bool battleBoost = false;
  bool deathMatch = false;
  bool doNotRemove = false;
  bool learningQuests = false;
  bool onboardCoopBeginner = false;
  bool reroll = false;
  std::int32_t mainPickTimerDuration = 0;
  std::int32_t postPickTimerDuration = 0;
  std::int32_t banTimerDuration = 0;
  std::string pickMode;
  std::string banMode;

  bool operator==(const QueueGameTypeConfig&) const = default;
};

struct Queue {
  std::int32_t id = kNoQueueId;
  std::int32_t mapId = 0;
  std::string name;
  std::string shortName;
  std::string description;
  std::string detailedDescription;
  std::string type;
  std::string gameMode;
  std::string gameMutator;
  std::string assetMutator;
  QueueGameCategory category = QueueGameCategory::None;
  QueueGameTypeConfig gameTypeConfig;
  std::int32_t numPlayersPerTeam = 0;
  std::int32_t minimumParticipantListSize = 0;
  std::int32_t maximumParticipantListSize = 0;
  std::uint32_t minLevel = 0;
  std::uint32_t maxLevel = 0;
  std::uint32_t maxSummonerLevelForFirstWinOfTheDay = 0;
  bool isRanked = false;
  bool isTeamOnly = false;
  bool areFreeChampionsAllowed = false;
  bool isTeamBuilderManaged = false;
  QueueAvailability queueAvailability = QueueAvailability::Available;
  QueueReward queueRewards;
  bool spectatorEnabled = false;

  bool operator==(const Queue&) const = default;
};

}  // namespace Nalo::Client::Gameflow::Api
