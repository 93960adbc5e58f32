#pragma once

// The signals that ask a program to end (SIGINT from the terminal, SIGTERM from kill, a session
// or a service manager, SIGHUP from a closed terminal), read from a descriptor on the main loop:
// the program then ends as on a quit, and no code of its own runs in a signal handler.

#include <functional>
#include <memory>

namespace kestrix {

class MainLoop;
class Watch;

class EndingSignals {
public:
    // Blocks the signals in the calling thread and in every thread it starts from now on: made
    // before any thread starts, it leaves them to the descriptor alone. Where no descriptor can
    // be had, nothing is blocked and the signals end the program as before.
    EndingSignals();
    ~EndingSignals();
    EndingSignals(const EndingSignals&) = delete;
    EndingSignals& operator=(const EndingSignals&) = delete;

    // Calls `ended` on the loop with each signal that arrives, for as long as the watch lives.
    std::unique_ptr<Watch> follow(MainLoop& loop, std::function<void(int signal)> ended) const;

    // "SIGINT", "SIGTERM" or "SIGHUP".
    static const char* name(int signal);

private:
    int fd_ = -1;
};

} // namespace kestrix
