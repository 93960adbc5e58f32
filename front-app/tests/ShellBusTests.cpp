// The KDE Plasma and GNOME Shell sources against stand-ins of KWin and the Shell on a private
// bus: what they load and read, what they believe (only the shell's own bus name), floods,
// restarts, and what the status tells the user.
#include "DesktopShells.h"
#include "QtWait.h"
#include "FrontApp/ShellReports.h"
#include "GnomeExtensionFrontApp.h"
#include "KWinScriptFrontApp.h"
#include "KestrixProtocol/QtMainLoop.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVirtualObject>
#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTimer>
#include <gtest/gtest.h>

using namespace kestrix::core;
using namespace qtwait;

namespace {

// One connection to the private bus, closed with this.
struct Connection {
    QString name;
    QDBusConnection bus;
    Connection(const std::string& address, const QString& label)
        : name(label), bus(QDBusConnection::connectToBus(QString::fromStdString(address), label)) {}
    ~Connection() { QDBusConnection::disconnectFromBus(name); }
};

// What every test here shares: the application object, a loop Qt drives, a private bus and an
// identity rule that sees no cgroups or desktop files.
struct ShellBusTest : WithApplication, ::testing::Test {
    testsupport::TempFolder folder;
    shelltest::PrivateBus privateBus{folder.path + "/bus.log"};
    kestrix::QtMainLoop loop;
    FrontAppIdentityRef identity = std::make_shared<const FrontAppIdentity>(
        folder.path + "/proc", std::vector<std::string>{folder.path + "/applications"});
    std::vector<std::string> logged;
    std::function<void(const std::string&)> log = [this](const std::string& line) {
        logged.push_back(line);
    };
    bool saidSomething(const std::string& part) const {
        for (const auto& line : logged)
            if (line.find(part) != std::string::npos) return true;
        return false;
    }
};

// ---------------------------------------------------------------------------------------------
// KWin

// KWin's /Scripting as far as the source uses it.
class StandInScripting final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.kwin.Scripting")
public:
    std::map<QString, QString> loaded; // plug-in name -> script path
    std::vector<QString> loads, unloads;
    std::vector<QString> texts; // each loaded script's text
    int starts = 0;
    bool refuse = false;

public Q_SLOTS:
    Q_SCRIPTABLE int loadScript(const QString& path, const QString& plugin) {
        loads.push_back(plugin);
        if (refuse || loaded.count(plugin)) return -1;
        loaded[plugin] = path;
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        texts.push_back(QString::fromUtf8(file.readAll()));
        return int(loads.size());
    }
    Q_SCRIPTABLE void start() { ++starts; }
    Q_SCRIPTABLE bool isScriptLoaded(const QString& plugin) { return loaded.count(plugin) > 0; }
    Q_SCRIPTABLE bool unloadScript(const QString& plugin) {
        unloads.push_back(plugin);
        return loaded.erase(plugin) > 0;
    }
};

// A stand-in KWin: owns org.kde.KWin, serves /Scripting and calls what a loaded script would.
struct StandInKWin {
    Connection connection;
    StandInScripting scripting;
    explicit StandInKWin(const std::string& address) : connection(address, "kwin") {
        connection.bus.registerObject("/Scripting", &scripting,
                                      QDBusConnection::ExportScriptableSlots);
        appear();
    }
    void appear() { connection.bus.interface()->registerService("org.kde.KWin"); }
    void vanish() { connection.bus.interface()->unregisterService("org.kde.KWin"); }
    // The bus name the last loaded script reports to, from the line the program put before it.
    QString target() const {
        if (scripting.texts.empty()) return {};
        auto match = QRegularExpression("service: \"([^\"]+)\"").match(scripting.texts.back());
        return match.captured(1);
    }
};

// Sends what the script sends, from any connection.
void activated(QDBusConnection& from, const QString& to, const QString& desktopFile,
               const QString& resourceClass, const QString& processID) {
    QDBusMessage call = QDBusMessage::createMethodCall(to, "/me/orvella/FrontApp",
                                                       "me.orvella.FrontApp1", "Activated");
    call << desktopFile << resourceClass << processID;
    from.send(call);
}

struct KWinTest : ShellBusTest {
    StandInKWin kwin{privateBus.address()};
    Connection programBus{privateBus.address(), "program"};
    std::string shipped = "callDBus(frontAppTarget.service, frontAppTarget.path);\n";

