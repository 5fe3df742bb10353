#pragma once
// The POSIX ProcessSystem, with the choices a test or the stand-in host may
// want to make. POSIX only; other code takes CreatePlatformProcessSystem().
//
// Spawning uses posix_spawn in a new session with /dev/null as standard input,
// output and error, the caller's environment, default signal handling and no
// inherited descriptors. Where posix_spawn cannot change the directory
// (posix_spawn_file_actions_addchdir_np is missing) it forks and runs only
// async-signal-safe calls in the child before exec.
//
// Waiting uses a pid descriptor (pidfd_open and poll) where the kernel has
// one, so a wait can neither miss the end nor watch a later process that
// reuses the pid. Elsewhere it looks every few milliseconds until the
// timeout. A started process is reaped by the first wait that sees it end
// (through its handle or by pid), and each Spawn reaps every earlier child
// that has ended meanwhile; a child of the calling process that a wait by pid
// sees end is reaped too, so ended children never stay zombies for long.

#include <memory>
#include <optional>

#include "platform/ProcessSystem.h"
#include "platform/HeadlessWindows.h"

namespace Nalo {

struct PosixProcessSystemOptions {
  enum class SpawnMethod {
    Automatic,   // posix_spawn where it can change the directory, else ForkExec
    PosixSpawn,  // always posix_spawn (fails with ENOSYS for a working directory
                 // where it cannot change the directory)
    ForkExec,    // fork, then chdir and exec in the child
  };
  enum class WaitMethod {
    Automatic,      // pid descriptors where the kernel has them, else Polling
    PidDescriptor,  // pid descriptors (ENOSYS: falls back to Polling)
    Polling,        // look every few milliseconds
  };

  SpawnMethod spawnMethod = SpawnMethod::Automatic;
  WaitMethod waitMethod = WaitMethod::Automatic;
  // The window system that WindowOfProcess reads; without one no process has
  // a window.
  std::optional<HeadlessWindows> windows{};
};

[[nodiscard]] std::unique_ptr<ProcessSystem> CreatePosixProcessSystem(
    PosixProcessSystemOptions options);

}  // namespace Nalo
