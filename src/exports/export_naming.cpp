#include "exports/export_naming.h"

#include <stdexcept>
#include <system_error>

#include "app/session_state.h"

namespace tessary {

std::string exportStem(std::int64_t seconds, std::uint64_t ticks) {
  return "Tessary-" + std::to_string(seconds) + "-" + std::to_string(ticks);
}

std::filesystem::path exportFolder(const Session& session) { return session.dataFolder / "exports"; }

std::filesystem::path exportBasePath(Session& session) {
  if (!session.storageAvailable) throw std::runtime_error("Storage unavailable");
  const std::filesystem::path folder = exportFolder(session);
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  // A file standing where the folder belongs is no folder to export into.
  if (!ec && !std::filesystem::is_directory(folder, ec) && !ec) {
    ec = std::make_error_code(std::errc::not_a_directory);
  }
  if (ec) throw std::filesystem::filesystem_error("create_directories", folder, ec);
  const std::uint64_t ticks = session.tickNow();
  const std::int64_t seconds = session.unixNow();
  return folder / exportStem(seconds, ticks);
}

}  // namespace tessary
