// A broker folder that a broker refuses (another user's, as a broker started with sudo leaves it):
// the connection's one `unavailable` says so and how to give the folder back.

#include "KestrixClient/KestrixConnection.h"
#include "KestrixProtocol/VirtualMainLoop.h"
#include "TempFolder.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace kestrix::client::test {
namespace {

using Event = KestrixConnection::Event;

TEST(RefusedPlace, theUnavailableEventSaysWhoseTheFolderOrLockIsAndHowToGiveItBack) {
    constexpr uid_t stranger = 65534;
    struct Case {
        bool folderTheirs, lockTheirs;
        std::string says; // after "Kestrix could not be reached", with <folder> for the folder
    } cases[] = {
        {false, false, ""},
        {true, false,
         ": the broker folder <folder> belongs to user 65534, so Kestrix does not start; give it "
         "back with \"sudo chown -R root: <folder>\""},
        {false, true,
         ": <folder>/broker.lock belongs to user 65534, so Kestrix does not start; give it back "
         "with \"sudo chown root: <folder>/broker.lock\""},
    };
    for (const Case& c : cases) {
        testsupport::TempFolder home;
        const std::string folder = home.path + "/kestrix";
        std::filesystem::create_directory(folder);
        std::ofstream(folder + "/broker.lock").flush();
        if (c.folderTheirs) {
            ASSERT_EQ(::chown(folder.c_str(), stranger, stranger), 0);
        }
        if (c.lockTheirs) {
            ASSERT_EQ(::chown((folder + "/broker.lock").c_str(), stranger, stranger), 0);
        }
        VirtualMainLoop loop;
        auto connection = KestrixConnection::create(loop, "Vantor", Claim{{"org.example"}, false},
                                                    KestrixConnection::Launcher::none(),
                                                    BrokerPlace(folder), 15);
        std::vector<Event> events;
        connection->onEvent = [&](const Event& event) { events.push_back(event); };
        connection->start();
        loop.advance(5.0);
        std::string says = c.says;
        for (std::size_t at; (at = says.find("<folder>")) != std::string::npos;)
            says.replace(at, 8, folder);
        EXPECT_EQ(events,
                  std::vector<Event>{Event::unavailable("Kestrix could not be reached" + says)});
        connection->stop();
    }
}

} // namespace
} // namespace kestrix::client::test
