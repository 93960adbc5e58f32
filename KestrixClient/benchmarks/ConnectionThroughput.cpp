// How fast the connection turns a stream of axes lines from the broker into events: the path
// that runs at the device's report rate. A broker stand-in writes batches of lines into a real
// socket; the loop reads, decodes and dispatches them.

#include "KestrixClient/KestrixConnection.h"
#include "KestrixProtocol/LineCoding.h"
#include "KestrixProtocol/UnixSocket.h"
#include "KestrixProtocol/VirtualMainLoop.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using kestrix::BrokerMessage;
using kestrix::client::KestrixConnection;

void writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += std::size_t(n);
    }
}

void axesLines(benchmark::State& state) {
    const int batch = int(state.range(0));
    std::string folder = (std::filesystem::temp_directory_path() / "kestrix-bench-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) {
        state.SkipWithError("mkdtemp failed");
        return;
    }
    kestrix::BrokerPlace place(folder);
    int listener = kestrix::UnixSocket::listen(place.socket().string());
    kestrix::VirtualMainLoop loop;
    auto connection = KestrixConnection::create(loop, "bench", kestrix::Claim{{}, true},
                                                KestrixConnection::Launcher::none(), place, 15);
    std::int64_t axesEvents = 0;
    connection->onEvent = [&](const KestrixConnection::Event& event) {
        axesEvents += event.is<KestrixConnection::Event::Axes>() ? 1 : 0;
    };
    connection->start();
    int peer = ::accept(listener, nullptr, nullptr);
    writeAll(peer, kestrix::LineEncoder::encode(BrokerMessage{BrokerMessage::Holding{true}}));
    loop.runUntil([&] { return connection->holds(); });

    std::string lines;
    for (int i = 0; i < batch; ++i) {
        smk::SpaceMouseAxes axes{i % 350, -(i % 200), 3, 0, 12, -40};
        lines +=
            kestrix::LineEncoder::encode(BrokerMessage{BrokerMessage::Axes{"serial:ABC123", axes}});
    }
    for (auto _ : state) {
        const std::int64_t target = axesEvents + batch;
        writeAll(peer, lines);
        loop.runUntil([&] { return axesEvents >= target; });
    }
    state.SetItemsProcessed(state.iterations() * batch);
    state.SetBytesProcessed(state.iterations() * std::int64_t(lines.size()));

    connection->stop();
    connection.reset();
    ::close(peer);
    ::close(listener);
    std::filesystem::remove_all(folder);
}
BENCHMARK(axesLines)->Arg(1)->Arg(64);

} // namespace
