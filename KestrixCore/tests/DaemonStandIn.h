#pragma once

// A process standing in for the driver daemon, for the tests of the broker's driver mode: it is
// named like the daemon and lives until end() or its destruction.

#include <csignal>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

// A process standing in for the driver daemon; it waits until its pipe closes.
struct StandIn {
    pid_t pid = -1;
    int pipe = -1;
    StandIn() {
        int fds[2], ready[2];
        if (::pipe(fds) != 0) return;
        if (::pipe(ready) != 0) return;
        pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_NAME, "spacenavd"); // the name the watch looks for
            ::close(fds[1]);
            ::close(ready[0]);
            ::close(ready[1]); // renamed: the parent may go on
            char c;
            while (::read(fds[0], &c, 1) > 0) {
            }
            ::_exit(0);
        }
        ::close(fds[0]);
        ::close(ready[1]);
        char c;
        while (::read(ready[0], &c, 1) > 0) {
        }
        ::close(ready[0]);
        pipe = fds[1];
    }
    void end() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            pid = -1;
        }
        if (pipe >= 0) ::close(pipe);
        pipe = -1;
    }
    ~StandIn() { end(); }
};
