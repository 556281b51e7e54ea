// Runs a piece of a test in a child process, for what must not be done to the test process
// itself (limits, hangs that have to be cut off, a second writer running at the same time).
#ifndef N47_TESTS_SUPPORT_CHILD_PROCESS_H
#define N47_TESTS_SUPPORT_CHILD_PROCESS_H

#include <functional>

namespace n47test {

struct Child {
  int pid = -1;
};

// Forks; the child runs `body` and exits with its result. It is killed after `seconds`.
Child startChild(const std::function<int()>& body, unsigned seconds);
// The child's exit status, or -1 when it was killed (it hung, or crashed).
int waitForChild(Child child);

inline int runInChild(const std::function<int()>& body, unsigned seconds) {
  return waitForChild(startChild(body, seconds));
}

}  // namespace n47test

#endif
