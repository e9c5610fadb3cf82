#include "imaging/background_job_win.h"

#include <exception>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

#include "imaging/com_support_win.h"

namespace tessary {

void runJob(Session& session, HWND window, WorkerResult initial, const JobBody& body) noexcept {
  std::unique_ptr<WorkerResult> result;
  {
    // COM is released before the result is published, so the window thread never
    // sees a result while this thread still holds COM objects.
    ScopedCoInitialize com(COINIT_MULTITHREADED);
    try {
      result = std::make_unique<WorkerResult>(std::move(initial));
    } catch (...) {
      // Without memory for the record the slot stays empty; the window thread
      // reports an empty slot as a failure.
    }
    if (result) {
      try {
        body(*result);
      } catch (...) {
        result->ok = false;
        result->image.reset();
      }
    }
  }
  {
    std::unique_ptr<WorkerResult> older;
    {
      std::lock_guard<std::mutex> lock(session.resultMutex);
      older = std::exchange(session.pendingResult, std::move(result));
    }
    // An older result (never taken) is destroyed outside the lock.
  }
  PostMessageW(window, WM_JOB_DONE, 0, 0);
}

bool startJobThread(Session& session, WorkerResult initial, JobBody body) {
  if (session.jobThread.joinable()) {
    session.jobThread.join();
  }
  HWND window = static_cast<HWND>(session.mainWindow);
  try {
    session.jobThread = std::thread(
        [&session, window, initial = std::move(initial), body = std::move(body)]() mutable noexcept {
          runJob(session, window, std::move(initial), body);
        });
  } catch (...) {
    // std::system_error when the system has no thread to give, or out of memory.
    return false;
  }
  return true;
}

std::unique_ptr<WorkerResult> takeJobResult(Session& session) {
  if (session.jobThread.joinable()) {
    session.jobThread.join();
  }
  std::lock_guard<std::mutex> lock(session.resultMutex);
  return std::exchange(session.pendingResult, nullptr);
}

void finishBackgroundJob(Session& session) {
  if (session.jobThread.joinable()) {
    session.jobThread.join();
  }
  std::unique_ptr<WorkerResult> left;
  {
    std::lock_guard<std::mutex> lock(session.resultMutex);
    left = std::exchange(session.pendingResult, nullptr);
  }
}

}  // namespace tessary
