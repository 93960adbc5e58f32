#pragma once

#include <QIcon>
#include <QString>
#include <string>
#include <vector>

namespace vantor {

// One app as the Apps tab lists it, identified by its desktop-file id (without ".desktop").
struct ListedApp {
    std::string bundleID;
    QString name;
    QIcon icon;
    bool isInstalled = false;

    ListedApp(std::string bundleID, QString name, QIcon icon, bool isInstalled);

    // Looked up in the application folders ($XDG_DATA_HOME/applications, then each of
    // $XDG_DATA_DIRS/applications): the entry's Name for the current locale and its Icon (a
    // theme name or a path). An id no folder has is listed under the id itself, with the
    // generic application icon, as not installed.
    explicit ListedApp(const std::string& bundleID);
    ListedApp(const std::string& bundleID, const std::vector<std::string>& applicationDirs);

    // Every application the desktop offers: each desktop entry of the application folders that
    // is not NoDisplay or Hidden, sorted by name.
    static std::vector<ListedApp> installed();
    static std::vector<ListedApp> installed(const std::vector<std::string>& applicationDirs);

    // Sorts by name as people expect ("App 9" before "App 10"); equal names keep their order.
    static void sortByName(std::vector<ListedApp>& apps);

    // The folders searched, most personal first.
    static std::vector<std::string> applicationDirs();
    // The icon of an app the desktop does not know ("application-x-executable").
    static QIcon genericIcon();
};

} // namespace vantor
