#pragma once
// The few file operations the sheet store needs beyond the atomic replacement: a
// bounded read, a copy that is kept only when it is complete, and a rename that
// never replaces anything. Another program (a virus scanner, a backup tool, a sync
// client) may hold a file open without sharing it; such a file is "held", which is
// told apart from a file that cannot be used at all.
#include <array>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <thread>

namespace tessary {

enum class FileOutcome {
  Done,
  Held,    // another program holds the file (a sharing or lock violation)
  Failed,  // anything else
};

// The pauses before the next attempt on a held file: short and growing, 155 ms in all.
inline constexpr std::array<std::chrono::milliseconds, 5> kHeldFilePauses = {
    std::chrono::milliseconds(5), std::chrono::milliseconds(10), std::chrono::milliseconds(20),
    std::chrono::milliseconds(40), std::chrono::milliseconds(80)};

// Runs `attempt` (returning a FileOutcome) again after each pause while it answers
// Held; the last answer is returned.
template <typename Attempt>
FileOutcome retryWhileHeld(Attempt attempt) {
  for (std::size_t round = 0;; ++round) {
    const FileOutcome outcome = attempt();
    if (outcome != FileOutcome::Held || round == kHeldFilePauses.size()) return outcome;
    std::this_thread::sleep_for(kHeldFilePauses[round]);
  }
}

// Reads the file's first `limit` bytes (all of it when shorter) into `bytes`, opened
// for reading without sharing restrictions; one attempt. Held when another program
// holds it open without sharing reads.
FileOutcome readFileUpTo(const std::filesystem::path& path, std::size_t limit, std::string& bytes);

// Copies `from` to `to`, which must not exist yet: every byte written and flushed.
// A copy that fails on the way is removed again. One attempt: Held when another
// program holds `from`. The copy's bytes are not read back here (see copyAside).
enum class CopyOutcome { Copied, NameTaken, Held, Failed };
CopyOutcome copyToNewFile(const std::filesystem::path& from, const std::filesystem::path& to);

// copyToNewFile, then the copy is kept only when what is on disk, read back, has
// the size and the bytes of `from`; otherwise it is removed and the answer is Failed.
// No single library call's success is trusted for a copy that guards user data: a
// copy cut short by a full disk can be reported as complete.
CopyOutcome copyAside(const std::filesystem::path& from, const std::filesystem::path& to);

// Whether two files hold the same bytes (false when either cannot be read).
bool sameBytes(const std::filesystem::path& first, const std::filesystem::path& second);

// Renames `from` to `to` on the same volume, which needs no free space; fails
// rather than replace anything already at `to`. One attempt.
FileOutcome moveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace tessary
