#include "foundation/runtime/spin_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

void Pause() {
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
}

TEST(SpinLockTest, TwoThreadsCountingAMillionEachLoseNothing) {
  js::SpinLock lock;
  long counter = 0;
  auto work = [&] {
    for (int i = 0; i < 1000000; ++i) {
      lock.Lock();
      ++counter;
      lock.Unlock();
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 2000000);
}

TEST(ReadWriteSpinLockTest, WriterEntersAtOnceAfterReadersLeft) {
  ReadWriteSpinLock lock;
  lock.LockRead();
  lock.LockRead();
  lock.UnlockRead();
  lock.UnlockRead();
  lock.LockWrite();  // would spin forever if a reader were still counted
  lock.UnlockWrite();
  lock.LockRead();  // and the write unlock frees it for readers again
  lock.UnlockRead();
}

TEST(ReadWriteSpinLockTest, WriterWaitsForTheLastReader) {
  ReadWriteSpinLock lock;
  std::atomic<bool> writer_inside{false};
  lock.LockRead();
  lock.LockRead();
  std::thread writer([&] {
    lock.LockWrite();
    writer_inside = true;
    lock.UnlockWrite();
  });
  Pause();
  lock.UnlockRead();
  Pause();
  EXPECT_FALSE(writer_inside.load()) << "one reader is still inside";
  lock.UnlockRead();
  writer.join();
  EXPECT_TRUE(writer_inside.load());
}

TEST(ReadWriteSpinLockTest, ReadersArrivingDuringAWriteEnterAfterIt) {
  ReadWriteSpinLock lock;
  std::atomic<int> readers_inside{0};
  lock.LockWrite();
  std::vector<std::thread> readers;
  for (int i = 0; i < 3; ++i) {
    readers.emplace_back([&] {
      lock.LockRead();
      readers_inside++;
      lock.UnlockRead();
    });
  }
  Pause();
  EXPECT_EQ(readers_inside.load(), 0);
  lock.UnlockWrite();
  for (auto& r : readers) r.join();
  EXPECT_EQ(readers_inside.load(), 3);
}

TEST(ReadWriteSpinLockTest, ReadersNeverSeeAHalfDoneWrite) {
  ReadWriteSpinLock lock;
  long a = 0, b = 0;
  std::atomic<int> torn{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20000; ++i) {
        if (t == 0) {
          lock.LockWrite();
          ++a;
          ++b;
          lock.UnlockWrite();
        } else {
          lock.LockRead();
          if (a != b) torn++;
          lock.UnlockRead();
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(a, 20000);
}

}  // namespace
