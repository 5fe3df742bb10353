#include "platform/src/PosixSpawning.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

extern char** environ;  // NOLINT(readability-redundant-declaration): not declared by every libc

// posix_spawn_file_actions_addchdir_np came with glibc 2.29 and
// posix_spawn_file_actions_addclosefrom_np with glibc 2.34.
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 29))
#define NALO_SPAWN_CAN_CHANGE_DIRECTORY 1
#else
#define NALO_SPAWN_CAN_CHANGE_DIRECTORY 0
#endif
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
#define NALO_SPAWN_CAN_CLOSE_FROM 1
#else
#define NALO_SPAWN_CAN_CLOSE_FROM 0
#endif

namespace Nalo::detail {
namespace {

constexpr const char* kNullDevice = "/dev/null";
// A child that cannot be started reports the errno of the failing call
// through a pipe and ends with this code.
constexpr int kChildSetupFailedExitCode = 127;

bool HasNul(std::string_view text) {
  return text.find('\0') != std::string_view::npos;
}

// posix_spawn's attribute and file-action objects, destroyed on every path.
class SpawnSettings {
 public:
  SpawnSettings() {
    mAttributesReady = posix_spawnattr_init(&mAttributes) == 0;
    mActionsReady = posix_spawn_file_actions_init(&mActions) == 0;
  }
  ~SpawnSettings() {
    if (mAttributesReady) {
      posix_spawnattr_destroy(&mAttributes);
    }
    if (mActionsReady) {
      posix_spawn_file_actions_destroy(&mActions);
    }
  }
  SpawnSettings(const SpawnSettings&) = delete;
  SpawnSettings& operator=(const SpawnSettings&) = delete;
  SpawnSettings(SpawnSettings&&) = delete;
  SpawnSettings& operator=(SpawnSettings&&) = delete;

  // 0 or the error code of the first call that failed.
  int Prepare(const LaunchPlan& plan) {
    if (!mAttributesReady || !mActionsReady) {
      return ENOMEM;
    }
    sigset_t noSignals;
    sigset_t allSignals;
    sigemptyset(&noSignals);
    sigfillset(&allSignals);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#ifdef POSIX_SPAWN_SETSID
    flags |= POSIX_SPAWN_SETSID;
#else
    flags |= POSIX_SPAWN_SETPGROUP;  // own process group, pgid 0: its pid
#endif
    int error = posix_spawnattr_setflags(&mAttributes, flags);
    error = error ? error : posix_spawnattr_setsigmask(&mAttributes, &noSignals);
    error = error ? error : posix_spawnattr_setsigdefault(&mAttributes, &allSignals);
    error =
        error ? error
              : posix_spawn_file_actions_addopen(&mActions, STDIN_FILENO, kNullDevice, O_RDONLY, 0);
    error = error ? error
                  : posix_spawn_file_actions_addopen(&mActions, STDOUT_FILENO, kNullDevice,
                                                     O_WRONLY, 0);
    error = error ? error
                  : posix_spawn_file_actions_addopen(&mActions, STDERR_FILENO, kNullDevice,
                                                     O_WRONLY, 0);
#if NALO_SPAWN_CAN_CLOSE_FROM
    error = error ? error : posix_spawn_file_actions_addclosefrom_np(&mActions, STDERR_FILENO + 1);
#endif
    if (!error && !plan.workingDirectory.empty()) {
#if NALO_SPAWN_CAN_CHANGE_DIRECTORY
      error = posix_spawn_file_actions_addchdir_np(&mActions, plan.workingDirectory.c_str());
#else
      error = ENOSYS;
#endif
    }
    return error;
  }

  const posix_spawnattr_t* Attributes() const {
    return &mAttributes;
  }
  const posix_spawn_file_actions_t* Actions() const {
    return &mActions;
  }

