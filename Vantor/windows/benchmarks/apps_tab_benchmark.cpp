// The settings window with many listed apps, offscreen, every step painted:
//   appsTabBuild/N      the Apps tab open while N apps arrive in the settings (rows made and
//                       painted); "kept_MB" is the heap the rows keep afterwards;
//   appsTabRemoveOne/N  one app of N removed from the list, the tab painted again;
//   settingsWindowOpen/N  the whole window made and painted with N listed apps whose names are
//                       looked up in the application folders (a hundred of them installed);
//   settingsEdit/N      one edit of a default setting with N listed apps, the window painted
//                       again (every edit brings the list in step with the settings).
// Run by hand: build/release/Vantor/windows/apps_tab_benchmark --benchmark_repetitions=3
#include "../tests/WindowTestApp.h"
#include "TempFolder.h"
#include "Vantor/Log.h"
#include "VantorModels/CanvasModel.h"
#include "VantorModels/SettingsModel.h"
#include "VantorModels/Updates.h"
#include "VantorWindows/MainView.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <malloc.h>
#include <memory>
#include <string>

namespace {

using namespace vantor;
using scroll::ScrollSettings;

std::string appID(long i) { return "org.example.App" + std::to_string(i); }

// Application folders for the look-ups: a personal one, empty, and a system one with a hundred
// installed apps (the first hundred ids).
struct Folders {
    testsupport::TempFolder root;
    Folders() {
        for (long i = 0; i < 100; ++i)
            root.write("system/applications/" + appID(i) + ".desktop",
                       "[Desktop Entry]\nType=Application\nName=App " + std::to_string(i) +
                           "\nIcon=accessories-text-editor\nExec=app\n");
        ::setenv("XDG_DATA_HOME", (root.path + "/home").c_str(), 1);
        ::setenv("XDG_DATA_DIRS", (root.path + "/system").c_str(), 1);
    }
};

ScrollSettings listing(long count) {
    ScrollSettings settings;
    settings.excludedApps.clear();
    for (long i = 0; i < count; ++i)
        settings.allowedApps.insert(appID(i));
    return settings;
}

// Names known in the model's cache, as after the first look-up; no icons (the generic one).
void knowNames(SettingsModel& model, long count) {
    for (long i = 0; i < count; ++i)
        model.apps.emplace(appID(i), ListedApp(appID(i), "App " + QString::number(i), QIcon(), true));
}

// The settings window on the Apps tab, not yet made, over these settings, with the names of the
// first `known` apps in the model's cache.
struct Window {
    Updates updates{UpdatesSystem{}};
    CanvasModel canvas;
    std::unique_ptr<SettingsModel> model;
    std::unique_ptr<MainView> view;

    explicit Window(ScrollSettings settings, long known = 0) {
        windowTestApp();
        Log::setSink([](Log::Level, std::string_view) {});
        model = std::make_unique<SettingsModel>(std::move(settings));
        knowNames(*model, known);
        model->setTab(MainTab::apps);
    }
    void open() {
        view = std::make_unique<MainView>(*model, updates, canvas);
        view->resize(MainView::idealSize);
        view->show();
        settle();
    }
    // Everything posted is handled and the window painted.
    void settle() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QApplication::processEvents();
        view->repaint();
    }
};

double heapMB() { return double(mallinfo2().uordblks) / (1024.0 * 1024.0); }

void appsTabBuild(benchmark::State& state) {
    const long count = state.range(0);
    double kept = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Window window{listing(0), count};
        window.open();
        const double before = heapMB();
        state.ResumeTiming();
        window.model->setSettings(listing(count));
        window.settle();
        state.PauseTiming();
        kept = heapMB() - before;
        window.view.reset();
        state.ResumeTiming();
    }
    state.counters["kept_MB"] = kept;
}
BENCHMARK(appsTabBuild)->Arg(1000)->Arg(3000)->Unit(benchmark::kMillisecond);

void appsTabRemoveOne(benchmark::State& state) {
    const long count = state.range(0);
    Window window{listing(count), count};
    window.open();
    for (auto _ : state) {
        window.model->remove(appID(count / 2));
        window.settle();
        state.PauseTiming();
        window.model->setSettings(listing(count));
        window.settle();
        state.ResumeTiming();
    }
}
BENCHMARK(appsTabRemoveOne)->Arg(1000)->Arg(3000)->Unit(benchmark::kMillisecond);

void settingsWindowOpen(benchmark::State& state) {
    Folders folders;
    const long count = state.range(0);
    for (auto _ : state) {
        Window window{listing(count)};
        window.open();
        state.PauseTiming();
        window.view.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(settingsWindowOpen)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void settingsEdit(benchmark::State& state) {
    const long count = state.range(0);
    Window window{listing(count), count};
    window.open();
    bool diagonal = false;
    for (auto _ : state) {
        window.model->edit([&](ScrollSettings& s) { s.diagonal = diagonal; });
        window.settle();
        diagonal = !diagonal;
    }
}
BENCHMARK(settingsEdit)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace
