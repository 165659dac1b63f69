/// @file run_deadline.h
/// @brief One deadline for a whole run, and its client: every wait of the
/// run (a program it started, an exchange with another host) ends by the
/// run's deadline, and ends at once when the client of the run has gone.
///
/// A request that names many slow peers, or a peer that answers at a
/// trickle, thus holds the process for the run's deadline at most rather
/// than for the sum of every wait's own limit; and a web server that gives
/// up on the request (it closes its end of the answer's pipe) stops the run
/// at its next wait instead of leaving it working for nobody.

#ifndef SEARCHRUN_SYSTEM_RUN_DEADLINE_H
#define SEARCHRUN_SYSTEM_RUN_DEADLINE_H

// Starts the run's clock: the run may last `ms` milliseconds from now
// (0 or less: no deadline, the start-up state).
void setRunDeadline(long long ms);

// Watches `fd`, the write end of the run's answer (standard output of a
// CGI program): once nobody can read it any more, the client is gone.
// -1 watches nothing (the start-up state).
void watchRunClient(int fd);

// True when the client watched has gone (the reader of its descriptor
// closed it); false when nothing is watched or it cannot tell.
bool runClientGone();

// True once the deadline has passed or the client has gone.
bool runMustEnd();

// `limitMs` (0 or less: unlimited) bounded by the time left to the run:
// the smaller of both, at least 1 so that a wait ends at once rather than
// never; `limitMs` itself when the run has no deadline.
int boundedByRun(int limitMs);

// The descriptor watched, or -1: waits add it to their poll set, where an
// error or hang-up on it says the client has gone.
int runClientFd();

#endif  // SEARCHRUN_SYSTEM_RUN_DEADLINE_H
