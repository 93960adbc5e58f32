#include "VantorModels/ListedApp.h"

#include "FrontApp/DesktopEntry.h"
#include "FrontApp/FrontAppIdentity.h"

#include <QCollator>
#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <algorithm>

namespace vantor {

using kestrix::core::DesktopEntry;
using kestrix::core::desktopEntryFiles;
using kestrix::core::desktopEntryPath;

namespace {

// One icon per name (and per version of an icon file): the apps that share an icon share its
// decoded pictures too.
QIcon iconOf(const DesktopEntry& entry) {
    auto icon = entry.value("Icon");
    if (!icon || icon->empty()) return ListedApp::genericIcon();
    auto name = QString::fromStdString(*icon);
    QString key = name;
    if (name.startsWith('/')) {
        const QFileInfo file(name);
        if (!file.isFile()) return ListedApp::genericIcon();
        key += QLatin1Char('\n') + QString::number(file.lastModified().toMSecsSinceEpoch()) +
               QLatin1Char(' ') + QString::number(file.size());
    }
    // Kept to the end (never destroyed: icons outliving the application object must not be).
    static auto& known = *new QHash<QString, QIcon>;
    if (auto found = known.constFind(key); found != known.constEnd()) return *found;
    const QIcon made =
        name.startsWith('/') ? QIcon(name) : QIcon::fromTheme(name, ListedApp::genericIcon());
    known.insert(key, made);
    return made;
}

QString nameOf(const DesktopEntry& entry, const std::string& bundleID) {
    auto name = entry.localized("Name", QLocale().name().toStdString());
    return QString::fromStdString(name && !name->empty() ? *name : bundleID);
}

} // namespace

ListedApp::ListedApp(std::string bundleID, QString name, QIcon icon, bool isInstalled)
    : bundleID(std::move(bundleID))
    , name(std::move(name))
    , icon(std::move(icon))
    , isInstalled(isInstalled) {}

ListedApp::ListedApp(const std::string& bundleID)
    : ListedApp(bundleID, applicationDirs()) {}

ListedApp::ListedApp(const std::string& bundleID, const std::vector<std::string>& applicationDirs)
    : bundleID(bundleID)
    , name(QString::fromStdString(bundleID)) {
    std::optional<DesktopEntry> entry;
    if (auto path = desktopEntryPath(bundleID, applicationDirs)) entry = DesktopEntry::read(*path);
    // A hidden entry stands for a deleted one.
    if (!entry || entry->flag("Hidden")) {
        icon = genericIcon();
        return;
    }
    name = nameOf(*entry, bundleID);
    icon = iconOf(*entry);
    isInstalled = true;
}

std::vector<ListedApp> ListedApp::installed() {
    return installed(applicationDirs());
}

std::vector<ListedApp> ListedApp::installed(const std::vector<std::string>& applicationDirs) {
    std::vector<ListedApp> apps;
    for (const auto& [id, path] : desktopEntryFiles(applicationDirs)) {
        // The app in front is named only by ids (FrontAppIdentity::isID); others are not offered.
        if (!kestrix::core::FrontAppIdentity::isID(id)) continue;
        auto entry = DesktopEntry::read(path);
        if (!entry || entry->flag("NoDisplay") || entry->flag("Hidden")) continue;
        if (auto type = entry->value("Type"); type && *type != "Application") continue;
        apps.emplace_back(id, nameOf(*entry, id), iconOf(*entry), true);
    }
    sortByName(apps);
    return apps;
}

void ListedApp::sortByName(std::vector<ListedApp>& apps) {
    // The C locale has no collation at all (and no numeric mode): names are then compared as
    // an English reader would.
    QLocale locale;
    if (locale.language() == QLocale::C) locale = QLocale(QLocale::English);
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    // Each name's key is made once; comparing keys is much cheaper than comparing names.
    std::vector<std::pair<QCollatorSortKey, std::size_t>> keys;
    keys.reserve(apps.size());
    for (std::size_t i = 0; i < apps.size(); ++i)
        keys.emplace_back(collator.sortKey(apps[i].name), i);
    std::stable_sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) {
        return a.first.compare(b.first) < 0;
    });
    std::vector<ListedApp> sorted;
    sorted.reserve(apps.size());
    for (const auto& key : keys)
        sorted.push_back(std::move(apps[key.second]));
    apps = std::move(sorted);
}

std::vector<std::string> ListedApp::applicationDirs() {
    return kestrix::core::FrontAppIdentity::standardApplicationDirs();
}

QIcon ListedApp::genericIcon() {
    return QIcon::fromTheme(QStringLiteral("application-x-executable"));
}

} // namespace vantor
