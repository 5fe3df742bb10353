#pragma once
// Starting a process on POSIX: the plan made before the child exists, and
// the two ways to start it, posix_spawn or fork and exec. Either way the
// child runs in a new session with /dev/null as standard input, output and
// error, the caller's environment, default signal handling and no inherited
// descriptors. Private to the platform library.

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"
#include "platform/ProcessSystem.h"

namespace Nalo::detail {

// What the child needs, prepared before it starts: after fork only
// async-signal-safe calls may run.
struct LaunchPlan {
  std::string executable;
  std::string workingDirectory;
  std::vector<std::string> argumentTexts;
  std::vector<char*> argumentVector;  // into argumentTexts, ending in nullptr
};

// The plan for `request`: the program path made absolute when the child
// changes directory, and the argument vector with the program first. Fails
// with EINVAL (in kSpawnFailureContext) for an empty program path or a NUL
// in any text.
[[nodiscard]] MaybeType<Failure, LaunchPlan> PlanLaunch(const SpawnRequest& request);

// Whether posix_spawn can start a child in another directory here
// (posix_spawn_file_actions_addchdir_np came with glibc 2.29).
[[nodiscard]] bool SpawnCanChangeDirectory() noexcept;

// Start `plan`'s program: the child's pid and 0, or 0 and the error code.
// StartWithPosixSpawn fails with ENOSYS for a working directory where
// SpawnCanChangeDirectory() is false; StartWithForkExec reports the errno of
// the child's failing call (chdir, exec) through a pipe.
[[nodiscard]] std::pair<pid_t, int> StartWithPosixSpawn(LaunchPlan& plan);
[[nodiscard]] std::pair<pid_t, int> StartWithForkExec(LaunchPlan& plan);

}  // namespace Nalo::detail
