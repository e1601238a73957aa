#include "runtime/TerminationSignals.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace rt {

namespace {

std::atomic<int> gCount{0};
std::atomic<int> gFirst{0};
std::atomic<int> gReadEnd{-1};
int gWriteEnd = -1;

sigset_t TerminationSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

// Ends the process by `signal`'s default action: whatever handler is installed now (the client
// library's) is put aside, and the signal is sent to this thread, the one thread that lets it in.
[[noreturn]] void EndBy(int signal) {
  ::signal(signal, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  pthread_kill(pthread_self(), signal);
  // Not reached: the default action of both signals ends the process.
  std::_Exit(128 + signal);
}

void* WaitForSignals(void*) {
  const sigset_t set = TerminationSet();
  for (;;) {
    int signal = 0;
    if (sigwait(&set, &signal) != 0) continue;
    // Recorded before it is counted: whoever sees the count sees which signal it was.
    int none = 0;
    gFirst.compare_exchange_strong(none, signal);
    if (gCount.fetch_add(1) >= 1) EndBy(signal);
    const char byte = 1;
    while (write(gWriteEnd, &byte, 1) < 0 && errno == EINTR) {
    }
  }
  return nullptr;
}

}  // namespace

void WatchTerminationSignals() {
  static std::once_flag once;
  std::call_once(once, [] {
    const sigset_t set = TerminationSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
      std::perror("termination signals: pipe");
      return;
    }
    gWriteEnd = ends[1];
    gReadEnd = ends[0];
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    if (pthread_create(&thread, &attributes, WaitForSignals, nullptr) != 0) {
      // Without the waiting thread the signals would stay blocked for good: let them in again.
      pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
      std::perror("termination signals: thread");
    }
    pthread_attr_destroy(&attributes);
  });
}

int TerminationSignalCount() {
  return gCount.load();
}

int FirstTerminationSignal() {
  return gFirst.load();
}

int TerminationSignalDescriptor() {
  return gReadEnd.load();
}

}  // namespace rt
