/// @file thread_object_test.cc
/// @brief Worker jobs: all started before the first join, each joined once,
/// none left running when their set goes away.

#include "search/thread_object.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// A stand-in job: counts itself in, then waits (bounded) until `expected`
// jobs have come in. Only jobs that run at the same time all see the count.
class MeetingJob : public ThreadObject {
 public:
  MeetingJob(std::atomic<int>& arrived, int expected) : m_arrived(arrived), m_expected(expected) {}
  bool sawAll = false;
  int runs = 0;

 protected:
  void Execute(void*) override {
    ++runs;
    ++m_arrived;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (m_arrived.load() < m_expected && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    sawAll = m_arrived.load() >= m_expected;
  }

 private:
  std::atomic<int>& m_arrived;
  int m_expected;
};

TEST(ThreadedJobs, EveryJobRunsBeforeTheFirstJoin) {
  std::atomic<int> arrived{0};
  MeetingJob a(arrived, 3), b(arrived, 3), c(arrived, 3);
  ThreadedJobs jobs(true);
  for (MeetingJob* job : {&a, &b, &c})
    jobs.add(*job);
  jobs.startAll();
  jobs.need(0);
  EXPECT_TRUE(a.sawAll);
  jobs.need(1);
  jobs.need(2);
  for (MeetingJob* job : {&a, &b, &c}) {
    EXPECT_TRUE(job->sawAll);
    EXPECT_EQ(1, job->runs);
    EXPECT_TRUE(job->joined());
  }
}

TEST(ThreadedJobs, SequentialSetRunsInListOrderInTheCallingThread) {
  std::atomic<int> arrived{0};
  // Alone, a job never meets the others: each has ended before the next.
  MeetingJob a(arrived, 2), b(arrived, 2);
  ThreadedJobs jobs(false);
  jobs.add(a);
  jobs.add(b);
  jobs.startAll();
  EXPECT_EQ(2, arrived.load());
  EXPECT_EQ(1, a.runs);
  EXPECT_FALSE(a.started());
  EXPECT_TRUE(b.sawAll);
}

// A slow job the caller never asks for is still joined when the set goes
// away: an early return of the request leaves no thread behind.
class SlowJob : public ThreadObject {
 public:
  std::atomic<bool> ended{false};

 protected:
  void Execute(void*) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ended = true;
  }
};

TEST(ThreadedJobs, SetJoinsJobsNobodyAskedFor) {
  SlowJob job;
  {
    ThreadedJobs jobs(true);
    jobs.add(job);
    jobs.startAll();
    EXPECT_TRUE(job.started());
  }
  EXPECT_TRUE(job.ended.load());
  EXPECT_TRUE(job.joined());
}

TEST(ThreadObject, JoinsOnceAndRefusesASecondStartWhileRunning) {
  SlowJob job;
  EXPECT_NE(0, job.WaitForExit(10000));  // nothing started
  int argument = 7;
  ASSERT_EQ(0, job.StartThread(&argument));
  EXPECT_EQ(&argument, job.getArguList());
  EXPECT_NE(0, job.StartThread(nullptr));
  EXPECT_EQ(0, job.WaitForExit(10000));
  EXPECT_NE(0, job.WaitForExit(10000));
  EXPECT_TRUE(job.ended.load());
}

}  // namespace
