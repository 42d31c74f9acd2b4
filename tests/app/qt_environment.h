// One QApplication for a whole test binary, made before its first test and deleted after its
// last: include this in exactly one source file of the binary.

#ifndef QUENBREL_TESTS_APP_QT_ENVIRONMENT_H_
#define QUENBREL_TESTS_APP_QT_ENVIRONMENT_H_

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

namespace quenbrel::testing {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { application_ = std::make_unique<QApplication>(argc_, argv_); }
  void TearDown() override { application_.reset(); }

 private:
  int argc_ = 1;
  char name_[16] = "quenbrel_test";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> application_;
};

inline ::testing::Environment* const qt_environment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace quenbrel::testing

#endif  // QUENBREL_TESTS_APP_QT_ENVIRONMENT_H_
