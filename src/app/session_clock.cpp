#include <chrono>

#include "app/session_state.h"

namespace tessary {

std::uint64_t Session::defaultTickNow() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::int64_t Session::defaultUnixNow() {
  using namespace std::chrono;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace tessary
