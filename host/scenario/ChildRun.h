#pragma once
// ChildRun: runs a piece of work in a forked child process, so that a
// plugin that crashes or ends the process ends only the child, and hands
// what the child writes back to the parent as it arrives.
//
//   ChildEnding ending = RunInChild(
//       {.captureOutput = true},
//       [&](int messages) { ... WriteAll(messages, "..."); ... },   // in the child
//       [&](std::string_view chunk) { output += chunk; },
//       [&](std::string_view chunk) { messages += chunk; });
//   if (!ending.started) ...; DescribeEnding(ending.status)

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
// The Windows host runs the work in its own process (ChildRunWin32.cpp): the
// status it reports is the work's exit code, as these read it.
#define WIFEXITED(status) true
#define WEXITSTATUS(status) (status)
#endif

namespace Nalo::Host::detail {

struct ChildOptions {
  // The child's standard output and error go to the output callback (else
  // they stay the parent's).
  bool captureOutput = false;
  // Nothing started beneath the child outlives it: the child becomes the
  // reaper of every orphan beneath it and runs `body` in a process of its
  // own; once that ends (however it ends), every process left beneath the
  // child is killed and reaped, and the body's ending is what is reported.
  bool endDescendants = false;
};

struct ChildEnding {
  bool started = false;  // false: no pipe or no child; nothing ran
  int status = 0;        // as waitpid reports it
};

// Forks; the child runs `body` with the write end of the message pipe and
// ends with exit code 0 when `body` returns. The parent calls `onOutput` and
// `onMessages` with each piece read from the child's pipes until both are
// closed, then waits for the child. Standard streams are flushed first.
[[nodiscard]] ChildEnding RunInChild(const ChildOptions& options,
                                     const std::function<void(int messages)>& body,
                                     const std::function<void(std::string_view)>& onOutput,
                                     const std::function<void(std::string_view)>& onMessages);

// Kills every child process of the calling process and reaps it, and any
// orphan that comes back to it meanwhile (a reaper's grandchildren), until
// it has no child left.
void EndChildren();

// The pids of the processes whose parent is `parent` now (ended ones that
// are not reaped yet included).
[[nodiscard]] std::vector<int> ChildrenOf(int parent);

// Whether the process `pid` runs: it exists and hasn't ended (a process
// that ended but isn't reaped yet doesn't run).
[[nodiscard]] bool IsRunning(int pid);

#ifdef _WIN32
// Waits up to `milliseconds` for the process `pid` to end; its exit code
// once it has, nothing while it still runs or can't be opened.
[[nodiscard]] std::optional<std::uint32_t> AwaitExitCode(int pid, std::uint32_t milliseconds);
#endif

// Writes all of `text`, retrying short writes; gives up silently when the
// reader is gone.
void WriteAll(int descriptor, std::string_view text);

// "exited with code 3", "was ended by signal 6 (Aborted)".
[[nodiscard]] std::string DescribeEnding(int status);

// `text` with each line break replaced by a space: one line of a message.
[[nodiscard]] std::string OneLine(std::string_view text);

}  // namespace Nalo::Host::detail
