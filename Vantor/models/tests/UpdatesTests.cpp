#include "KestrixProtocol/UserDefaults.h"
#include "KestrixProtocol/VirtualMainLoop.h"
#include "VantorModels/Updates.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace vantor;

namespace {

// Hands out no answer by itself: the test answers each fetch.
struct FakeFetcher final : FeedFetcher {
    std::vector<QUrl>* urls;
    std::vector<Done>* pending;
    FakeFetcher(std::vector<QUrl>* urls, std::vector<Done>* pending) : urls(urls), pending(pending) {}
    void fetch(const QUrl& url, Done done) override {
        urls->push_back(url);
        pending->push_back(std::move(done));
    }
};

const QByteArray feedWithBuild42 =
    "<rss><channel><item><sparkle:version>42</sparkle:version><sparkle:shortVersionString>4.2"
    "</sparkle:shortVersionString><enclosure url=\"https://example.org/v42\"/></item></channel></rss>";

struct Harness {
    QTemporaryDir folder;
    kestrix::UserDefaults defaults{folder.filePath("defaults.json").toStdString()};
    kestrix::VirtualMainLoop loop;
    double wallStart = 1'800'000'000;
    std::vector<QUrl> urls;
    std::vector<FeedFetcher::Done> pending;
    std::vector<std::string> events;
    std::unique_ptr<Updates> updates;

    void start(const char* build = "41", bool beta = false) {
        UpdatesSystem system;
        system.defaults = &defaults;
        system.loop = &loop;
        system.wallClock = [this] { return wallStart + loop.now(); };
        system.fetcher = std::make_unique<FakeFetcher>(&urls, &pending);
        system.build = BuildInfo{"4.1", build, beta};
        system.feedBase = "https://feeds.test";
        updates = std::make_unique<Updates>(std::move(system));
        QObject::connect(updates.get(), &Updates::updateFound, [this](const AppcastItem& item, bool user) {
            events.push_back("found " + std::to_string(item.build) + (user ? " user" : " auto"));
        });
        QObject::connect(updates.get(), &Updates::upToDate, [this] { events.push_back("up to date"); });
        QObject::connect(updates.get(), &Updates::checkFailed,
                         [this](const QString& why) { events.push_back("failed: " + why.toStdString()); });
    }

    void answer(FetchResult result) {
        ASSERT_FALSE(pending.empty());
        auto done = std::move(pending.front());
        pending.erase(pending.begin());
        done(std::move(result));
    }
};

} // namespace

TEST(UpdatesTest, BetaChoiceIsSeededOnceFromTheBuild) {
    const struct {
        bool betaBuild;
        std::optional<bool> stored;
        bool includesBetas;
    } cases[] = {{false, {}, false}, {true, {}, true}, {true, false, false}, {false, true, true}};
    for (const auto& c : cases) {
        Harness h;
        if (c.stored) h.defaults.set(Updates::betasKey, *c.stored);
        h.start("41", c.betaBuild);
        EXPECT_EQ(h.updates->includesBetas(), c.includesBetas);
        EXPECT_EQ(h.defaults.get<bool>(Updates::betasKey), c.includesBetas);
    }
}

TEST(UpdatesTest, NoteBuildIsDueOnlyForAHigherBuildThanStored) {
    const struct {
        std::optional<nlohmann::json> stored;
        bool due;
    } cases[] = {{{}, false}, {41, true}, {42, false}, {43, false}, {-5, true}, {"41", false}, {41.5, false}};
    for (const auto& c : cases) {
        Harness h;
        if (c.stored) h.defaults.set(Updates::lastBuildKey, *c.stored);
        h.start("42");
        EXPECT_EQ(h.updates->releaseNotesDue, c.due) << (c.stored ? c.stored->dump() : "none");
        EXPECT_EQ(h.defaults.value(Updates::lastBuildKey), nlohmann::json(42));
    }
}

TEST(UpdatesTest, MalformedBuildNumbersCountAsZero) {
    const struct {
        const char* text;
        qint64 build;
    } cases[] = {{"17", 17}, {"+17", 17}, {"-2", -2}, {"", 0}, {"1.0", 0}, {"x", 0}, {"99999999999999999999", 0}};
    for (const auto& c : cases) EXPECT_EQ((BuildInfo{"1.0.0", c.text, false}.build()), c.build) << c.text;
}

TEST(UpdatesTest, WindowShotModeHasNoUpdaterAndLeavesTheDefaultsAlone) {
    UpdatesSystem system;
    system.build = BuildInfo{"1.0.0", "3", true};
    Updates updates(std::move(system));
    EXPECT_FALSE(updates.available());
    EXPECT_FALSE(updates.canCheck());
    EXPECT_TRUE(updates.checksAutomatically());
    EXPECT_TRUE(updates.includesBetas());
    EXPECT_FALSE(updates.releaseNotesDue);
    updates.setIncludesBetas(false);
    updates.checkForUpdates(); // nothing to fetch with; must not crash
    EXPECT_FALSE(updates.includesBetas());
}