 private:
  posix_spawnattr_t mAttributes{};
  posix_spawn_file_actions_t mActions{};
  bool mAttributesReady = false;
  bool mActionsReady = false;
};

[[noreturn]] void FailChild(int reportPipe) {
  const int error = errno;
  // Nothing to do if the report is lost: the parent then sees the exit code.
  [[maybe_unused]] const ssize_t written = write(reportPipe, &error, sizeof error);
  _exit(kChildSetupFailedExitCode);
}

// Runs in the forked child: only async-signal-safe calls from here to exec.
[[noreturn]] void RunChild(const LaunchPlan& plan, int reportPipe) {
  setsid();
  struct sigaction defaultAction {};
  defaultAction.sa_handler = SIG_DFL;
  for (int signal = 1; signal < NSIG; ++signal) {
    sigaction(signal, &defaultAction, nullptr);  // fails harmlessly for SIGKILL, SIGSTOP
  }
  sigset_t noSignals;
  sigemptyset(&noSignals);
  sigprocmask(SIG_SETMASK, &noSignals, nullptr);
  const int nullInput = open(kNullDevice, O_RDONLY);
  const int nullOutput = open(kNullDevice, O_WRONLY);
  if (nullInput < 0 || nullOutput < 0 || dup2(nullInput, STDIN_FILENO) < 0 ||
      dup2(nullOutput, STDOUT_FILENO) < 0 || dup2(nullOutput, STDERR_FILENO) < 0) {
    FailChild(reportPipe);
  }
  if (!plan.workingDirectory.empty() && chdir(plan.workingDirectory.c_str()) != 0) {
    FailChild(reportPipe);
  }
#if defined(SYS_close_range) && defined(CLOSE_RANGE_CLOEXEC)
  // Everything past the standard three closes at exec, the report pipe too.
  syscall(SYS_close_range, STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC);
#endif
  execve(plan.executable.c_str(), plan.argumentVector.data(), environ);
  FailChild(reportPipe);
}

}  // namespace

MaybeType<Failure, LaunchPlan> PlanLaunch(const SpawnRequest& request) {
  bool valid = !request.executable.empty() && !HasNul(request.executable) &&
               !HasNul(request.workingDirectory);
  for (const std::string& argument : request.arguments) {
    valid = valid && !HasNul(argument);
  }
  if (!valid) {
    return Failure::FromSystemError(EINVAL, kSpawnFailureContext);
  }
  LaunchPlan plan;
  plan.executable = request.executable;
  // A relative program path means the caller's directory, not the child's.
  if (plan.executable.front() != '/' && !request.workingDirectory.empty()) {
    char current[PATH_MAX];
    if (getcwd(current, sizeof current) == nullptr) {
      return Failure::FromLastSystemError(kSpawnFailureContext);
    }
    plan.executable = std::string(current) + "/" + plan.executable;
  }
  plan.workingDirectory = request.workingDirectory;
  plan.argumentTexts.reserve(request.arguments.size() + 1);
  plan.argumentTexts.push_back(plan.executable);
  plan.argumentTexts.insert(plan.argumentTexts.end(), request.arguments.begin(),
                            request.arguments.end());
  for (std::string& text : plan.argumentTexts) {
    plan.argumentVector.push_back(text.data());
  }
  plan.argumentVector.push_back(nullptr);
  return plan;
}

bool SpawnCanChangeDirectory() noexcept {
  return NALO_SPAWN_CAN_CHANGE_DIRECTORY != 0;
}

std::pair<pid_t, int> StartWithPosixSpawn(LaunchPlan& plan) {
  SpawnSettings settings;
  if (const int error = settings.Prepare(plan); error != 0) {
    return {0, error};
  }
  pid_t pid = 0;
  const int error = posix_spawn(&pid, plan.executable.c_str(), settings.Actions(),
                                settings.Attributes(), plan.argumentVector.data(), environ);
  return {pid, error};
}

std::pair<pid_t, int> StartWithForkExec(LaunchPlan& plan) {
  int reportPipe[2];
  if (pipe2(reportPipe, O_CLOEXEC) != 0) {
    return {0, errno};
  }
  const pid_t pid = fork();
  if (pid < 0) {
    const int error = errno;
    close(reportPipe[0]);
    close(reportPipe[1]);
    return {0, error};
  }
  if (pid == 0) {
    close(reportPipe[0]);
    RunChild(plan, reportPipe[1]);
  }
  close(reportPipe[1]);
  // The pipe closes at a successful exec; before that the child may report.
  int childError = 0;
  ssize_t got = 0;
  do {
    got = read(reportPipe[0], &childError, sizeof childError);
  } while (got < 0 && errno == EINTR);
  close(reportPipe[0]);
  if (got != static_cast<ssize_t>(sizeof childError)) {
    return {pid, 0};
  }
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  return {0, childError};
}

}  // namespace Nalo::detail