    std::unique_ptr<KWinScriptFrontApp> start(double checkSeconds = 10.0) {
        KWinScriptFrontApp::Options options{shipped, folder.path + "/run/vantor-front-app",
                                            "vantor", checkSeconds, 0.01};
        return std::make_unique<KWinScriptFrontApp>(loop, identity, programBus.bus, options, log);
    }
};

TEST_F(KWinTest, loadsItsOwnCopyOfTheScriptAndTakesWhatKWinReports) {
    auto source = start();
    int activations = 0;
    source->onActivate = [&] { ++activations; };
    ASSERT_TRUE(waitFor([&] { return kwin.scripting.starts == 1; }));
    std::string plugin = "vantor-front-app-vantor-" + std::to_string(::getpid());
    EXPECT_EQ(source->pluginName(), plugin);
    EXPECT_EQ(kwin.scripting.loaded.at(QString::fromStdString(plugin)).toStdString(),
              source->scriptPath());
    EXPECT_EQ(kwin.target(), programBus.bus.baseService());
    EXPECT_TRUE(kwin.scripting.texts.back().endsWith(QString::fromStdString(shipped)));
    EXPECT_EQ(QFile::permissions(QString::fromStdString(folder.path + "/run/vantor-front-app")) &
                  (QFileDevice::ReadOther | QFileDevice::ReadGroup),
              0);
    EXPECT_TRUE(source->status().working());

    struct Row {
        QString desktopFile, resourceClass, processID;
        std::optional<std::string> front;
        std::optional<std::int32_t> process;
    };
    for (const Row& row : std::initializer_list<Row>{
             {"org.kde.konsole", "konsole", "4242", "org.kde.konsole", 4242},
             {"/usr/share/applications/org.kde.dolphin.desktop", "dolphin", "77",
              "org.kde.dolphin", 77},
             {"", "Gimp-2.10", "abc", "Gimp-2.10", std::nullopt},
             {"", "", "0", std::nullopt, std::nullopt},
         }) {
        int before = activations;
        activated(kwin.connection.bus, kwin.target(), row.desktopFile, row.resourceClass,
                  row.processID);
        ASSERT_TRUE(waitFor([&] { return activations > before; }));
        EXPECT_EQ(frontID(*source), row.front) << row.resourceClass.toStdString();
        if (row.front) {
            EXPECT_EQ(source->frontmost()->processID, row.process);
        }
    }
}

// The app of a process: by the process itself (none here), else by the window in front when it is
// that process's.
TEST_F(KWinTest, theAppOfAProcessIsTheWindowInFrontsWhenItIsThatProcesss) {
    auto source = start();
    ASSERT_TRUE(waitFor([&] { return kwin.scripting.starts == 1; }));
    EXPECT_EQ(source->bundleID(42), std::nullopt) << "no window in front yet";
    activated(kwin.connection.bus, kwin.target(), "org.example.Editor", "editor", "42");
    ASSERT_TRUE(waitFor([&] { return frontID(*source) == "org.example.Editor"; }));
    EXPECT_EQ(source->bundleID(42), "org.example.Editor");
    EXPECT_EQ(source->bundleID(43), std::nullopt);
}

TEST_F(KWinTest, aScriptThatCannotBeWrittenMakesTheStatusUnavailable) {
    folder.write("run/vantor-front-app", "a file where the folder should be");
    auto source = start();
    EXPECT_FALSE(source->status().working());
    EXPECT_NE(source->status().reason.find("the KWin script could not be written"),
              std::string::npos)
        << source->status().reason;
    EXPECT_TRUE(kwin.scripting.loads.empty());
}

