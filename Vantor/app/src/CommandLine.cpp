#include "VantorShell/CommandLine.h"

#include "VantorModels/LoginItem.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>

namespace vantor {

namespace {

QString loginItemName() {
    QString mark = QString::fromLatin1(LoginItem::launchFlag.data(),
                                       static_cast<qsizetype>(LoginItem::launchFlag.size()));
    while (mark.startsWith(QLatin1Char('-')))
        mark.remove(0, 1);
    return mark;
}

// The argument as typed (with its dashes, without a value after '=') that named the option `name`.
QString typedOption(const QStringList& arguments, const QString& name) {
    for (const QString& argument : arguments.mid(1)) {
        QString typed = argument.section(QLatin1Char('='), 0, 0);
        QString bare = typed;
        while (bare.startsWith(QLatin1Char('-')))
            bare.remove(0, 1);
        if (typed.startsWith(QLatin1Char('-')) && bare == name) return typed;
    }
    return QStringLiteral("--") + name;
}

} // namespace

CommandLine::Result CommandLine::parse(const QStringList& arguments) {
    QCommandLineParser parser;
    // The window-shot arguments are single-dash words, as Qt's own options are.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QCoreApplication::translate(
        "CommandLine", "Scrolls and zooms (as Ctrl + wheel) with a 3Dconnexion SpaceMouse in the "
                       "app in front. Runs in the tray; starting it again while it runs opens its "
                       "settings window."));
    // Not addHelpOption(): its --help-all lists Qt's options, which needs an application object.
    QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                            QCoreApplication::translate("CommandLine", "Displays this help."));
    QCommandLineOption version(
        {QStringLiteral("v"), QStringLiteral("version")},
        QCoreApplication::translate("CommandLine", "Displays version information."));
    QCommandLineOption loginItem(
        loginItemName(),
        QCoreApplication::translate("CommandLine",
                                    "Marks a start at login by the autostart entry: no window "
                                    "opens by itself."));
    QCommandLineOption snapshot(
        QStringLiteral("snapshot"),
        QCoreApplication::translate("CommandLine",
                                    "Window-shot mode: writes a PNG of one window to <path> and "
                                    "quits (with --snapshotWindow)."),
        QStringLiteral("path"));
    QCommandLineOption snapshotWindow(
        QStringLiteral("snapshotWindow"),
        QCoreApplication::translate("CommandLine",
                                    "The window to shoot: main, defaults, movements, directions, "
                                    "apps, settings, about or releaseNotes."),
        QStringLiteral("name"));
    QCommandLineOption snapshotSize(
        QStringLiteral("snapshotSize"),
        QCoreApplication::translate("CommandLine",
                                    "The window's size in points, for example \"560 x 820\"."),
        QStringLiteral("W x H"));
    QCommandLineOption snapshotDark(
        QStringLiteral("snapshotDark"),
        QCoreApplication::translate("CommandLine", "Takes the window shot in dark colours."));
    parser.addOptions(
        {help, version, loginItem, snapshot, snapshotWindow, snapshotSize, snapshotDark});
    // Qt's own options pass through to the application object.
    for (const char* name : {"platform", "platformpluginpath", "platformtheme", "plugin", "display",
                             "qwindowgeometry", "qwindowicon", "qwindowtitle", "geometry", "title",
                             "icon", "name", "session", "style", "stylesheet", "visual"}) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    // Without an application object the parser does not know the program's name.
    auto usage = [&parser] {
        return parser.helpText().replace(QRegularExpression(QStringLiteral("^Usage: \\S+")),
                                         QStringLiteral("Usage: vantor"));
    };
    Result result;
    // A mistake is named with a pointer to the help, not answered with the whole usage.
    auto fail = [&](const QString& error) {
        result.exitStatus = 2;
        result.toStandardError = true;
        result.output = QStringLiteral("vantor: ") + error + QStringLiteral("\n") +
                        QCoreApplication::translate("CommandLine", "Try 'vantor --help'.") +
                        QStringLiteral("\n");
        return result;
    };
    if (!parser.parse(arguments)) {
        if (parser.unknownOptionNames().isEmpty()) return fail(parser.errorText());
        return fail(QCoreApplication::translate("CommandLine", "unknown option: %1")
                        .arg(typedOption(arguments, parser.unknownOptionNames().first())));
    }
    if (parser.isSet(help)) {
        result.exitStatus = 0;
        result.output = usage();
        return result;
    }
    if (parser.isSet(version)) {
        result.exitStatus = 0;
        result.output = QStringLiteral("vantor %1\n").arg(QStringLiteral(VANTOR_VERSION));
        return result;
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(QCoreApplication::translate("CommandLine", "Unexpected argument '%1'.")
                        .arg(parser.positionalArguments().first()));
    auto value = [&](const QCommandLineOption& option) -> std::optional<QString> {
        if (!parser.isSet(option)) return std::nullopt;
        return parser.value(option);
    };
    result.options.loginItem = parser.isSet(loginItem);
    result.options.snapshot = value(snapshot);
    result.options.snapshotWindow = value(snapshotWindow);
    result.options.snapshotSize = value(snapshotSize);
    result.options.snapshotDark = parser.isSet(snapshotDark);
    return result;
}

} // namespace vantor
