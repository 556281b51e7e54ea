#include "support/child_process.h"

#include <sys/wait.h>
#include <unistd.h>

namespace n47test {

Child startChild(const std::function<int()>& body, unsigned seconds) {
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(seconds);  // its default action ends a child that hangs
    _exit(body());
  }
  return Child{pid};
}

int waitForChild(Child child) {
  if (child.pid < 0) return -1;
  int status = 0;
  if (waitpid(child.pid, &status, 0) != child.pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace n47test
