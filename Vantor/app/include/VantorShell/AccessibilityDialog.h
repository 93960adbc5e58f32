#pragma once

#include <QString>
#include <QStringList>

class QMessageBox;
class QWidget;

namespace vantor {

// "Allow Accessibility…": Linux has no permission prompt. Vantor posts its events through a
// virtual input device, so it needs write access to /dev/uinput, which the udev rule shipped with
// Vantor gives to the user at the seat. The dialog says so and gives the commands that install
// the rule, load the module and apply the rule.
namespace AccessibilityDialog {

inline constexpr const char* ruleName = "70-vantor.rules";

// The folders where udev reads rules, system first.
QStringList ruleFolders();
// The path of the installed rule in one of `folders`, or empty.
QString installedRule(const QStringList& folders = ruleFolders());
// The shell commands for a rule installed at `installed` (empty: not installed yet).
QString commands(const QString& installed);

// A new dialog (deleted when closed).
QMessageBox* make(QWidget* parent = nullptr);

} // namespace AccessibilityDialog

} // namespace vantor
