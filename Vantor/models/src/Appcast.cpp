#include "VantorModels/Appcast.h"

#include <QCoreApplication>
#include <QStringDecoder>
#include <QXmlStreamReader>
#include <limits>

namespace vantor {

namespace {

QString tr(const char* text) { return QCoreApplication::translate("vantor::Appcast", text); }

// Only web addresses may come out of a feed: "Download" hands them to the browser.
QUrl webAddress(const QString& text) {
    QUrl url(text.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()) return {};
    const QString scheme = url.scheme().toLower();
    return scheme == u"https" || scheme == u"http" ? url : QUrl();
}

// The fields of the item being read, as text, until the item ends.
struct ItemText {
    QString title, version, shortVersion, description, descriptionFormat, notesLink;
    QString enclosureURL, enclosureVersion, enclosureShortVersion;
};

std::optional<AppcastItem> finish(const ItemText& text) {
    QString versionText = text.version.trimmed().isEmpty() ? text.enclosureVersion : text.version;
    std::optional<qint64> build = Appcast::parseBuild(versionText.trimmed());
    QUrl download = webAddress(text.enclosureURL);
    if (!build || download.isEmpty()) return std::nullopt;
    AppcastItem item;
    item.title = text.title.trimmed().left(Appcast::maxLabelChars);
    item.build = *build;
    item.shortVersion = (text.shortVersion.trimmed().isEmpty() ? text.enclosureShortVersion : text.shortVersion)
                            .trimmed()
                            .left(Appcast::maxLabelChars);
    item.description = text.description.trimmed().left(Appcast::maxNotesChars);
    item.descriptionFormat = text.descriptionFormat.trimmed().toLower();
    if (item.descriptionFormat.isEmpty()) item.descriptionFormat = QStringLiteral("html");
    item.releaseNotesLink = webAddress(text.notesLink);
    item.download = download;
    return item;
}

QString readError(const QXmlStreamReader& xml) {
    const QString line = QString::number(xml.lineNumber());
    if (xml.error() == QXmlStreamReader::PrematureEndOfDocumentError)
        return tr("The update feed ends too early (line %1).").arg(line);
    return tr("The update feed is not well-formed XML: %1 (line %2).").arg(xml.errorString(), line);
}

} // namespace

std::optional<qint64> Appcast::parseBuild(QStringView text) {
    qsizetype i = 0;
    bool negative = false;
    if (!text.isEmpty() && (text[0] == u'+' || text[0] == u'-')) {
        negative = text[0] == u'-';
        i = 1;
    }
    if (i == text.size()) return std::nullopt;
    // Accumulated as a negative number, so the lowest value fits too.
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9') return std::nullopt;
        const int digit = c - u'0';
        if (value < (std::numeric_limits<qint64>::min() + digit) / 10) return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == std::numeric_limits<qint64>::min()) return std::nullopt;
        value = -value;
    }
    return value;
}

AppcastRead Appcast::read(const QByteArray& feed) {
    AppcastRead result;
    if (feed.size() > maxBytes) {
        result.error = tr("The update feed is larger than 1 MiB.");
        return result;
    }
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(feed);
    if (decoder.hasError()) {
        result.error = tr("The update feed is not UTF-8 text.");
        return result;
    }

    QXmlStreamReader xml(text);
    xml.setNamespaceProcessing(false); // the "sparkle:" names are matched as written
    int depth = 0;
    bool inChannel = false, inItem = false;
    int itemsSeen = 0;
    ItemText item;
    QString* field = nullptr; // the item field whose text is being gathered

    // A feed that fails yields nothing from it, only the reason.
    auto fail = [](QString message) {
        AppcastRead failed;
        failed.error = std::move(message);
        return failed;
    };

    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartDocument: {
            const QString encoding = xml.documentEncoding().toString();
            if (!encoding.isEmpty() && encoding.compare(u"UTF-8", Qt::CaseInsensitive) != 0)
                return fail(tr("The update feed declares the encoding %1; it must be UTF-8.").arg(encoding.left(40)));
            break;
        }
        case QXmlStreamReader::DTD:
        case QXmlStreamReader::EntityReference:
            return fail(tr("The update feed declares a document type or entities, which feeds must not."));
        case QXmlStreamReader::StartElement: {
            if (++depth > maxDepth) return fail(tr("The update feed is nested too deeply."));
            const QStringView name = xml.qualifiedName();
            if (depth == 1 && name != u"rss")
                return fail(tr("The update feed is not an RSS feed (its root element is <%1>).").arg(name.left(40)));
            if (depth == 2) {
                inChannel = name == u"channel";
            } else if (depth == 3 && inChannel && name == u"item") {
                inItem = true;
                ++itemsSeen;
                item = {};
            } else if (depth == 4 && inItem) {
                const QXmlStreamAttributes attributes = xml.attributes();
                if (name == u"title") {
                    field = &item.title;
                } else if (name == u"sparkle:version") {
                    field = &item.version;
                } else if (name == u"sparkle:shortVersionString") {
                    field = &item.shortVersion;
                } else if (name == u"description") {
                    field = &item.description;
                    item.descriptionFormat = attributes.value(QLatin1StringView("sparkle:format")).toString();
                } else if (name == u"sparkle:releaseNotesLink") {
                    field = &item.notesLink;
                } else if (name == u"enclosure") {
                    item.enclosureURL = attributes.value(QLatin1StringView("url")).toString();
                    item.enclosureVersion = attributes.value(QLatin1StringView("sparkle:version")).toString();
                    item.enclosureShortVersion = attributes.value(QLatin1StringView("sparkle:shortVersionString")).toString();
                }
                if (field) field->clear();
            }
            break;
        }
        case QXmlStreamReader::Characters:
            if (field) field->append(xml.text());
            break;
        case QXmlStreamReader::EndElement:
            if (depth == 4) {
                field = nullptr;
            } else if (depth == 3 && inItem) {
                inItem = false;
                if (std::optional<AppcastItem> read = finish(item);
                    read && (!result.newest || read->build > result.newest->build))
                    result.newest = std::move(read);
            } else if (depth == 2) {
                inChannel = false;
            }
            --depth;
            break;
        default:
            break;
        }
    }
    if (xml.hasError()) return fail(readError(xml));
    if (itemsSeen > 0 && !result.newest)
        return fail(tr("The update feed has no usable item: each needs a whole build number and a web "
                       "address to download from."));
    return result;
}

} // namespace vantor
