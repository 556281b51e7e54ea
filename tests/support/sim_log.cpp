#include "support/sim_log.h"

namespace n47test {

std::vector<n47sim_call> simCalls() {
  std::vector<n47sim_call> calls(n47sim_call_count());
  for (size_t i = 0; i < calls.size(); ++i) n47sim_get_call(i, &calls[i]);
  return calls;
}

std::vector<std::string> simCallNames() {
  std::vector<std::string> names;
  for (const n47sim_call& call : simCalls()) names.emplace_back(n47sim_operation_name(call.operation));
  return names;
}

int simCallsOf(int operation) {
  int count = 0;
  for (const n47sim_call& call : simCalls()) count += call.operation == operation ? 1 : 0;
  return count;
}

}  // namespace n47test
