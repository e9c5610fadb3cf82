#pragma once
// Windows details of the crash-safe file replacement, visible for tests.
#include <string>

namespace tessary::atomic_file_detail {

// After a replacement or move reported failure: when the target is gone (the
// replacement may already have moved it to the backup name, or without a backup
// removed it), the previous content is put back from `backup`; where no copy of it
// survives, the new content in `temporary` takes the target's name. The temporary
// file is removed afterwards. `backup` is empty when no backup was asked for.
// Afterwards the target exists whenever one of the two contents survived.
void settleFailedReplacement(const std::wstring& target, const std::wstring& temporary,
                             const std::wstring& backup);

}  // namespace tessary::atomic_file_detail
