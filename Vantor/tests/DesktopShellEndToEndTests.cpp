// The real programs under the desktop shells of KDE Plasma and GNOME, each headless on a private
// session bus: a simulated SpaceMouse in a real `kestrix`, a real `vantor` recording what it would
// post, a client of the broker that claims another app, and two Wayland windows brought to the
// front by the shell. The device goes to the claimant of the app in front and back, as on X11.
#include "DesktopShells.h"
#include "ProcessSupport.h"

#include <fstream>
#include <string>

namespace {

struct Desktop {
    virtual ~Desktop() = default;
    virtual std::string display() const = 0;
    virtual std::string name() const = 0; // XDG_CURRENT_DESKTOP
    virtual bool activate(const std::string& appID) = 0;
};

// The environment of both programs in the session.
std::map<std::string, std::string> programEnvironment(const shelltest::Session& session,
                                                      const Desktop& desktop,
                                                      const proc::Home& home) {
    return {{"WAYLAND_DISPLAY", desktop.display()},
            {"XDG_CURRENT_DESKTOP", desktop.name()},
            {"XDG_SESSION_TYPE", "wayland"},
            {"XDG_RUNTIME_DIR", session.runtime},
            {"DBUS_SESSION_BUS_ADDRESS", session.bus->address()},
            {"XDG_DATA_HOME", home.path + "/data"},
            {"XDG_DATA_DIRS", home.path + "/data"},
            {"QT_QPA_PLATFORM", "wayland"}};
}

// Says hello as `name`, claiming `appID`; true once the broker welcomed it.
bool claim(kestrix::VirtualMainLoop& loop, proc::Client& client, const std::string& name,
           const std::string& appID) {
    client.send(kestrix::ClientMessage{proc::hello(name, kestrix::Claim{{appID}, false, {}, {}})});
    return loop.runUntil([&] { return client.count<kestrix::BrokerMessage::Welcome>() == 1; });
}

// Whether the broker's last word to the client was that it holds the device.
bool holds(const proc::Client& client) {
    auto all = client.all<kestrix::BrokerMessage::Holding>();
    return !all.empty() && all.back().holding;
}

// The broker's status, asked now; none when it does not answer.
std::optional<kestrix::BrokerStatus> askStatus(kestrix::VirtualMainLoop& loop,
                                               proc::Client& client) {
    std::size_t before = client.all<kestrix::BrokerStatus>().size();
    client.send(kestrix::ClientMessage{kestrix::ClientMessage::Status{}});
    if (!loop.runUntil([&] { return client.all<kestrix::BrokerStatus>().size() > before; }))
        return std::nullopt;
    return client.all<kestrix::BrokerStatus>().back();
}

bool recordedScroll(const std::string& events) {
    return testsupport::readFile(events).find("\"scroll\"") != std::string::npos;
}

// Runs the sequence under `desktop`, whose windows are shown.
void takeAndLeave(shelltest::Session& session, Desktop& desktop) {
    proc::Home home;
    // The cap held pushed back (y = 350, full deflection) all along, 125 reports a second.
    home.devices(R"({"devices": [
 {"vendorID": 9583, "productID": 50741, "product": "SpaceMouse Compact", "transport": "USB",
  "serialNumber": "SHELL1", "locationID": 336592896, "interface": 0,
  "reports": [{"at": 0.0, "every": 0.008, "count": 100000, "bytes": [1, 0, 0, 94, 1, 0, 0]},
              {"at": 0.004, "every": 0.008, "count": 100000, "bytes": [2, 0, 0, 0, 0, 0, 0]}]}]})");
    std::ofstream(home.path + "/config/me.orvella.Vantor.json")
        << R"({"allowed_apps": "org.example.Editor"})";
    std::ofstream(home.path + "/config/kestrix.json") << R"({"showsMenuBarItem": false})";
    auto env = programEnvironment(session, desktop, home);
    proc::Broker broker(home, env);
    ASSERT_TRUE(broker.waitListening()) << broker.stderrText();

    auto vantorEnv = session.environment();
    for (const auto& [k, v] : env)
        vantorEnv[k] = v;
    vantorEnv["KESTRIX_HOME"] = home.path + "/home";
    vantorEnv["XDG_CONFIG_HOME"] = home.path + "/config";
    std::string events = home.path + "/events.jsonl";
    vantorEnv["VANTOR_EVENTS"] = "record:" + events;
    // Started as at login: no window of its own (these desktops show no tray) takes the front.
    shelltest::Child vantor({VANTOR_EXECUTABLE, "--login-item"}, vantorEnv,
                            home.path + "/vantor-stderr.txt");
    kestrix::VirtualMainLoop loop;
    auto client = proc::connect(loop, home);
    ASSERT_TRUE(client);
    ASSERT_TRUE(claim(loop, *client, "Modeller plug-in", "org.example.Modeller"));
    auto holding = [&] { return holds(*client); };
    // What the broker thinks, and what both programs said, for a failure's message.
    auto why = [&] {
        askStatus(loop, *client);
        std::string text = "in front for the broker: ";
        for (const auto& status : client->all<kestrix::BrokerStatus>()) {
            text += status.frontmostApp.value_or("none") + ";";
            for (const auto& c : status.clients)
                text += " " + c.name + (c.holds ? " (holds)" : "");
        }
        return text + "\nbroker:\n" + broker.stderrText() + "\nvantor:\n" +
               testsupport::readFile(home.path + "/vantor-stderr.txt") + "\ndesktop:\n" +
               testsupport::readFile(session.log);
    };

    // The allowed app in front: vantor holds the device and scrolls it.
    ASSERT_TRUE(desktop.activate("org.example.Editor"));
    ASSERT_TRUE(proc::waitInFolder(home.path, [&] { return recordedScroll(events); }, 30))
        << why();
    // The claimant's app in front: the device goes to the claimant.
    ASSERT_TRUE(desktop.activate("org.example.Modeller"));
    ASSERT_TRUE(loop.runUntil(holding, 30)) << why();
    // And back.
    ASSERT_TRUE(desktop.activate("org.example.Editor"));
    ASSERT_TRUE(loop.runUntil([&] { return !holding(); }, 30)) << why();
    // A shell may report no window between two windows, which also ends the claimant's hold:
    // the broker is asked until the switch has settled on the editor, held by vantor alone.
    auto settledOnEditor = [&] {
        auto status = askStatus(loop, *client);
        if (!status) return false;
        if (status->frontmostApp != "org.example.Editor") return false;
        for (const auto& c : status->clients)
            if (c.holds != (c.name == "Vantor")) return false;
        return true;
    };
    bool settled = false;
    for (int round = 0; round < 300 && !(settled = settledOnEditor()); ++round)
        loop.runUntil([] { return false; }, 0.05); // the shell and both programs move on
    ASSERT_TRUE(settled) << why();
    EXPECT_TRUE(proc::contains(home.log(), "the app in front comes from")) << home.log();
}

