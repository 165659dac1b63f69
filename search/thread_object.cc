/// @file thread_object.cc
/// @brief Worker threads of independent jobs.

#include "search/thread_object.h"

#include <cerrno>

ThreadObject::~ThreadObject() {
  if (m_started && !m_joined) WaitForExit(0);
}

int ThreadObject::StartThread(void* argument) {
  if (m_started && !m_joined) return EBUSY;
  arguList = argument;
  const int rc = pthread_create(&m_hThread, nullptr, &ThreadObject::EntryPoint, this);
  m_started = rc == 0;
  m_joined = false;
  return rc;
}

int ThreadObject::WaitForExit(int /*timeoutMs*/) {
  if (!m_started || m_joined) return ESRCH;
  const int rc = pthread_join(m_hThread, nullptr);
  m_joined = rc == 0;
  return rc;
}

int ThreadObject::Run(void* argument) {
  Setup();
  Execute(argument);
  return 0;
}

void* ThreadObject::EntryPoint(void* object) {
  ThreadObject* self = static_cast<ThreadObject*>(object);
  self->Run(self->arguList);
  return nullptr;
}

void ThreadedJobs::startAll() {
  for (ThreadObject* job : m_jobs) {
    if (!m_threaded || job->StartThread(nullptr) != 0) job->Run(nullptr);
  }
}

void ThreadedJobs::need(size_t k) {
  if (k < m_jobs.size() && m_jobs[k]->started() && !m_jobs[k]->joined())
    m_jobs[k]->WaitForExit(10000);
}

void ThreadedJobs::joinAll() {
  for (size_t k = 0; k < m_jobs.size(); ++k)
    need(k);
}