TEST_F(KWinTest, aPeerThatIsNotKWinIsIgnoredAndAFloodEndsWithItsLastReport) {
    auto source = start();
    int activations = 0;
    source->onActivate = [&] { ++activations; };
    ASSERT_TRUE(waitFor([&] { return kwin.scripting.starts == 1; }));
    activated(kwin.connection.bus, kwin.target(), "org.example.Editor", "editor", "10");
    ASSERT_TRUE(waitFor([&] { return frontID(*source) == "org.example.Editor"; }));

    // Another peer makes the same call, also one that names KWin's bus name as the target.
    Connection stranger(privateBus.address(), "stranger");
    for (int i = 0; i < 50; ++i)
        activated(stranger.bus, kwin.target(), "org.example.Intruder", "intruder", "11");
    // KWin's next report comes after all of the stranger's have been delivered.
    activated(kwin.connection.bus, kwin.target(), "org.example.Modeller", "modeller", "12");
    ASSERT_TRUE(waitFor([&] { return frontID(*source) == "org.example.Modeller"; }));
    EXPECT_TRUE(saidSomething("ignored a report of the app in front from " +
                              stranger.bus.baseService().toStdString() + ", which is not KWin"));

    // A thousand changes as fast as KWin can send them; the last one stands.
    int before = activations;
    for (int i = 0; i < 1000; ++i)
        activated(kwin.connection.bus, kwin.target(), QString("org.example.App%1").arg(i), "app",
                  QString::number(100 + i));
    ASSERT_TRUE(waitFor([&] { return frontID(*source) == "org.example.App999"; }));
    EXPECT_EQ(source->frontmost()->processID, 1099);
    EXPECT_GT(activations, before);
    // Still answering at once after the flood.
    activated(kwin.connection.bus, kwin.target(), "org.example.Editor", "editor", "10");
    ASSERT_TRUE(waitFor([&] { return frontID(*source) == "org.example.Editor"; }));
}

TEST_F(KWinTest, aRestartedKWinGetsTheScriptAgainAndTheStatusSaysWhileItIsAway) {
    auto source = start();
    int statusChanges = 0;
    source->onStatusChange = [&] { ++statusChanges; };
    ASSERT_TRUE(waitFor([&] { return kwin.scripting.starts == 1; }));
    activated(kwin.connection.bus, kwin.target(), "org.example.Editor", "editor", "10");
    ASSERT_TRUE(waitFor([&] { return frontID(*source) == "org.example.Editor"; }));

    kwin.vanish();
    kwin.scripting.loaded.clear(); // a new KWin knows no scripts
    ASSERT_TRUE(waitFor([&] { return !source->status().working(); }));
    EXPECT_EQ(statusChanges, 1);
    EXPECT_EQ(source->frontmost(), std::nullopt);
    EXPECT_NE(source->status().reason.find("KWin is not on the session bus"), std::string::npos);

    kwin.appear();
    ASSERT_TRUE(waitFor([&] { return source->status().working() && kwin.scripting.starts == 2; }));
    EXPECT_EQ(kwin.scripting.loaded.size(), 1u);
    EXPECT_EQ(frontID(*source), std::nullopt) << "nothing is known until the script reports";
    activated(kwin.connection.bus, kwin.target(), "org.example.Modeller", "modeller", "12");
    ASSERT_TRUE(waitFor([&] { return frontID(*source) == "org.example.Modeller"; }));
}

TEST_F(KWinTest, aScriptUnloadedBySomeoneElseIsLoadedAgainOncePerCheck) {
    auto source = start(0.05);
    ASSERT_TRUE(waitFor([&] { return kwin.scripting.starts == 1; }));
    QString plugin = QString::fromStdString(source->pluginName());
    kwin.scripting.loaded.erase(plugin);
    ASSERT_TRUE(waitFor([&] { return kwin.scripting.loaded.count(plugin) == 1; }));
    EXPECT_TRUE(saidSomething("was unloaded; loading it again"));
    // While it stays loaded, the checks load nothing more.
    std::size_t loads = kwin.scripting.loads.size();
    int checks = 0;
    auto counter = loop.repeat(0.05, 0.01, [&] { ++checks; });
    ASSERT_TRUE(waitFor([&] { return checks >= 10; }));
    EXPECT_EQ(kwin.scripting.loads.size(), loads);
    EXPECT_TRUE(source->status().working());
}

// A KWin that has just started may not take the script yet: a few tries, then the status says
// so, and the periodic check tries once more.
TEST_F(KWinTest, aScriptKWinRefusesIsTriedAgainThenTheStatusSaysSo) {
    kwin.scripting.refuse = true;
    auto source = start(0.3);
    ASSERT_TRUE(waitFor([&] { return !source->status().working(); }));
    EXPECT_EQ(kwin.scripting.loads.size(), 6u) << "the first load and five more";
    EXPECT_NE(source->status().reason.find("KWin did not load the script"), std::string::npos);
    EXPECT_EQ(source->frontmost(), std::nullopt);
    kwin.scripting.refuse = false;
    ASSERT_TRUE(waitFor([&] { return source->status().working(); }));
    EXPECT_EQ(kwin.scripting.loaded.size(), 1u);
}

