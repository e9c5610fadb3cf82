// The imaging tests run like the program's threads do: COM initialised on the main
// thread (apartment-threaded) and GDI+ started for the whole process.
#include <gtest/gtest.h>

#include <memory>

#include "imaging/com_support_win.h"

namespace {

class ComAndGdiplusEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    com_ = std::make_unique<tessary::ScopedCoInitialize>(COINIT_APARTMENTTHREADED);
    gdiplus_ = std::make_unique<tessary::ScopedGdiplus>();
    ASSERT_TRUE(com_->ok());
    ASSERT_TRUE(gdiplus_->ok());
  }
  void TearDown() override {
    gdiplus_.reset();
    com_.reset();
  }

 private:
  std::unique_ptr<tessary::ScopedCoInitialize> com_;
  std::unique_ptr<tessary::ScopedGdiplus> gdiplus_;
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new ComAndGdiplusEnvironment);

}  // namespace
