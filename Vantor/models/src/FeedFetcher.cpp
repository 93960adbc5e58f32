#include "VantorModels/FeedFetcher.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>

namespace vantor {

namespace {

QString tr(const char* text) { return QCoreApplication::translate("vantor::FeedFetcher", text); }

} // namespace

NetworkFeedFetcher::NetworkFeedFetcher(int timeoutMs, qsizetype maxBytes)
    : timeoutMs_(timeoutMs), maxBytes_(maxBytes), network_(std::make_unique<QNetworkAccessManager>()) {}

NetworkFeedFetcher::~NetworkFeedFetcher() = default;

void NetworkFeedFetcher::fetch(const QUrl& url, Done done) {
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("Vantor/%1").arg(QCoreApplication::applicationVersion()));
    QNetworkReply* reply = network_->get(request);

    // The state of this one fetch, owned by the reply: it goes when the reply does, so a fetcher
    // destroyed early (it deletes the manager and with it the replies) never calls back.
    struct Fetch {
        QByteArray body;
        QString error;
        bool finished = false;
    };
    auto state = std::make_shared<Fetch>();
    auto* timer = new QTimer(reply);
    timer->setSingleShot(true);

    auto stop = [reply, state](QString error) {
        if (state->finished) return;
        state->error = std::move(error);
        reply->abort(); // finished() follows, with the error kept
    };
    QObject::connect(timer, &QTimer::timeout, reply, [stop, timeout = timeoutMs_] {
        stop(tr("The update server did not answer within %1 seconds.").arg(timeout / 1000.0));
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, state, stop, max = maxBytes_] {
        const QByteArray chunk = reply->read(max + 1 - state->body.size());
        state->body += chunk;
        if (state->body.size() > max) stop(tr("The update feed is larger than 1 MiB."));
    });
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, state, done = std::move(done), max = maxBytes_] {
        if (state->finished) return;
        state->finished = true;
        FetchResult result;
        if (!state->error.isEmpty()) {
            result.error = state->error;
        } else if (reply->error() != QNetworkReply::NoError) {
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            result.error = status > 0 ? tr("The update server answered %1 %2.")
                                            .arg(status)
                                            .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString())
                                      : tr("The update server could not be reached: %1.").arg(reply->errorString());
        } else {
            state->body += reply->read(max + 1 - state->body.size());
            if (state->body.size() > max)
                result.error = tr("The update feed is larger than 1 MiB.");
            else
                result.body = std::move(state->body);
        }
        reply->deleteLater();
        done(std::move(result));
    });
    timer->start(timeoutMs_);
}

} // namespace vantor