TEST_F(KWinTest, leavingUnloadsTheScriptAndRemovesTheCopyAndCopiesOfDeadProgramsGoAtStart) {
    // A copy left by a program that died.
    pid_t dead = ::fork();
    if (dead == 0) ::_exit(0);
    ::waitpid(dead, nullptr, 0);
    std::string stale = "kestrix-" + std::to_string(dead);
    folder.write("run/vantor-front-app/" + stale + ".js", "old");
    // And one of a program that runs (this one, as another program name).
    std::string living = "kestrix-" + std::to_string(::getppid());
    folder.write("run/vantor-front-app/" + living + ".js", "alive");

    auto source = start();
    ASSERT_TRUE(waitFor([&] { return kwin.scripting.starts == 1; }));
    std::string copy = source->scriptPath();
    QString plugin = QString::fromStdString(source->pluginName());
    auto unloaded = [&](const std::string& name) {
        auto& u = kwin.scripting.unloads;
        return std::count(u.begin(), u.end(), QString::fromStdString(name));
    };
    EXPECT_EQ(unloaded("vantor-front-app-" + stale), 1);
    EXPECT_EQ(unloaded("vantor-front-app-" + living), 0);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(folder.path + "/run/vantor-front-app/" +
                                                      stale + ".js")));
    EXPECT_TRUE(QFile::exists(QString::fromStdString(folder.path + "/run/vantor-front-app/" +
                                                     living + ".js")));
    EXPECT_TRUE(QFile::exists(QString::fromStdString(copy)));

    source.reset();
    EXPECT_EQ(kwin.scripting.loaded.count(plugin), 0u);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(copy)));
}

// ---------------------------------------------------------------------------------------------
// GNOME Shell

// The extension's Focus value, (ssi) on the bus.
struct Focus {
    QString appID, windowClass;
    int processID = 0;
};

} // namespace

Q_DECLARE_METATYPE(Focus)

QDBusArgument& operator<<(QDBusArgument& argument, const Focus& focus) {
    argument.beginStructure();
    argument << focus.appID << focus.windowClass << focus.processID;
    argument.endStructure();
    return argument;
}
const QDBusArgument& operator>>(const QDBusArgument& argument, Focus& focus) {
    argument.beginStructure();
    argument >> focus.appID >> focus.windowClass >> focus.processID;
    argument.endStructure();
    return argument;
}

namespace {

QVariant focusValue(const Focus& focus) {
    static bool registered = (qDBusRegisterMetaType<Focus>(), true);
    (void)registered;
    return QVariant::fromValue(focus);
}

// The extension's object: Properties.Get of Focus, and PropertiesChanged sent by the test.
class StandInFocus final : public QDBusVirtualObject {
    Q_OBJECT
public:
    Focus focus;
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != "org.freedesktop.DBus.Properties" || message.member() != "Get")
            return false;
        QDBusMessage reply =
            message.createReply(QVariant::fromValue(QDBusVariant(focusValue(focus))));
        return connection.send(reply);
    }
};

// The Shell's org.gnome.Shell.Extensions as far as the source uses it.
class StandInExtensions final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.Shell.Extensions")
public:
    QVariantMap info; // what GetExtensionInfo answers
    std::vector<QString> enabled;
    std::function<void()> onEnable = [] {};

public Q_SLOTS:
    Q_SCRIPTABLE QVariantMap GetExtensionInfo(const QString&) { return info; }
    Q_SCRIPTABLE bool EnableExtension(const QString& uuid) {
        enabled.push_back(uuid);
        onEnable();
        return true;
    }
};

struct StandInShell {
    Connection connection;
    StandInExtensions extensions;
    StandInFocus focus;
    explicit StandInShell(const std::string& address) : connection(address, "shell") {
        connection.bus.registerObject("/org/gnome/Shell", &extensions,
                                      QDBusConnection::ExportScriptableSlots);
        connection.bus.interface()->registerService("org.gnome.Shell");
    }
    void runExtension() {
        connection.bus.registerVirtualObject("/me/orvella/FrontApp", &focus);
        extensions.info = {{"state", 1.0}};
    }
    void stopExtension() { connection.bus.unregisterObject("/me/orvella/FrontApp"); }
    void stateChanged(double state) {
        QDBusMessage signal = QDBusMessage::createSignal(
            "/org/gnome/Shell", "org.gnome.Shell.Extensions", "ExtensionStateChanged");
        signal << QString(FRONT_APP_EXTENSION_UUID) << QVariantMap{{"state", state}};
        connection.bus.send(signal);
    }
    void vanish() { connection.bus.interface()->unregisterService("org.gnome.Shell"); }
    void appear() { connection.bus.interface()->registerService("org.gnome.Shell"); }
};

