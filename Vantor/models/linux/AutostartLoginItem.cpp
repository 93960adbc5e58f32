#include "FrontApp/DesktopEntry.h"
#include "KestrixProtocol/UserDefaults.h"
#include "VantorModels/LoginItem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vantor {

using kestrix::core::DesktopEntry;

namespace {

// An Exec argument in double quotes, with the characters that stay special inside escaped and
// "%" doubled, so that it is not taken for a field code.
std::string quotedArgument(const std::string& argument) {
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    return quoted + "\"";
}

// The desktop-file form of a value: backslashes doubled (the Exec quoting's own backslashes
// too), line breaks as escapes.
std::string escapedValue(const std::string& value) {
    std::string escaped;
    for (char c : value) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '\n')
            escaped += "\\n";
        else if (c == '\r')
            escaped += "\\r";
        else
            escaped += c;
    }
    return escaped;
}

} // namespace

AutostartLoginItem::AutostartLoginItem(std::string executable, std::string autostartFolder)
    : executable_(std::move(executable))
    , folder_(std::move(autostartFolder)) {}

AutostartLoginItem::AutostartLoginItem()
    : AutostartLoginItem(QCoreApplication::instance()
                             ? QCoreApplication::applicationFilePath().toStdString()
                             : std::string(),
                         standardAutostartFolder()) {}

std::string AutostartLoginItem::standardAutostartFolder() {
    return kestrix::UserDefaults::configFolder() + "/autostart";
}

std::string AutostartLoginItem::entryPath() const {
    return folder_ + "/" + std::string(fileName);
}

LoginItemStatus AutostartLoginItem::status() const {
    QFileInfo program(QString::fromStdString(executable_));
    if (executable_.empty() || !program.isAbsolute() || !program.isFile() ||
        !program.isExecutable())
        return LoginItemStatus::notFound;
    auto entry = DesktopEntry::read(entryPath());
    if (!entry) return LoginItemStatus::notRegistered;
    if (entry->flag("Hidden") || entry->value("X-GNOME-Autostart-enabled") == "false")
        return LoginItemStatus::notRegistered;
    return LoginItemStatus::enabled;
}

std::optional<std::string> AutostartLoginItem::registerItem() {
    if (status() == LoginItemStatus::notFound)
        return "the program " + (executable_.empty() ? std::string("vantor") : executable_) +
               " cannot be found";
    if (!QDir().mkpath(QString::fromStdString(folder_)))
        return "cannot create the folder " + folder_;
    std::string text = "[Desktop Entry]\n"
                       "Type=Application\n"
                       "Name=Vantor\n"
                       "Exec=" +
                       escapedValue(quotedArgument(executable_) + " " + std::string(launchFlag)) +
                       "\n"
                       "Terminal=false\n"
                       "X-GNOME-Autostart-enabled=true\n";
    // A new file renamed over the entry: the entry itself is replaced, also when it is a link
    // (QSaveFile would write the link's target, wherever that is).
    QTemporaryFile file(QString::fromStdString(folder_ + "/.me.orvella.Vantor.XXXXXX"));
    if (!file.open() ||
        file.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()) ||
        !file.flush())
        return file.errorString().toStdString();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                        QFile::ReadOther);
    if (::rename(QFile::encodeName(file.fileName()).constData(), entryPath().c_str()) != 0)
        return "cannot write " + entryPath() + ": " + std::strerror(errno);
    file.setAutoRemove(false);
    return std::nullopt;
}

std::optional<std::string> AutostartLoginItem::unregisterItem() {
    QFile file(QString::fromStdString(entryPath()));
    if (!file.exists() || file.remove()) return std::nullopt;
    return file.errorString().toStdString();
}

} // namespace vantor
