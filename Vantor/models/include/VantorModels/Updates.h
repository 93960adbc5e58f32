#pragma once

#include "VantorModels/Appcast.h"
#include "VantorModels/FeedFetcher.h"

#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kestrix {
class MainLoop;
class UserDefaults;
} // namespace kestrix

namespace vantor {

// The running program's version, from the build (the release process raises the build number
// with every release; a beta build is configured with VANTOR_BETA).
struct BuildInfo {
    std::string version;   // "1.0.0"
    std::string buildText; // the build number as configured, e.g. "1"
    bool beta = false;

    static BuildInfo running();

    // The build number: buildText as a decimal whole number with an optional leading sign;
    // anything else (or out of range) counts as build 0.
    qint64 build() const;
};

// Everything of the system Updates uses; every field may be replaced (tests do).
struct UpdatesSystem {
    // Where "updates_betas", "updates_last_build" and the check schedule are kept. Absent: the
    // window-shot mode, which has no updater and neither reads nor writes the user defaults.
    kestrix::UserDefaults* defaults = nullptr;
    // Schedules the automatic checks; absent: no automatic checks.
    kestrix::MainLoop* loop = nullptr;
    // Seconds since the epoch (wall time, since the last check is remembered across launches);
    // the system clock when empty.
    std::function<double()> wallClock;
    // Fetches feeds; the network when empty.
    std::unique_ptr<FeedFetcher> fetcher;
    BuildInfo build = BuildInfo::running();
    // The scheme and host (and port) of the update server, e.g. "https://orvella.me"; the feeds
    // lie under "/vantor/" there. Empty: feedBaseFromEnvironment().
    QString feedBase;
};

// The app's one object around updating: whether a check can start now, whether checks run on
// their own (at most once a day), whether beta versions are offered, and whether this launch runs
// a higher build than the last one (so the release notes show once). A check fetches the stable
// or the beta feed, as "updates_betas" says at that moment, and reports what it found through the
// signals; the windows above show it.
class Updates final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool canCheck READ canCheck NOTIFY canCheckChanged)
    Q_PROPERTY(bool checksAutomatically READ checksAutomatically WRITE setChecksAutomatically NOTIFY
                   checksAutomaticallyChanged)
    Q_PROPERTY(bool includesBetas READ includesBetas WRITE setIncludesBetas NOTIFY includesBetasChanged)

public:
    // The update window's coming and going, for the app delegate (which gives the app a visible
    // presence while it is on screen). The windows call the two notices below.
    struct UserDriver {
        std::function<void()> onShowsWindow = [] {};
        std::function<void()> onSessionEnded = [] {};

        // Gentle reminders: a found update of an automatic check is shown without taking focus.
        static constexpr bool supportsGentleScheduledUpdateReminders = true;

        // showsWindow: the update is shown in the update window (calls onShowsWindow).
        void willHandleShowingUpdate(bool showsWindow) const {
            if (showsWindow) onShowsWindow();
        }
        void willFinishUpdateSession() const { onSessionEnded(); }
    };

    static constexpr const char* betasKey = "updates_betas";
    static constexpr const char* lastBuildKey = "updates_last_build";
    static constexpr const char* automaticKey = "updates_automatic";
    static constexpr const char* lastCheckKey = "updates_last_check";
    static constexpr double checkInterval = 24 * 60 * 60;
    // The first automatic check of a launch waits this long, so start-up is not slowed down.
    static constexpr double firstCheckDelay = 60;

    explicit Updates(UpdatesSystem system, QObject* parent = nullptr);
    ~Updates() override;

    // "https://orvella.me", or the address in VANTOR_UPDATES_URL (without a final "/").
    static QString feedBaseFromEnvironment();

    // False in the window-shot mode: no updater, the check does nothing.
    bool available() const { return available_; }

    bool canCheck() const { return canCheck_; }
    bool checksAutomatically() const { return checksAutomatically_; }
    bool includesBetas() const { return includesBetas_; }
    void setChecksAutomatically(bool on);
    void setIncludesBetas(bool on);

    // A user-started check; does nothing while canCheck is false.
    void checkForUpdates();

    // The feed a check started now would fetch: "updates_betas" read at this moment.
    QUrl feedURL() const;

    // The running version, e.g. "1.0.0", and build, e.g. "1".
    QString version() const;
    QString buildText() const;
    bool isBetaBuild() const { return build_.beta; }
    qint64 build() const { return build_.build(); }

    UserDriver userDriver;
    // The build went up since the last launch; the app delegate shows the release notes once
    // and clears it.
    bool releaseNotesDue = false;

    // Records the running build under "updates_last_build" and answers whether a lower build was
    // stored there (false when none was).
    static bool noteBuild(kestrix::UserDefaults& defaults, qint64 build);

Q_SIGNALS:
    void canCheckChanged(bool canCheck);
    void checksAutomaticallyChanged(bool on);
    void includesBetasChanged(bool on);
    // A check found a build above the running one. userStarted: the user asked for this check.
    void updateFound(const vantor::AppcastItem& item, bool userStarted);
    // A user-started check found nothing newer than the running build.
    void upToDate();
    // A user-started check failed; the message says why.
    void checkFailed(const QString& message);

private:
    void startCheck(bool userStarted);
    void finishCheck(bool userStarted, const FetchResult& result);
    void setCanCheck(bool on);
    void scheduleAutomaticCheck();
    double wallNow() const;

    UpdatesSystem system_;
    BuildInfo build_;
    bool available_ = false;
    bool canCheck_ = false;
    bool checksAutomatically_ = true;
    bool includesBetas_ = false;
    // Raised whenever the automatic schedule changes, so a stale timer does nothing.
    std::shared_ptr<int> scheduleGeneration_;
};

} // namespace vantor