// Announces a new focus as the extension does, from any connection.
void focusChanged(QDBusConnection& from, const Focus& focus) {
    QDBusMessage signal = QDBusMessage::createSignal(
        "/me/orvella/FrontApp", "org.freedesktop.DBus.Properties", "PropertiesChanged");
    signal << QString("me.orvella.FrontApp1") << QVariantMap{{"Focus", focusValue(focus)}}
           << QStringList();
    from.send(signal);
}

struct GnomeTest : ShellBusTest {
    StandInShell shell{privateBus.address()};
    Connection programBus{privateBus.address(), "program"};
    std::unique_ptr<GnomeExtensionFrontApp> start() {
        return std::make_unique<GnomeExtensionFrontApp>(loop, identity, programBus.bus, log);
    }
};

TEST_F(GnomeTest, readsTheExtensionsFocusAndFollowsItsChanges) {
    shell.focus.focus = {"org.gnome.TextEditor.desktop", "org.gnome.TextEditor", 321};
    shell.runExtension();
    auto source = start();
    ASSERT_TRUE(waitFor([&] { return frontID(*source) == "org.gnome.TextEditor"; }));
    EXPECT_EQ(source->frontmost()->processID, 321);
    EXPECT_TRUE(source->status().working());

    struct Row {
        Focus focus;
        std::optional<std::string> front;
    };
    for (const Row& row : std::initializer_list<Row>{
             {{"window:7", "Modeller", 55}, "Modeller"},
             {{"org.example.Editor.desktop", "", 0}, "org.example.Editor"},
             {{"", "", 0}, std::nullopt},
             {{"org.gnome.Nautilus.desktop", "org.gnome.Nautilus", 9}, "org.gnome.Nautilus"},
         }) {
        focusChanged(shell.connection.bus, row.focus);
        ASSERT_TRUE(waitFor([&] { return frontID(*source) == row.front; }))
            << row.focus.appID.toStdString();
    }
}

// A change announced without its value (the property only named as invalidated) is read.
TEST_F(GnomeTest, aChangeAnnouncedWithoutItsValueIsRead) {
    shell.focus.focus = {"org.example.Editor.desktop", "", 10};
    shell.runExtension();
    auto source = start();
    ASSERT_TRUE(waitFor([&] { return frontID(*source) == "org.example.Editor"; }));
    shell.focus.focus = {"org.example.Modeller.desktop", "", 12};
    QDBusMessage signal = QDBusMessage::createSignal(
        "/me/orvella/FrontApp", "org.freedesktop.DBus.Properties", "PropertiesChanged");
    signal << QString("me.orvella.FrontApp1") << QVariantMap() << QStringList{"Focus"};
    shell.connection.bus.send(signal);
    ASSERT_TRUE(waitFor([&] { return frontID(*source) == "org.example.Modeller"; }));
}

TEST_F(GnomeTest, aPeerThatIsNotTheShellIsIgnoredAndAFloodEndsWithItsLastChange) {
    shell.focus.focus = {"org.example.Editor.desktop", "", 10};
    shell.runExtension();
    auto source = start();
    ASSERT_TRUE(waitFor([&] { return frontID(*source) == "org.example.Editor"; }));
    Connection stranger(privateBus.address(), "stranger");
    for (int i = 0; i < 50; ++i)
        focusChanged(stranger.bus, {"org.example.Intruder.desktop", "", 11});
    focusChanged(shell.connection.bus, {"org.example.Modeller.desktop", "", 12});
    ASSERT_TRUE(waitFor([&] { return frontID(*source) == "org.example.Modeller"; }));

    for (int i = 0; i < 1000; ++i)
        focusChanged(shell.connection.bus,
                     {QString("org.example.App%1.desktop").arg(i), "", 100 + i});
    ASSERT_TRUE(waitFor([&] { return frontID(*source) == "org.example.App999"; }));
    EXPECT_EQ(source->frontmost()->processID, 1099);
    focusChanged(shell.connection.bus, {"org.example.Editor.desktop", "", 10});
    ASSERT_TRUE(waitFor([&] { return frontID(*source) == "org.example.Editor"; }));
}

