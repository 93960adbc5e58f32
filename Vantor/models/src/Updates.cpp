#include "VantorModels/Updates.h"

#include "KestrixProtocol/MainLoop.h"
#include "KestrixProtocol/UserDefaults.h"
#include "Vantor/Log.h"

#include <QDateTime>
#include <algorithm>
#include <cstdlib>
#include <limits>

namespace vantor {

namespace {

// How often a pending automatic check looks at the wall clock again: the loop's clock stands
// still while the computer sleeps, the wall clock does not.
constexpr double recheckInterval = 60 * 60;

bool storedBool(kestrix::UserDefaults& defaults, const char* key, bool fallback) {
    std::optional<nlohmann::json> value = defaults.value(key);
    if (!value) return fallback;
    if (value->is_boolean()) return value->get<bool>();
    if (value->is_number()) return value->get<double>() != 0;
    return fallback;
}

} // namespace

qint64 BuildInfo::build() const {
    return Appcast::parseBuild(QString::fromStdString(buildText)).value_or(0);
}

Updates::Updates(UpdatesSystem system, QObject* parent)
    : QObject(parent), system_(std::move(system)), build_(system_.build),
      scheduleGeneration_(std::make_shared<int>(0)) {
    if (!system_.wallClock)
        system_.wallClock = [] { return QDateTime::currentMSecsSinceEpoch() / 1000.0; };
    if (system_.feedBase.isEmpty()) system_.feedBase = feedBaseFromEnvironment();

    kestrix::UserDefaults* defaults = system_.defaults;
    if (!defaults) {
        // The window-shot mode: shows the switches as a fresh install of this build would.
        includesBetas_ = build_.beta;
        checksAutomatically_ = true;
        return;
    }
    if (!system_.fetcher) system_.fetcher = std::make_unique<NetworkFeedFetcher>();
    available_ = true;
    // A beta build starts with betas included and a release build without; a choice the user
    // made is never overwritten.
    if (!defaults->value(betasKey)) defaults->set(betasKey, build_.beta);
    includesBetas_ = storedBool(*defaults, betasKey, false);
    releaseNotesDue = noteBuild(*defaults, build_.build());
    checksAutomatically_ = storedBool(*defaults, automaticKey, true);
    canCheck_ = true;
    scheduleAutomaticCheck();
}

Updates::~Updates() = default;

QString Updates::feedBaseFromEnvironment() {
    QString base = qEnvironmentVariable("VANTOR_UPDATES_URL").trimmed();
    if (base.isEmpty()) base = QStringLiteral("https://orvella.me");
    while (base.endsWith(u'/')) base.chop(1);
    return base;
}

bool Updates::noteBuild(kestrix::UserDefaults& defaults, qint64 build) {
    std::optional<qint64> stored;
    if (std::optional<nlohmann::json> value = defaults.value(lastBuildKey)) {
        if (value->is_number_unsigned()) {
            if (value->get<std::uint64_t>() <= std::uint64_t(std::numeric_limits<qint64>::max()))
                stored = qint64(value->get<std::uint64_t>());
        } else if (value->is_number_integer()) {
            stored = value->get<qint64>();
        }
    }
    defaults.set(lastBuildKey, build);
    return stored && *stored < build;
}

void Updates::setChecksAutomatically(bool on) {
    if (available_) system_.defaults->set(automaticKey, on);
    if (on == checksAutomatically_) return;
    checksAutomatically_ = on;
    scheduleAutomaticCheck();
    Q_EMIT checksAutomaticallyChanged(on);
}

void Updates::setIncludesBetas(bool on) {
    if (available_) system_.defaults->set(betasKey, on);
    if (on == includesBetas_) return;
    includesBetas_ = on;
    Q_EMIT includesBetasChanged(on);
}

QUrl Updates::feedURL() const {
    // Read at the moment of the check, so a change made since (here or by another process)
    // counts.
    const bool betas = system_.defaults ? storedBool(*system_.defaults, betasKey, false) : includesBetas_;
    return QUrl(system_.feedBase + (betas ? QStringLiteral("/vantor/appcast-beta.xml") : QStringLiteral("/vantor/appcast.xml")));
}

QString Updates::version() const { return QString::fromStdString(build_.version); }

QString Updates::buildText() const { return QString::fromStdString(build_.buildText); }

void Updates::checkForUpdates() {
    if (!available_ || !canCheck_) return;
    startCheck(true);
}

void Updates::setCanCheck(bool on) {
    if (on == canCheck_) return;
    canCheck_ = on;
    Q_EMIT canCheckChanged(on);
}

double Updates::wallNow() const { return system_.wallClock(); }

void Updates::startCheck(bool userStarted) {
    setCanCheck(false);
    ++*scheduleGeneration_; // the pending automatic check is replaced by this one
    const QUrl url = feedURL();
    Log::info("checking for updates: " + url.toString().toStdString());
    system_.fetcher->fetch(url, [this, userStarted](FetchResult result) { finishCheck(userStarted, result); });
}

void Updates::finishCheck(bool userStarted, const FetchResult& result) {
    system_.defaults->set(lastCheckKey, wallNow());
    setCanCheck(true);
    QString error = result.error;
    AppcastRead read;
    if (error.isEmpty()) {
        read = Appcast::read(result.body);
        error = read.error;
    }
    scheduleAutomaticCheck();
    if (!error.isEmpty()) {
        Log::error("update check failed: " + error.toStdString());
        if (userStarted) Q_EMIT checkFailed(error);
        return;
    }
    if (read.newest && read.newest->build > build_.build()) {
        Log::info("update found: build " + std::to_string(read.newest->build));
        Q_EMIT updateFound(*read.newest, userStarted);
    } else if (userStarted) {
        Q_EMIT upToDate();
    }
}

void Updates::scheduleAutomaticCheck() {
    const int generation = ++*scheduleGeneration_;
    if (!available_ || !system_.loop || !checksAutomatically_ || !canCheck_) return;
    kestrix::UserDefaults& defaults = *system_.defaults;
    const double now = wallNow();
    std::optional<double> last = defaults.get<double>(lastCheckKey);
    if (last && *last > now) {
        // The clock was set back past the last check: count from now, or no check would come.
        defaults.set(lastCheckKey, now);
        last = now;
    }
    const double due = last ? *last + checkInterval - now : 0;
    // The first look of a launch comes a little after start-up; then the wall clock is asked
    // again every hour until the check is due.
    const bool firstLook = generation == 1;
    double delay = std::min(due, recheckInterval);
    if (firstLook) delay = std::max(delay, firstCheckDelay);
    std::weak_ptr<int> alive = scheduleGeneration_;
    system_.loop->after(std::max(delay, 0.0), [this, alive, generation] {
        std::shared_ptr<int> current = alive.lock();
        if (!current || *current != generation) return;
        std::optional<double> last = system_.defaults->get<double>(lastCheckKey);
        if (!last || *last + checkInterval <= wallNow())
            startCheck(false);
        else
            scheduleAutomaticCheck();
    });
}

} // namespace vantor

#include "VantorModels/moc_Updates.cpp"
