#include "host/src/ChildRun.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
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

}  // namespace

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
  if ((options.captureOutput && pipe(output) != 0) || pipe(messages) != 0) {
    CloseAll({output[0], output[1]});
    return {};
  }
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) {
    CloseAll({output[0], output[1], messages[0], messages[1]});
    return {};
  }
  if (child == 0) {
    CloseAll({output[0], messages[0]});
    if (options.captureOutput) {
      dup2(output[1], STDOUT_FILENO);
      dup2(output[1], STDERR_FILENO);
    }
    body(messages[1]);
    std::fflush(nullptr);
    _exit(0);
  }
  CloseAll({output[1], messages[1]});

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
  return {true, status};
}

}  // namespace Nalo::Host::detail
