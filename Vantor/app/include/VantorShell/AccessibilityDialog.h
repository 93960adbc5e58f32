#pragma once

#include <QString>
#include <QStringList>

class QMessageBox;
class QWidget;

namespace vantor {

// "Allow Device Access…": Linux has no permission prompt. Vantor posts its events through a
// virtual input device, so it needs write access to /dev/uinput, which the udev rule shipped with
// Vantor gives to the user at the seat. Where the rule is installed (by the package), the dialog
// says so and what renews the access: replugging the device, logging in again, and loading the
// module if it is missing. Where it is not (a source build), it gives the commands that install
// the rule from the source folder, load the module and apply the rule.
namespace AccessibilityDialog {

inline constexpr const char* ruleName = "70-vantor.rules";

// The folders where udev reads rules, system first.
QStringList ruleFolders();
// The path of the installed rule in one of `folders`, or empty.
QString installedRule(const QStringList& folders = ruleFolders());
// The shell commands for a rule installed at `installed` (empty: not installed yet, a source
// build), with or without /dev/uinput present. Empty when nothing needs a command.
QString commands(const QString& installed, bool uinputPresent);

// A new dialog (deleted when closed) for this system, or for the given rule and module.
QMessageBox* make(QWidget* parent = nullptr);
QMessageBox* make(QWidget* parent, const QString& installed, bool uinputPresent);

} // namespace AccessibilityDialog

} // namespace vantor
