/// @file thread_object.h
/// @brief A job that runs in a worker thread of its own, and the discipline
/// of a set of such jobs: all started at once, each joined when its result
/// is first needed, none left running when the set goes away.

#ifndef SEARCHRUN_SEARCH_THREAD_OBJECT_H
#define SEARCHRUN_SEARCH_THREAD_OBJECT_H

#include <pthread.h>

#include <cstddef>
#include <vector>

class ThreadObject {
 public:
  ThreadObject() = default;
  ThreadObject(const ThreadObject&) = delete;
  ThreadObject& operator=(const ThreadObject&) = delete;
  // Joins a thread still running: a job never outlives its object.
  virtual ~ThreadObject();

  // Stores `argument` and starts the thread (default attributes) that runs
  // Run(argument). Returns the thread library's result (0: started). A job
  // that runs already is not started again (EBUSY).
  int StartThread(void* argument);

  // Waits until the thread has ended and returns the join's result (0);
  // ESRCH when no thread was started or it was joined already. The time-out
  // is not used: a job ends by itself.
  int WaitForExit(int timeoutMs);

  // Setup() then Execute(argument), in the calling thread; returns 0.
  int Run(void* argument);

  bool started() const { return m_started; }
  bool joined() const { return m_joined; }
  void* getArguList() const { return arguList; }
  void setArguList(void* argument) { arguList = argument; }

 protected:
  virtual void Setup() {}
  virtual void Execute(void* /*argument*/) {}

 private:
  static void* EntryPoint(void* object);

  pthread_t m_hThread{};
  void* arguList = nullptr;
  bool m_started = false;
  bool m_joined = false;
};

// The jobs of one request. Threaded: every job starts at once, in list
// order; the caller joins a job (need) before it reads it. Sequential: each
// job runs in the calling thread, in list order, when the set starts. Either
// way need() is the one place a result is taken, and the set joins every
// thread still running when it is destroyed, so that an early return leaves
// no job behind.
class ThreadedJobs {
 public:
  explicit ThreadedJobs(bool threaded) : m_threaded(threaded) {}
  ThreadedJobs(const ThreadedJobs&) = delete;
  ThreadedJobs& operator=(const ThreadedJobs&) = delete;
  ~ThreadedJobs() { joinAll(); }

  void add(ThreadObject& job) { m_jobs.push_back(&job); }
  size_t size() const { return m_jobs.size(); }

  // Starts (or, sequential, runs) every job. A job whose thread cannot be
  // started runs in the calling thread instead; its result is the same.
  void startAll();
  // Joins job `k` once when its thread has not been joined yet.
  void need(size_t k);
  void joinAll();

 private:
  bool m_threaded;
  std::vector<ThreadObject*> m_jobs;
};

#endif  // SEARCHRUN_SEARCH_THREAD_OBJECT_H
