#include "base/exception16.h"

#include <gtest/gtest.h>

#include <exception>
#include <memory>

namespace {

TEST(Exception16Test, ACopyKeepsItsOwnMessage) {
  auto original = std::make_unique<Exception16>(L"CoInitialize");
  Exception16 copy(*original);
  original.reset();
  EXPECT_EQ(copy.message(), L"CoInitialize");
  Exception16 other(L"other");
  other = copy;
  copy = Exception16(L"changed");
  EXPECT_EQ(other.message(), L"CoInitialize");
}

TEST(Exception16Test, IsNotCaughtAsAStandardException) {
  bool caughtAsStandard = false;
  bool caughtAsItself = false;
  try {
    try {
      throw Exception16(L"CoInitialize");
    } catch (const std::exception&) {
      caughtAsStandard = true;
    }
  } catch (const Exception16& e) {
    caughtAsItself = e.message() == L"CoInitialize";
  }
  EXPECT_FALSE(caughtAsStandard);
  EXPECT_TRUE(caughtAsItself);
}

}  // namespace
