/// @file agent_hosts_test.cc
/// @brief The list of reachable agents, and the run's deadline as every
/// wait for a child sees it.

#include "system/agent_hosts.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "system/child_process.h"
#include "system/run_deadline.h"

namespace {

TEST(AgentHosts, OnlyWellFormedEntriesOfAgentAddressesAreKept) {
  std::vector<std::string> refused;
  const std::vector<AgentHost> hosts = parseAgentHosts(
      " 10.0.0.5:9000,10.0.0.5:9000\t127.0.0.2:1 0.0.0.0:80 0.1.2.3:80 255.255.255.255:80 "
      "224.0.0.1:80 239.1.1.1:80 10.0.0.6 10.0.0.7:0 10.0.0.8:65536 host:80 10.0.0.9:80x ,,",
      &refused);
  ASSERT_EQ(2u, hosts.size());  // the repeated entry is kept once
  EXPECT_EQ((AgentHost{0x0A000005u, 9000}), hosts[0]);
  EXPECT_EQ((AgentHost{0x7F000002u, 1}), hosts[1]);
  EXPECT_EQ((std::vector<std::string>{"0.0.0.0:80", "0.1.2.3:80", "255.255.255.255:80",
                                      "224.0.0.1:80", "239.1.1.1:80", "10.0.0.6", "10.0.0.7:0",
                                      "10.0.0.8:65536", "host:80", "10.0.0.9:80x"}),
            refused);

  EXPECT_TRUE(isListedAgent("10.0.0.5", "9000", hosts));
  for (const auto& [ip, port] :
       std::vector<std::pair<std::string, std::string>>{{"10.0.0.5", "9001"},
                                                        {"10.0.0.50", "9000"},
                                                        {"10.0.0.5", "09000x"},
                                                        {"010.0.0.5", "9000"},
                                                        {"10.0.0.5 ", "9000"},
                                                        {"", ""}})
    EXPECT_FALSE(isListedAgent(ip, port, hosts)) << ip << ":" << port;
  // An address no agent has is refused even when a list names it.
  EXPECT_FALSE(isListedAgent("0.0.0.0", "80", {AgentHost{0, 80}}));
  EXPECT_TRUE(parseAgentHosts("").empty());
}

long long elapsedMs(const timespec& since) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (now.tv_sec - since.tv_sec) * 1000LL + (now.tv_nsec - since.tv_nsec) / 1000000;
}

// True while `pid` runs: a process that ended but waits for its new parent
// to reap it counts as ended.
bool running(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  const size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

// Every wait of a run ends by the run's deadline, whatever its own limit,
// and takes what the child started with it.
TEST(RunDeadline, BoundsEveryWaitAndEndsTheChildsGroup) {
  EXPECT_EQ(5000, boundedByRun(5000));  // no deadline yet
  setRunDeadline(300);
  EXPECT_LE(boundedByRun(60000), 300);
  EXPECT_GE(boundedByRun(60000), 1);
  EXPECT_LE(boundedByRun(0), 300);  // an unlimited wait too
  int pipeFds[2];
  ASSERT_EQ(0, pipe(pipeFds));
  ChildProgram program;
  // The grandchild tells its pid, then both sleep far past every limit.
  program.argv = {"/bin/sh", "-c", "sleep 30 & echo $!; exec sleep 30"};
  program.streams = ChildProgram::Streams::kToFd;
  program.outFd = pipeFds[1];
  program.limitMs = 60000;
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  const ChildOutcome outcome = runChildProgram(program);
  close(pipeFds[1]);
  EXPECT_EQ(ChildOutcome::How::kTimedOut, outcome.how);
  EXPECT_LT(elapsedMs(start), 5000);
  EXPECT_TRUE(runMustEnd());
  char text[32] = {};
  ASSERT_GT(read(pipeFds[0], text, sizeof text - 1), 0);
  close(pipeFds[0]);
  const pid_t grandchild = static_cast<pid_t>(std::atol(text));
  ASSERT_GT(grandchild, 0);
  for (int i = 0; i < 100 && running(grandchild); ++i)
    usleep(10000);
  EXPECT_FALSE(running(grandchild)) << "the grandchild outlived its group";
  setRunDeadline(0);
  EXPECT_FALSE(runMustEnd());
}

// A run whose client closed its end of the answer stops waiting at once.
TEST(RunDeadline, AClientThatHasGoneEndsTheWait) {
  int answer[2];
  ASSERT_EQ(0, pipe(answer));
  watchRunClient(answer[1]);
  EXPECT_FALSE(runClientGone());
  close(answer[0]);
  EXPECT_TRUE(runClientGone());
  ChildProgram program;
  program.argv = {"/bin/sleep", "30"};
  program.limitMs = 60000;
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  EXPECT_EQ(ChildOutcome::How::kTimedOut, runChildProgram(program).how);
  EXPECT_LT(elapsedMs(start), 5000);
  watchRunClient(-1);
  close(answer[1]);
}

}  // namespace
