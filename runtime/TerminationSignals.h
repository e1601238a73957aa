// Requests to end the process (SIGINT and SIGTERM), taken by a thread of their own.
//
// The database client library installs its own handlers for both signals when it attaches a
// database for the first time. Its handler shuts down every attachment of the process (a run
// then loses its transaction and all its updates), and it does so even when a handler was
// installed before it: it calls that one as well, but shuts down all the same. So the signals
// must never reach a handler. They are blocked in every thread (a thread starts with the mask
// of the thread that creates it, so the block comes before any other thread exists) and one
// thread of ours waits for them with sigwait.
//
// The first signal is counted and announced through a pipe, which an event loop can watch. A
// second one ends the process at once, by the signal's default action.
#pragma once

namespace rt {

// Blocks SIGINT and SIGTERM and starts the waiting thread. Call first thing in main, before
// anything starts a thread; later calls do nothing.
void WatchTerminationSignals();

// How many of the two signals have arrived; 0 until the first.
int TerminationSignalCount();

// The number of the first signal that arrived (SIGINT or SIGTERM); 0 until the first.
int FirstTerminationSignal();

// A descriptor that becomes readable once the first signal has arrived (it stays readable);
// -1 until WatchTerminationSignals ran.
int TerminationSignalDescriptor();

}  // namespace rt
