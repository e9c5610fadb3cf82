// The job mechanism shared by image loads and crop exports: the worker wrapper,
// the result slot and the completion message, on a real message-only window.
#include <gtest/gtest.h>

#include <objbase.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "imaging/background_job_win.h"
#include "support/job_window_win.h"

namespace tessary {
namespace {

using testing::JobWindowSession;

// Waits (without dispatching messages) until the job has published its result.
bool waitForResult(Session& session) {
  for (int i = 0; i < 2400; ++i) {
    {
      std::lock_guard<std::mutex> lock(session.resultMutex);
      if (session.pendingResult) return true;
    }
    Sleep(25);
  }
  return false;
}

bool waitForPostedMessage(HWND window) {
  for (int i = 0; i < 2400; ++i) {
    MSG message;
    if (PeekMessageW(&message, window, WM_JOB_DONE, WM_JOB_DONE, PM_REMOVE)) return true;
    Sleep(25);
  }
  return false;
}

TEST(BackgroundJob, BodyRunsWithMultithreadedComAndItsResultIsHandedOver) {
  JobWindowSession f;
  std::atomic<HRESULT> comState{E_FAIL};
  WorkerResult initial;
  initial.path = u"C:\\x.png";
  ASSERT_TRUE(startJobThread(f.session, initial, [&](WorkerResult& result) {
    // The wrapper has already put this thread in the multithreaded apartment.
    const HRESULT again = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    comState = again;
    if (SUCCEEDED(again)) CoUninitialize();
    result.ok = true;
  }));
  ASSERT_TRUE(waitForPostedMessage(f.window));
  std::unique_ptr<WorkerResult> result = takeJobResult(f.session);
  ASSERT_NE(result, nullptr);
  EXPECT_TRUE(result->ok);
  EXPECT_FALSE(result->isExport);
  EXPECT_EQ(result->path, u"C:\\x.png");
  EXPECT_EQ(comState.load(), S_FALSE);
  EXPECT_FALSE(f.session.jobThread.joinable());
  EXPECT_EQ(takeJobResult(f.session), nullptr);
}

TEST(BackgroundJob, AnythingTheBodyRaisesLeavesAFailedResultWithoutImage) {
  JobWindowSession f;
  WorkerResult initial;
  initial.isExport = true;
  ASSERT_TRUE(startJobThread(f.session, initial, [](WorkerResult& result) {
    result.image = std::make_shared<Pixels>();
    result.ok = true;
    throw std::runtime_error("Image operation failed");
  }));
  ASSERT_TRUE(waitForPostedMessage(f.window));
  std::unique_ptr<WorkerResult> result = takeJobResult(f.session);
  ASSERT_NE(result, nullptr);
  EXPECT_FALSE(result->ok);
  EXPECT_EQ(result->image, nullptr);
  EXPECT_TRUE(result->isExport);

  ASSERT_TRUE(startJobThread(f.session, WorkerResult{}, [](WorkerResult&) { throw 42; }));
  ASSERT_TRUE(waitForPostedMessage(f.window));
  result = takeJobResult(f.session);
  ASSERT_NE(result, nullptr);
  EXPECT_FALSE(result->ok);
}

TEST(BackgroundJob, StoringIntoAFullSlotDestroysTheOlderResult) {
  JobWindowSession f;
  auto older = std::make_unique<WorkerResult>();
  older->image = std::make_shared<Pixels>();
  std::weak_ptr<const Pixels> olderImage = older->image;
  f.session.pendingResult = std::move(older);
  ASSERT_TRUE(startJobThread(f.session, WorkerResult{}, [](WorkerResult& result) { result.path = u"newer"; }));
  ASSERT_TRUE(waitForPostedMessage(f.window));
  std::unique_ptr<WorkerResult> result = takeJobResult(f.session);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->path, u"newer");
  EXPECT_TRUE(olderImage.expired());
}

TEST(BackgroundJob, StartingJoinsTheFinishedPreviousThread) {
  JobWindowSession f;
  ASSERT_TRUE(startJobThread(f.session, WorkerResult{}, [](WorkerResult& r) { r.path = u"one"; }));
  ASSERT_TRUE(waitForResult(f.session));
  ASSERT_TRUE(f.session.jobThread.joinable());
  ASSERT_TRUE(startJobThread(f.session, WorkerResult{}, [](WorkerResult& r) { r.path = u"two"; }));
  ASSERT_TRUE(waitForPostedMessage(f.window));
  ASSERT_TRUE(waitForPostedMessage(f.window));
  std::unique_ptr<WorkerResult> result = takeJobResult(f.session);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->path, u"two");
}

TEST(BackgroundJob, CompletionWithAnEmptySlotShows26AndClearsTheBusyFlag) {
  JobWindowSession f;
  f.session.jobRunning = true;
  onJobDone(f.session);
  EXPECT_FALSE(f.session.jobRunning);
  EXPECT_EQ(f.session.statusText, uiText(Language::English, 26));
  EXPECT_TRUE(f.session.statusIsError);
}

}  // namespace
}  // namespace tessary
