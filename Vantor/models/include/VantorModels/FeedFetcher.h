#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

class QNetworkAccessManager;

namespace vantor {

// The result of fetching a feed: its bytes, or why there are none.
struct FetchResult {
    QByteArray body;
    QString error; // empty on success
};

// How Updates gets a feed. Tests answer from a table instead of the network.
class FeedFetcher {
public:
    using Done = std::function<void(FetchResult)>;

    virtual ~FeedFetcher() = default;

    // Starts fetching `url` and calls `done` once, later, on the thread's event loop (never
    // from inside fetch()). A fetcher destroyed before the answer never calls `done`.
    virtual void fetch(const QUrl& url, Done done) = 0;
};

// Fetches over HTTP(S) with QNetworkAccessManager: the whole fetch must finish within the
// time-out, and a body longer than maxBytes is cut off and reported as an error.
class NetworkFeedFetcher final : public FeedFetcher {
public:
    static constexpr int defaultTimeoutMs = 30'000;

    explicit NetworkFeedFetcher(int timeoutMs = defaultTimeoutMs, qsizetype maxBytes = 1024 * 1024);
    ~NetworkFeedFetcher() override;

    void fetch(const QUrl& url, Done done) override;

private:
    int timeoutMs_;
    qsizetype maxBytes_;
    std::unique_ptr<QNetworkAccessManager> network_;
};

} // namespace vantor
