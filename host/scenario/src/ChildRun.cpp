#include "host/scenario/ChildRun.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace Nalo::Host::detail {

namespace {

void CloseAll(std::initializer_list<int> descriptors) {
  for (const int descriptor : descriptors) {
    if (descriptor >= 0) {
      close(descriptor);
    }
  }
}

// The state letter and parent pid in /proc/<pid>/stat ("pid (name) state
// ppid ..."); the name may hold spaces and parentheses, so the fields after
// the last ")" are read. False when it cannot be read.
bool ReadStat(const char* pid, char& state, int& parent) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%s/stat", pid);
  const int descriptor = open(path, O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) {
    return false;
  }
  char text[512];
  const ssize_t count = read(descriptor, text, sizeof text - 1);
  close(descriptor);
  if (count <= 0) {
    return false;
  }
  text[count] = '\0';
  const char* end = std::strrchr(text, ')');
  return end != nullptr && std::sscanf(end + 1, " %c %d", &state, &parent) == 2;
}

// The parent pid of `pid`; -1 when it cannot be read.
int ParentOf(const char* pid) {
  char state = 0;
  int parent = -1;
  return ReadStat(pid, state, parent) ? parent : -1;
}

// The keeper's half of RunInChild with endDescendants: runs `body` in a
// worker process, ends everything left beneath, then hands the worker's
// ending to the parent through `statusPipe`.
[[noreturn]] void KeepWorker(const std::function<void(int messages)>& body, int messages,
                             int statusPipe) {
  prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
  const pid_t worker = fork();
  if (worker == 0) {
    close(statusPipe);
    body(messages);
    std::fflush(nullptr);
    _exit(0);
  }
  close(messages);
  int status = 0;
  if (worker > 0) {
    while (waitpid(worker, &status, 0) < 0 && errno == EINTR) {
    }
  }
  EndChildren();
  if (worker > 0) {
    WriteAll(statusPipe, std::string_view(reinterpret_cast<const char*>(&status), sizeof status));
  }
  _exit(0);
}

}  // namespace

std::vector<int> ChildrenOf(int parent) {
  std::vector<int> children;
  DIR* folder = opendir("/proc");
  if (folder == nullptr) {
    return children;
  }
  while (const dirent* entry = readdir(folder)) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') {
      continue;
    }
    if (ParentOf(entry->d_name) == parent) {
      children.push_back(std::atoi(entry->d_name));
    }
  }
  closedir(folder);
  return children;
}

bool IsRunning(int pid) {
  char state = 0;
  int parent = -1;
  const std::string name = std::to_string(pid);
  return ReadStat(name.c_str(), state, parent) && state != 'Z' && state != 'X';
}

void EndChildren() {
  for (;;) {
    for (const int child : ChildrenOf(getpid())) {
      kill(child, SIGKILL);
    }
    // Each child killed ends soon; an orphan of theirs that comes back to
    // this process is found by the next look.
    if (waitpid(-1, nullptr, 0) < 0 && errno != EINTR) {
      return;  // ECHILD: none left
    }
  }
}

void WriteAll(int descriptor, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = write(descriptor, text.data(), text.size());
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return;  // the parent is gone; nobody is left to tell
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

std::string OneLine(std::string_view text) {
  std::string line(text);
  std::ranges::replace(line, '\n', ' ');
  return line;
}

std::string DescribeEnding(int status) {
  if (WIFSIGNALED(status)) {
    const int signal = WTERMSIG(status);
    const char* name = strsignal(signal);
    return "was ended by signal " + std::to_string(signal) + " (" +
           (name != nullptr ? name : "unknown") + ")";
  }
  return "exited with code " + std::to_string(WEXITSTATUS(status));
}

ChildEnding RunInChild(const ChildOptions& options, const std::function<void(int messages)>& body,
                       const std::function<void(std::string_view)>& onOutput,
                       const std::function<void(std::string_view)>& onMessages) {
  int output[2] = {-1, -1};
  int messages[2] = {-1, -1};
  int ending[2] = {-1, -1};
  if ((options.captureOutput && pipe(output) != 0) || pipe(messages) != 0 ||
      (options.endDescendants && pipe(ending) != 0)) {
    CloseAll({output[0], output[1], messages[0], messages[1]});
    return {};
  }
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) {
    CloseAll({output[0], output[1], messages[0], messages[1], ending[0], ending[1]});
    return {};
  }
  if (child == 0) {
    CloseAll({output[0], messages[0], ending[0]});
    if (options.captureOutput) {
      dup2(output[1], STDOUT_FILENO);
      dup2(output[1], STDERR_FILENO);
    }
    if (options.endDescendants) {
      KeepWorker(body, messages[1], ending[1]);
    }
    body(messages[1]);
    std::fflush(nullptr);
    _exit(0);
  }
  CloseAll({output[1], messages[1], ending[1]});

  // Both pipes are read by turns: reading one to its end first would block
  // while the child fills the other.
  std::array<pollfd, 2> descriptors = {pollfd{output[0], POLLIN, 0},
                                       pollfd{messages[0], POLLIN, 0}};
  const std::array<const std::function<void(std::string_view)>*, 2> into = {&onOutput, &onMessages};
  std::size_t open = options.captureOutput ? 2 : 1;
  std::array<char, 65536> buffer{};
  while (open > 0) {
    if (poll(descriptors.data(), descriptors.size(), -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      break;
    }
    for (std::size_t i = 0; i < descriptors.size(); ++i) {
      if (descriptors[i].fd < 0 || descriptors[i].revents == 0) {
        continue;
      }
      const ssize_t count = read(descriptors[i].fd, buffer.data(), buffer.size());
      if (count > 0) {
        if (*into[i]) {
          (*into[i])(std::string_view(buffer.data(), static_cast<std::size_t>(count)));
        }
      } else if (count == 0 || errno != EINTR) {
        close(descriptors[i].fd);
        descriptors[i].fd = -1;
        --open;
      }
    }
  }
  CloseAll({descriptors[0].fd, descriptors[1].fd});
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (options.endDescendants) {
    // The keeper ended: what it wrote is all in the pipe.
    int workerStatus = 0;
    const ssize_t count = read(ending[0], &workerStatus, sizeof workerStatus);
    close(ending[0]);
    if (count != static_cast<ssize_t>(sizeof workerStatus)) {
      // No worker was started, or the keeper itself was ended.
      return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ChildEnding{}
                                                           : ChildEnding{true, status};
    }
    return {true, workerStatus};
  }
  return {true, status};
}

}  // namespace Nalo::Host::detail
