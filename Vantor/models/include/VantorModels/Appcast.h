#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <optional>

namespace vantor {

// One release offered by an update feed: an RSS item of the appcast.
struct AppcastItem {
    QString title;
    QString shortVersion;          // sparkle:shortVersionString, the version users see ("1.2.0")
    qint64 build = 0;              // sparkle:version, the build number releases are compared by
    QString description;           // the item's release notes, as the feed wrote them
    QString descriptionFormat;     // the description's sparkle:format: "html" (default), "markdown" or "plain-text"
    QUrl releaseNotesLink;         // sparkle:releaseNotesLink, when the notes are a page of their own
    QUrl download;                 // the enclosure's url: what "Download" opens

    bool operator==(const AppcastItem&) const = default;
};

// What reading a feed gave: the item with the highest build number (absent when the feed lists
// none), or an error that says what is wrong with the feed.
struct AppcastRead {
    std::optional<AppcastItem> newest;
    QString error; // empty when the feed was read

    bool ok() const { return error.isEmpty(); }
};

// The appcast reader. Feeds come from the network, so the reader takes no chances: at most
// maxBytes, UTF-8 only, no document type declarations (and so no entities of the feed's own),
// nesting no deeper than maxDepth. Items without a whole build number or without an http(s)
// download address are passed over.
namespace Appcast {

inline constexpr qsizetype maxBytes = 1024 * 1024;
inline constexpr int maxDepth = 32;
// An item's release notes are cut to this many characters, its title and versions to
// maxLabelChars: what the update window shows stays quick to lay out whatever the feed holds.
inline constexpr qsizetype maxNotesChars = 64 * 1024;
inline constexpr qsizetype maxLabelChars = 200;

AppcastRead read(const QByteArray& feed);

// A build number as text: a decimal whole number with an optional leading "+" or "-", nothing
// else; absent when the text is anything else or out of range.
std::optional<qint64> parseBuild(QStringView text);

} // namespace Appcast

} // namespace vantor
