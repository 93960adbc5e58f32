// Lines through one connection pair: the broker side encodes and writes axes messages, the client
// side reads and decodes them. One message at a time (as the broker sends a device's samples), and
// in bursts of 100, on the virtual loop (the connection's own cost) and on the Qt loop.

#include "KestrixProtocol/LineConnection.h"
#include "KestrixProtocol/Messages.h"
#include "KestrixProtocol/QtMainLoop.h"
#include "KestrixProtocol/VirtualMainLoop.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <memory>
#include <sys/socket.h>

using namespace kestrix;

namespace {

BrokerMessage axesMessage(std::int64_t i) {
    smk::SpaceMouseAxes axes;
    axes.x = i % 350;
    axes.y = -(i % 200);
    axes.z = 12;
    axes.rx = -3;
    axes.ry = 77;
    axes.rz = -(i % 350);
    return BrokerMessage{BrokerMessage::Axes{"serial:1234567890AB", axes}};
}

struct Pair {
    std::shared_ptr<LineConnection<BrokerMessage, ClientMessage>> broker;
    std::shared_ptr<LineConnection<ClientMessage, BrokerMessage>> client;
    std::int64_t received = 0;

    explicit Pair(MainLoop& loop) {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) std::abort();
        broker = LineConnection<BrokerMessage, ClientMessage>::create(loop, fds[0]);
        client = LineConnection<ClientMessage, BrokerMessage>::create(loop, fds[1]);
        client->onMessage = [this](const BrokerMessage& message) {
            if (message.as<BrokerMessage::Axes>()) ++received;
        };
        broker->start();
        client->start();
    }
};

void ensureApplication() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "line_connection_benchmark";
    static char* argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
}

template <class Run> void lines(benchmark::State& state, MainLoop& loop, Run run) {
    const std::int64_t burst = state.range(0);
    Pair pair(loop);
    std::int64_t sent = 0;
    for (auto _ : state) {
        for (std::int64_t i = 0; i < burst; ++i)
            pair.broker->send(axesMessage(sent++));
        while (pair.received < sent && !pair.broker->isClosed())
            run();
    }
    if (pair.broker->isClosed()) state.SkipWithError("connection closed");
    state.SetItemsProcessed(pair.received);
    state.SetBytesProcessed(pair.received *
                            std::int64_t(LineEncoder::encode(axesMessage(0)).size()));
}

void virtualLoop(benchmark::State& state) {
    VirtualMainLoop loop;
    lines(state, loop, [&] { loop.runPending(); });
}
BENCHMARK(virtualLoop)->Arg(1)->Arg(100);

void qtLoop(benchmark::State& state) {
    ensureApplication();
    QtMainLoop loop;
    lines(state, loop, [] { QCoreApplication::processEvents(QEventLoop::AllEvents); });
}
BENCHMARK(qtLoop)->Arg(1)->Arg(100);

} // namespace