// KWin on a session of its own.
struct KWinSession {
    shelltest::Session session;
    shelltest::KWin kwin{session};
};

// GNOME Shell on a session of its own, with Vantor's extension and the tests' own enabled.
struct GnomeSession {
    shelltest::Session session;
    shelltest::GnomeShell shell{
        session,
        shelltest::extensionsFolder(session, FRONT_APP_SHARE, FRONT_APP_TEST_EXTENSION),
        {"front-app-test@vantor.orvella.me", FRONT_APP_EXTENSION_UUID}};
};

struct KWinDesktop final : Desktop {
    shelltest::KWin& kwin;
    explicit KWinDesktop(shelltest::KWin& k) : kwin(k) {}
    std::string display() const override { return shelltest::KWin::display; }
    std::string name() const override { return "KDE"; }
    bool activate(const std::string& appID) override { return kwin.activate(appID); }
};

struct GnomeDesktop final : Desktop {
    shelltest::Session& session;
    explicit GnomeDesktop(shelltest::Session& s) : session(s) {}
    std::string display() const override { return shelltest::GnomeShell::display; }
    std::string name() const override { return "GNOME"; }
    bool activate(const std::string& appID) override {
        return shelltest::activateInGnomeShell(session, appID);
    }
};

TEST(DesktopShellEndToEnd, underKWinTheDeviceGoesToTheClaimantOfTheAppInFrontAndBack) {
    ASSERT_TRUE(shelltest::installed("/usr/bin/kwin_wayland")) << "kwin-wayland is not installed";
    KWinSession desk;
    auto& session = desk.session;
    auto& kwin = desk.kwin;
    ASSERT_TRUE(kwin.ready()) << testsupport::readFile(session.log);
    shelltest::Window modeller(session, shelltest::KWin::display, "org.example.Modeller");
    shelltest::Window editor(session, shelltest::KWin::display, "org.example.Editor");
    ASSERT_TRUE(modeller.shown() && editor.shown()) << testsupport::readFile(session.log);
    KWinDesktop desktop(kwin);
    takeAndLeave(session, desktop);
}

