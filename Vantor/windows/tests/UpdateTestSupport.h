#pragma once

// What the release-notes and update-window tests share: one application for the whole program,
// and an Updates (build 1.0.0, build number 1) that never fetches, with its prompt.

#include "KestrixProtocol/UserDefaults.h"
#include "VantorModels/Updates.h"
#include "VantorWindows/UpdateWindow.h"

#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>
#include <memory>

namespace updatetest {

inline void ensureApplication() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "VantorWindowsTests";
    static char* argv[] = {name, nullptr};
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    new QApplication(argc, argv); // kept to the end: Qt's font caches are not torn down cleanly
}

struct NoFetcher final : vantor::FeedFetcher {
    void fetch(const QUrl&, Done) override {}
};

struct PromptHarness {
    QTemporaryDir folder;
    kestrix::UserDefaults defaults{folder.filePath("defaults.json").toStdString()};
    std::unique_ptr<vantor::Updates> updates;
    std::unique_ptr<vantor::UpdatePrompt> prompt;

    PromptHarness() {
        ensureApplication();
        vantor::UpdatesSystem system;
        system.defaults = &defaults;
        system.fetcher = std::make_unique<NoFetcher>();
        system.build = vantor::BuildInfo{"1.0.0", "1", false};
        updates = std::make_unique<vantor::Updates>(std::move(system));
        prompt = std::make_unique<vantor::UpdatePrompt>(*updates);
    }
};

} // namespace updatetest