TEST(UpdatesTest, TheFeedIsChosenWhenTheCheckStarts) {
    Harness h;
    h.start();
    h.updates->setIncludesBetas(true);
    h.updates->checkForUpdates();
    h.answer({feedWithBuild42, {}});
    h.defaults.set(Updates::betasKey, false); // as another process would
    h.updates->checkForUpdates();
    EXPECT_EQ(h.urls, (std::vector<QUrl>{QUrl("https://feeds.test/vantor/appcast-beta.xml"),
                                         QUrl("https://feeds.test/vantor/appcast.xml")}));
}

TEST(UpdatesTest, AUserCheckReportsWhatItFound) {
    const struct {
        const char* running;
        FetchResult answer;
        std::string event;
    } cases[] = {
        {"41", {feedWithBuild42, {}}, "found 42 user"},
        {"42", {feedWithBuild42, {}}, "up to date"},
        {"43", {feedWithBuild42, {}}, "up to date"},
        {"41", {"<rss><channel><item>", {}}, "failed: The update feed ends too early (line 1)."},
        {"41", {{}, "The update server answered 404 Not Found."},
         "failed: The update server answered 404 Not Found."},
    };
    for (const auto& c : cases) {
        Harness h;
        h.start(c.running);
        std::vector<bool> canCheck;
        QObject::connect(h.updates.get(), &Updates::canCheckChanged, [&](bool on) { canCheck.push_back(on); });
        h.updates->checkForUpdates();
        h.updates->checkForUpdates(); // ignored while the first runs
        EXPECT_EQ(h.urls.size(), 1u);
        h.answer(c.answer);
        EXPECT_EQ(h.events, std::vector<std::string>{c.event}) << c.running;
        EXPECT_EQ(canCheck, (std::vector<bool>{false, true}));
        EXPECT_EQ(h.defaults.get<double>(Updates::lastCheckKey), h.wallStart);
    }
}

TEST(UpdatesTest, AutomaticChecksComeAtMostOnceADayAndSayNothingWhenNothingIsNew) {
    Harness h;
    h.start("42");
    h.loop.advance(59);
    EXPECT_TRUE(h.urls.empty());
    h.loop.advance(1); // the first check of a launch waits a minute
    ASSERT_EQ(h.urls.size(), 1u);
    h.answer({feedWithBuild42, {}});
    h.loop.advance(24 * 3600 - 61);
    EXPECT_EQ(h.urls.size(), 1u);
    h.loop.advance(61);
    ASSERT_EQ(h.urls.size(), 2u);
    h.answer({{}, "offline"});
    EXPECT_TRUE(h.events.empty());

    h.updates->setChecksAutomatically(false);
    h.loop.advance(3 * 24 * 3600);
    EXPECT_EQ(h.urls.size(), 2u);
    EXPECT_EQ(h.defaults.get<bool>(Updates::automaticKey), false);
}

TEST(UpdatesTest, AutomaticCheckCountsFromTheLastCheckOfAnEarlierLaunch) {
    const struct {
        double lastCheckAgo; // seconds before the launch; negative: the clock was set back
        double firstCheckAfter;
    } cases[] = {{23 * 3600, 3600}, {20 * 3600, 4 * 3600}, {3 * 24 * 3600, 60}, {-5 * 3600, 24 * 3600}};
    for (const auto& c : cases) {
        Harness h;
        h.defaults.set(Updates::lastCheckKey, h.wallStart - c.lastCheckAgo);
        h.start("42");
        h.loop.advance(c.firstCheckAfter - 1);
        EXPECT_TRUE(h.urls.empty()) << c.lastCheckAgo;
        h.loop.advance(1);
        EXPECT_EQ(h.urls.size(), 1u) << c.lastCheckAgo;
    }
}

TEST(UpdatesTest, AnAutomaticCheckFindingANewerBuildReportsIt) {
    Harness h;
    h.defaults.set(Updates::automaticKey, false);
    h.start("41");
    EXPECT_FALSE(h.updates->checksAutomatically());
    h.loop.advance(3600);
    EXPECT_TRUE(h.urls.empty());
    h.updates->setChecksAutomatically(true);
    h.loop.advance(0);
    ASSERT_EQ(h.urls.size(), 1u);
    h.answer({feedWithBuild42, {}});
    EXPECT_EQ(h.events, std::vector<std::string>{"found 42 auto"});
}

TEST(UpdatesTest, UserDriverCallsOnShowsWindowOnlyForAShownUpdate) {
    int shows = 0, ends = 0;
    Updates::UserDriver driver;
    driver.onShowsWindow = [&] { ++shows; };
    driver.onSessionEnded = [&] { ++ends; };
    driver.willHandleShowingUpdate(false);
    EXPECT_EQ(shows, 0);
    driver.willHandleShowingUpdate(true);
    driver.willFinishUpdateSession();
    EXPECT_EQ(shows, 1);
    EXPECT_EQ(ends, 1);
}