TEST_F(GnomeTest, withoutTheExtensionTheStatusSaysWhatToDoAndEnablesItOnlyWhenAsked) {
    struct Row {
        QVariantMap info;
        bool canEnable;
        const char* says;
    };
    const std::string command =
        std::string("\n    gnome-extensions enable ") + FRONT_APP_EXTENSION_UUID;
    for (const Row& row : std::initializer_list<Row>{
             {{}, false, "GNOME Shell has not loaded since it was installed"},
             {{{"state", 2.0}}, true, "is not enabled"},
             {{{"state", 6.0}}, true, "is not enabled"},
         }) {
        shell.extensions.info = row.info;
        auto source = start();
        ASSERT_TRUE(waitFor([&] { return !source->status().working(); }));
        FrontAppStatus status = source->status();
        EXPECT_NE(status.reason.find(command), std::string::npos) << status.reason;
        EXPECT_NE(status.reason.find("log out and in"), std::string::npos) << status.reason;
        EXPECT_NE(status.reason.find(row.says), std::string::npos) << status.reason;
        EXPECT_EQ(status.action.has_value(), row.canEnable) << status.reason;
        EXPECT_EQ(source->frontmost(), std::nullopt);
    }
    EXPECT_TRUE(shell.extensions.enabled.empty()) << "nothing is enabled unasked";

    shell.extensions.info = {{"state", 2.0}};
    auto source = start();
    ASSERT_TRUE(waitFor([&] { return source->status().action.has_value(); }));
    shell.extensions.onEnable = [&] {
        shell.focus.focus = {"org.example.Editor.desktop", "", 10};
        shell.runExtension();
        shell.stateChanged(1.0);
    };
    source->status().action->perform();
    ASSERT_TRUE(waitFor([&] { return source->status().working(); }));
    EXPECT_EQ(shell.extensions.enabled, std::vector<QString>{FRONT_APP_EXTENSION_UUID});
    EXPECT_EQ(frontID(*source), "org.example.Editor");

    // Disabled again (by the user, or the Shell's lock screen): unavailable once more.
    shell.stopExtension();
    shell.extensions.info = {{"state", 2.0}};
    shell.stateChanged(2.0);
    ASSERT_TRUE(waitFor([&] { return !source->status().working(); }));
    EXPECT_EQ(source->frontmost(), std::nullopt);
}

// An extension in error gives the Shell's reason; one that the Shell holds out of date says that
// Vantor wants updating and how to run the extension meanwhile.
TEST_F(GnomeTest, anExtensionThatTheShellDoesNotRunIsReportedWithItsOwnAdvice) {
    struct Row {
        QVariantMap info;
        std::vector<const char*> says;
        const char* never;
    };
    for (const Row& row : std::initializer_list<Row>{
             {{{"state", 3.0}, {"error", "TypeError: x is undefined"}},
              {"(TypeError: x is undefined)", "Reinstalling Vantor"},
              "newer"},
             {{{"state", 4.0}, {"error", "Not compatible"}},
              {"newer than this Vantor knows", "Update Vantor",
               "\n    gsettings set org.gnome.shell disable-extension-version-validation true"},
              "Reinstalling"},
         }) {
        shell.extensions.info = row.info;
        auto source = start();
        ASSERT_TRUE(waitFor([&] { return !source->status().working(); }));
        const std::string reason = source->status().reason;
        for (const char* part : row.says)
            EXPECT_NE(reason.find(part), std::string::npos) << part << " in " << reason;
        EXPECT_EQ(reason.find(row.never), std::string::npos) << reason;
        EXPECT_FALSE(source->status().action.has_value());
    }
}

TEST_F(GnomeTest, aRestartedShellIsReadAgain) {
    shell.focus.focus = {"org.example.Editor.desktop", "", 10};
    shell.runExtension();
    auto source = start();
    ASSERT_TRUE(waitFor([&] { return frontID(*source) == "org.example.Editor"; }));
    shell.vanish();
    ASSERT_TRUE(waitFor([&] { return !source->status().working(); }));
    EXPECT_EQ(source->frontmost(), std::nullopt);
    shell.focus.focus = {"org.example.Modeller.desktop", "", 12};
    shell.appear();
    ASSERT_TRUE(waitFor([&] { return frontID(*source) == "org.example.Modeller"; }));
    EXPECT_TRUE(source->status().working());
}

} // namespace

#include "ShellBusTests.moc"
