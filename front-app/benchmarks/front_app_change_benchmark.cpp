// What a change of the app in front costs on the main loop with 5000 installed desktop entries:
// the X11 source following the active window of a private X server, and the identity rule alone.
// Reading the folders (done on the index's worker, and again only when they change) is measured
// for comparison: it is what every change used to cost.
#include "FrontApp/DesktopAppIndex.h"
#include "FrontApp/DesktopEntry.h"
#include "FrontApp/FrontAppIdentity.h"
#include "FrontAppX11.h"
#include "KestrixProtocol/VirtualMainLoop.h"
#include "TempFolder.h"
#include "X11TestDesktop.h"

#include <benchmark/benchmark.h>

using namespace kestrix::core;

namespace {

constexpr int entries = 5000;

// Application folders with 5000 entries, a tenth of them with a StartupWMClass.
const testsupport::TempFolder& installed() {
    static const testsupport::TempFolder t;
    static const bool written = [] {
        for (int i = 0; i < entries; ++i) {
            std::string id = "org.example.App" + std::to_string(i);
            std::string text = "[Desktop Entry]\nType=Application\nName=App " + std::to_string(i) +
                               "\nName[de]=Programm " + std::to_string(i) +
                               "\nComment=An application of the benchmark\nExec=app" +
                               std::to_string(i) + " %U\nIcon=" + id + "\n";
            if (i % 10 == 0) text += "StartupWMClass=AppClass" + std::to_string(i) + "\n";
            t.write("apps/" + id + ".desktop", text);
        }
        return true;
    }();
    (void)written;
    return t;
}

std::vector<std::string> dirs() {
    return {installed().path + "/missing", installed().path + "/apps"};
}

void FrontAppChangeX11(benchmark::State& state) {
    x11test::Xvfb server;
    if (server.display().empty()) {
        state.SkipWithError("Xvfb did not start");
        return;
    }
    x11test::FakeDesktop desktop(server.display());
    // One window named by StartupWMClass, one by no desktop file at all (the longest search).
    xcb_window_t windows[] = {desktop.window(4001, "AppClass4990", "app"),
                              desktop.window(4002, "Unknown", "unknown")};
    kestrix::VirtualMainLoop loop;
    auto identity =
        std::make_shared<FrontAppIdentity>("/proc", DesktopAppIndex::watched(loop, dirs()));
    std::string why;
    auto front = FrontAppX11::connect(loop, server.display().c_str(), identity, why);
    if (!front) {
        state.SkipWithError(why.c_str());
        return;
    }
    int activations = 0;
    front->onActivate = [&] { ++activations; };
    (void)identity->ofWindow({}); // the first reading is in
    std::size_t next = 0;
    for (auto _ : state) {
        const int before = activations;
        desktop.activate(windows[next++ % 2]);
        loop.runUntil([&] { return activations > before; });
        auto app = front->frontmost();
        benchmark::DoNotOptimize(app);
        loop.runPending();
    }
}
BENCHMARK(FrontAppChangeX11)->Unit(benchmark::kMicrosecond);

void NameTheWindowFromTheIndex(benchmark::State& state) {
    FrontAppIdentity identity("/proc", dirs());
    FrontAppWindow unknown{std::nullopt, "", "unknown", "Unknown"};
    (void)identity.ofWindow(unknown);
    for (auto _ : state) {
        auto id = identity.ofWindow(unknown);
        auto name = desktopEntryName("org.example.App4990", dirs());
        benchmark::DoNotOptimize(id);
        benchmark::DoNotOptimize(name);
    }
}
BENCHMARK(NameTheWindowFromTheIndex)->Unit(benchmark::kMicrosecond);

void ReadTheApplicationFolders(benchmark::State& state) {
    for (auto _ : state) {
        auto apps = DesktopAppIndex::read(dirs());
        benchmark::DoNotOptimize(apps);
    }
}
BENCHMARK(ReadTheApplicationFolders)->Unit(benchmark::kMillisecond);

} // namespace
