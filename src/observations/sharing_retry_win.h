#pragma once
// Another process (a virus scanner, an indexer, a backup tool) may hold a file open
// for a moment. The export files, written away from the window's thread or once per
// command, try such an operation again after a short, growing pause, 155 ms in all;
// the sheet store never waits (its timer and its next save try again).
#include <windows.h>

#include <cstddef>
#include <iterator>

namespace tessary::sharing_retry {

inline constexpr DWORD kDelaysMs[] = {5, 10, 20, 40, 80};

// The one notion of a file held by another program: opened without sharing what is
// asked, a locked range, or access denied, which is also the answer for a file that
// another program has deleted or is replacing while a handle to it stays open.
inline bool isSharingConflict(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

// Runs `attempt` until it succeeds, or until its failure is no sharing conflict,
// `mayRetry` refuses another try, or the pauses are used up. The last error is
// kept for the caller.
template <typename Attempt, typename MayRetry>
bool retryOnSharingConflict(Attempt attempt, MayRetry mayRetry) {
  for (std::size_t round = 0;; ++round) {
    if (attempt()) return true;
    const DWORD error = GetLastError();
    if (round == std::size(kDelaysMs) || !isSharingConflict(error) || !mayRetry(error)) {
      SetLastError(error);
      return false;
    }
    Sleep(kDelaysMs[round]);
  }
}

}  // namespace tessary::sharing_retry
