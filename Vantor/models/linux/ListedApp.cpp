#include "VantorModels/ListedApp.h"

#include "FrontApp/DesktopEntry.h"
#include "FrontApp/FrontAppIdentity.h"

#include <QCollator>
#include <QFileInfo>
#include <QLocale>
#include <algorithm>

namespace vantor {

using kestrix::core::DesktopEntry;
using kestrix::core::desktopEntryFiles;
using kestrix::core::desktopEntryPath;

namespace {

QIcon iconOf(const DesktopEntry& entry) {
    auto icon = entry.value("Icon");
    if (!icon || icon->empty()) return ListedApp::genericIcon();
    auto name = QString::fromStdString(*icon);
    if (name.startsWith('/'))
        return QFileInfo(name).isFile() ? QIcon(name) : ListedApp::genericIcon();
    return QIcon::fromTheme(name, ListedApp::genericIcon());
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
    std::stable_sort(apps.begin(), apps.end(), [&](const ListedApp& a, const ListedApp& b) {
        return collator.compare(a.name, b.name) < 0;
    });
}

std::vector<std::string> ListedApp::applicationDirs() {
    return kestrix::core::FrontAppIdentity::standardApplicationDirs();
}

QIcon ListedApp::genericIcon() {
    return QIcon::fromTheme(QStringLiteral("application-x-executable"));
}

} // namespace vantor
