#include "VantorModels/FeedFetcher.h"

#include "VantorModels/BoundedInflate.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>

namespace vantor {

namespace {

QString tr(const char* text) { return QCoreApplication::translate("vantor::FeedFetcher", text); }

QString tooLarge() { return tr("The update feed is larger than 1 MiB."); }

// The feed from a body as sent with its Content-Encoding.
void unpack(const QByteArray& encodingHeader, QByteArray body, qsizetype max, FetchResult& result) {
    const QByteArray encoding = encodingHeader.trimmed().toLower();
    if (encoding.isEmpty() || encoding == "identity") {
        result.body = std::move(body);
        return;
    }
    if (encoding != "gzip" && encoding != "x-gzip" && encoding != "deflate") {
        result.error = tr("The update server sent the feed packed as “%1”, which Vantor cannot read.")
                           .arg(QString::fromLatin1(encoding.left(40)));
        return;
    }
    Inflated inflated = inflateBounded(body, max);
    if (inflated.status == Inflated::Status::ok)
        result.body = std::move(inflated.bytes);
    else if (inflated.status == Inflated::Status::tooLarge)
        result.error = tooLarge();
    else
        result.error = tr("The update feed could not be unpacked.");
}

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
    // Asked for by name, a compressed body comes as it was sent, and is unpacked here only up to
    // the size limit: Qt's own unpacking would let a small body grow far past it first.
    request.setRawHeader("Accept-Encoding", "gzip, deflate");
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
        if (state->body.size() > max) stop(tooLarge());
    });
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, state, done = std::move(done), max = maxBytes_] {
        if (state->finished) return;
        state->finished = true;
        FetchResult result;
        if (!state->error.isEmpty()) {
            result.error = state->error;
        } else if (reply->error() != QNetworkReply::NoError) {
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            // A server that answered 200 and then failed (cut the body short, say) is not
            // reported as having answered "200 OK".
            result.error = status > 0 && (status < 200 || status > 299)
                               ? tr("The update server answered %1 %2.")
                                     .arg(status)
                                     .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString().left(200))
                               : tr("The update server could not be reached: %1.").arg(reply->errorString());
        } else {
            state->body += reply->read(max + 1 - state->body.size());
            if (state->body.size() > max)
                result.error = tooLarge();
            else
                unpack(reply->rawHeader("Content-Encoding"), std::move(state->body), max, result);
        }
        reply->deleteLater();
        done(std::move(result));
    });
    timer->start(timeoutMs_);
}

} // namespace vantor
