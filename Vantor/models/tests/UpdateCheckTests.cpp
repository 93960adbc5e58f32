// The update check end to end: Updates fetching real HTTP from a small server in the test.
#include "KestrixProtocol/UserDefaults.h"
#include "VantorModels/Updates.h"

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <zlib.h>

using namespace vantor;

namespace {

void ensureApplication() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "VantorModelsTests";
    static char* argv[] = {name, nullptr};
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    new QGuiApplication(argc, argv);
}

// Answers GET requests by path; a path without an answer is never answered at all.
class FeedServer {
public:
    std::map<QByteArray, QByteArray> responses; // path -> whole HTTP response

    FeedServer() {
        server_.listen(QHostAddress::LocalHost);
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { serve(socket); });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1/").arg(server_.serverPort()); }

    // A body sent compressed ("deflate" is the zlib stream), as the server chooses.
    static QByteArray deflated(const QByteArray& plain) {
        const QByteArray body = qCompress(plain, 9).mid(4); // without Qt's length prefix
        return "HTTP/1.1 200 OK\r\nContent-Type: application/rss+xml\r\nContent-Encoding: "
               "deflate\r\nContent-Length: " +
               QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    }

    // A body sent as gzip in as many members as there are parts, each packed on its own, less
    // `cut` bytes at its end.
    static QByteArray gzipped(const QList<QByteArray>& parts, qsizetype cut = 0) {
        QByteArray body;
        for (const QByteArray& part : parts) {
            z_stream stream{};
            deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
            QByteArray member(qsizetype(deflateBound(&stream, uLong(part.size()))), '\0');
            stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(part.data()));
            stream.avail_in = uInt(part.size());
            stream.next_out = reinterpret_cast<Bytef*>(member.data());
            stream.avail_out = uInt(member.size());
            deflate(&stream, Z_FINISH);
            body += member.left(qsizetype(stream.total_out));
            deflateEnd(&stream);
        }
        body.chop(cut);
        return "HTTP/1.1 200 OK\r\nContent-Type: application/rss+xml\r\nContent-Encoding: "
               "gzip\r\nContent-Length: " +
               QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    }

    static QByteArray ok(const QByteArray& body) {
        return "HTTP/1.1 200 OK\r\nContent-Type: application/rss+xml\r\nContent-Length: " +
               QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    }

private:
    void serve(QTcpSocket* socket) {
        QByteArray& request = requests_[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n")) return;
        const QByteArray path = request.split(' ').value(1);
        requests_.erase(socket);
        auto found = responses.find(path);
        if (found == responses.end()) return;
        socket->write(found->second);
        socket->disconnectFromHost();
    }

    QTcpServer server_;
    std::map<QTcpSocket*, QByteArray> requests_;
};

QByteArray feed(int build) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><rss version=\"2.0\" "
           "xmlns:sparkle=\"urn:feed\"><channel><item><title>Vantor</title><sparkle:version>" +
           QByteArray::number(build) + "</sparkle:version><enclosure url=\"https://example.org/v" +
           QByteArray::number(build) + "\"/></item></channel></rss>";
}

} // namespace

TEST(UpdateCheckTest, ChecksTheStableOrBetaFeedOfALocalServer) {
    ensureApplication();
    const QByteArray stable = "/vantor/appcast.xml", beta = "/vantor/appcast-beta.xml";
    const QByteArray huge = FeedServer::ok(QByteArray(Appcast::maxBytes + 10, ' '));
    const struct {
        const char* name;
        const char* running;
        bool betas;
        std::map<QByteArray, QByteArray> responses;
        std::string result;
    } cases[] = {
        {"newer stable", "41", false, {{stable, FeedServer::ok(feed(42))}, {beta, FeedServer::ok(feed(50))}},
         "found 42"},
        {"newer beta", "41", true, {{stable, FeedServer::ok(feed(42))}, {beta, FeedServer::ok(feed(50))}},
         "found 50"},
        {"same", "42", false, {{stable, FeedServer::ok(feed(42))}}, "up to date"},
        {"older", "43", false, {{stable, FeedServer::ok(feed(42))}}, "up to date"},
        {"malformed", "41", false, {{stable, FeedServer::ok("<rss><channel><item></channel>")}},
         "failed: The update feed is not well-formed XML"},
        {"missing", "41", false, {{stable, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"}},
         "failed: The update server answered 404 Not Found."},
        {"oversized", "41", false, {{stable, huge}}, "failed: The update feed is larger than 1 MiB."},
        {"compressed", "41", false, {{stable, FeedServer::deflated(feed(42))}}, "found 42"},
        {"compressed, oversized", "41", false,
         {{stable, FeedServer::deflated(QByteArray(Appcast::maxBytes + 10, ' '))}},
         "failed: The update feed is larger than 1 MiB."},
        {"compressed bomb", "41", false,
         {{stable, FeedServer::deflated(QByteArray(256 * 1024 * 1024, ' '))}},
         "failed: The update feed is larger than 1 MiB."},
        {"gzip in two members", "41", false,
         {{stable, FeedServer::gzipped({feed(42).left(60), feed(42).mid(60)})}}, "found 42"},
        {"gzip members past 1 MiB", "41", false,
         {{stable, FeedServer::gzipped({feed(42), QByteArray(Appcast::maxBytes, ' ')})}},
         "failed: The update feed is larger than 1 MiB."},
        {"gzip with a broken second member", "41", false,
         {{stable, FeedServer::gzipped({feed(42), feed(42)}, 8)}},
         "failed: The update feed could not be unpacked."},
        {"slow", "41", false, {}, "failed: The update server did not answer within 0.2 seconds."},
    };
    for (const auto& c : cases) {
        FeedServer server;
        server.responses = c.responses;
        qputenv("VANTOR_UPDATES_URL", server.base().toUtf8());
        QTemporaryDir folder;
        kestrix::UserDefaults defaults(folder.filePath("defaults.json").toStdString());
        defaults.set(Updates::betasKey, c.betas);
        UpdatesSystem system;
        system.defaults = &defaults;
        system.fetcher = std::make_unique<NetworkFeedFetcher>(200);
        system.build = BuildInfo{"4.1", c.running, false};
        Updates updates(std::move(system));

        std::string result;
        QObject::connect(&updates, &Updates::updateFound, [&](const AppcastItem& item, bool) {
            result = "found " + std::to_string(item.build);
        });
        QObject::connect(&updates, &Updates::upToDate, [&] { result = "up to date"; });
        QObject::connect(&updates, &Updates::checkFailed, [&](const QString& why) {
            result = "failed: " + why.toStdString();
        });
        updates.checkForUpdates();
        EXPECT_FALSE(updates.canCheck());
        QDeadlineTimer deadline(5000);
        while (result.empty() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        EXPECT_TRUE(result.starts_with(c.result)) << c.name << ": " << result;
        EXPECT_TRUE(updates.canCheck()) << c.name;
    }
    qunsetenv("VANTOR_UPDATES_URL");
}
