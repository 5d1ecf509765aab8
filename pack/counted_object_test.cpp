#include "pack/counted_object.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

class Tracked final : public CountedObject {
 public:
  explicit Tracked(bool* destroyed) : destroyed_(destroyed) {}
  ~Tracked() override { *destroyed_ = true; }

 private:
  bool* destroyed_;
};

TEST(CountedObjectTest, LastReleaseDestroysOnce) {
  bool destroyed = false;
  Tracked* object = new Tracked(&destroyed);
  object->IncrementRef();
  object->IncrementRef();
  object->DecrementRef();
  EXPECT_FALSE(destroyed);
  object->DecrementRef();
  EXPECT_TRUE(destroyed);
}

TEST(CountedObjectTest, ReferencesFromManyThreadsBalance) {
  bool destroyed = false;
  CountedRef<Tracked> holder(new Tracked(&destroyed));
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&holder] {
      for (int i = 0; i < 20000; ++i) {
        CountedRef<Tracked> copy = holder;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_FALSE(destroyed);
  holder = CountedRef<Tracked>();
  EXPECT_TRUE(destroyed);
}

}  // namespace