TEST(DesktopShellEndToEnd, underGnomeShellWithTheExtensionTheDeviceGoesToTheClaimantAndBack) {
    ASSERT_TRUE(shelltest::installed("/usr/bin/gnome-shell")) << "gnome-shell is not installed";
    GnomeSession desk;
    auto& session = desk.session;
    auto& shell = desk.shell;
    ASSERT_TRUE(shell.ready()) << testsupport::readFile(session.log);
    shelltest::Window modeller(session, shelltest::GnomeShell::display, "org.example.Modeller");
    shelltest::Window editor(session, shelltest::GnomeShell::display, "org.example.Editor");
    ASSERT_TRUE(modeller.shown() && editor.shown()) << testsupport::readFile(session.log);
    GnomeDesktop desktop(session);
    takeAndLeave(session, desktop);
}

} // namespace

namespace {

// The broker under a desktop shell with a client for each of two apps: what a stranger on the
// bus says of the app in front changes nothing, and a flood of changes from the shell itself
// ends with its last one while the broker keeps answering.
struct HostileBus {
    proc::Home home;
    std::unique_ptr<proc::Broker> broker;
    kestrix::VirtualMainLoop loop;
    std::unique_ptr<proc::Client> intruder, modeller;

    HostileBus(shelltest::Session& session, const Desktop& desktop) {
        home.devices(R"({"devices": []})");
        broker = std::make_unique<proc::Broker>(home, programEnvironment(session, desktop, home));
        if (!broker->waitListening()) return;
        intruder = proc::connect(loop, home);
        modeller = proc::connect(loop, home);
        claim(loop, *intruder, "Intruder", "org.example.Intruder");
        claim(loop, *modeller, "Modeller", "org.example.Modeller");
    }
    static bool everHeld(const proc::Client& client) {
        for (const auto& h : client.all<kestrix::BrokerMessage::Holding>())
            if (h.holding) return true;
        return false;
    }
    // The broker's app in front, asked now (so also: it answers).
    std::optional<std::string> front() {
        auto status = askStatus(loop, *modeller);
        if (!status) return "no answer";
        return status->frontmostApp;
    }
};

TEST(DesktopShellEndToEnd, underKWinAStrangerIsIgnoredAndAFloodFromKWinEndsWithItsLastReport) {
    ASSERT_TRUE(shelltest::installed("/usr/bin/kwin_wayland")) << "kwin-wayland is not installed";
    KWinSession desk;
    auto& session = desk.session;
    auto& kwin = desk.kwin;
    ASSERT_TRUE(kwin.ready()) << testsupport::readFile(session.log);
    shelltest::Window editor(session, shelltest::KWin::display, "org.example.Editor");
    ASSERT_TRUE(editor.shown()) << testsupport::readFile(session.log);
    KWinDesktop desktop(kwin);
    HostileBus bus(session, desktop);
    ASSERT_TRUE(bus.modeller) << bus.broker->stderrText();
    ASSERT_TRUE(proc::waitInFolder(
        bus.home.path + "/home", [&] { return bus.front() == "org.example.Editor"; }, 30))
        << bus.broker->stderrText();

    // The broker's bus name, from the line it put before its copy of the script.
    std::string copy = testsupport::readFile(session.runtime + "/vantor-front-app/kestrix-" +
                                             std::to_string(bus.broker->pid()) + ".js");
    auto start = copy.find("service: \"") + 10;
    std::string service = copy.substr(start, copy.find('"', start) - start);
    ASSERT_EQ(service.rfind(":1.", 0), 0u) << copy;
    ASSERT_TRUE(session.call(service, "/me/orvella/FrontApp", "me.orvella.FrontApp1.Activated",
                             {"org.example.Intruder", "intruder", "1"}));
    EXPECT_EQ(bus.front(), "org.example.Editor");

    // A thousand reports from KWin itself, as fast as its script engine makes them.
    ASSERT_TRUE(kwin.runScript(
        "for (var i = 0; i < 1000; ++i)\n"
        "    callDBus(\"" + service + "\", \"/me/orvella/FrontApp\", \"me.orvella.FrontApp1\",\n"
        "             \"Activated\", i == 999 ? \"org.example.Modeller\" : \"org.example.Flood\" + i,\n"
        "             \"flood\", String(1000 + i));\n"));
    ASSERT_TRUE(bus.loop.runUntil([&] { return holds(*bus.modeller); }, 30))
        << bus.broker->stderrText();
    EXPECT_EQ(bus.front(), "org.example.Modeller");
    EXPECT_FALSE(HostileBus::everHeld(*bus.intruder));
    EXPECT_TRUE(proc::contains(bus.home.log(), "ignored a report of the app in front from"));
}

TEST(DesktopShellEndToEnd, underGnomeShellAStrangerIsIgnoredAndAFloodFromTheShellEndsWithItsLast) {
    ASSERT_TRUE(shelltest::installed("/usr/bin/gnome-shell")) << "gnome-shell is not installed";
    GnomeSession desk;
    auto& session = desk.session;
    auto& shell = desk.shell;
    ASSERT_TRUE(shell.ready()) << testsupport::readFile(session.log);
    shelltest::Window editor(session, shelltest::GnomeShell::display, "org.example.Editor");
    ASSERT_TRUE(editor.shown()) << testsupport::readFile(session.log);
    GnomeDesktop desktop(session);
    HostileBus bus(session, desktop);
    ASSERT_TRUE(bus.modeller) << bus.broker->stderrText();
    ASSERT_TRUE(desktop.activate("org.example.Editor"));
    ASSERT_TRUE(proc::waitInFolder(
        bus.home.path + "/home", [&] { return bus.front() == "org.example.Editor"; }, 30))
        << bus.broker->stderrText() << testsupport::readFile(session.log);

    // The extension's signal, sent by another peer.
    std::string stranger;
    ASSERT_EQ(shelltest::run({"/usr/bin/gdbus", "emit", "--address", session.bus->address(),
                              "--object-path", "/me/orvella/FrontApp", "--signal",
                              "org.freedesktop.DBus.Properties.PropertiesChanged",
                              "me.orvella.FrontApp1",
                              "{'Focus': <('org.example.Intruder.desktop', '', 1)>}", "@as []"},
                             session.environment(), session.log),
              0);
    EXPECT_EQ(bus.front(), "org.example.Editor");

    ASSERT_TRUE(shelltest::floodFromGnomeShell(session, 1000, "org.example.Modeller.desktop"));
    ASSERT_TRUE(bus.loop.runUntil([&] { return holds(*bus.modeller); }, 30))
        << bus.broker->stderrText();
    EXPECT_EQ(bus.front(), "org.example.Modeller");
    EXPECT_FALSE(HostileBus::everHeld(*bus.intruder));
}

} // namespace
