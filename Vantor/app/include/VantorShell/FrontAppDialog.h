#pragma once

#include "FrontApp/FrontApp.h"

class QMessageBox;
class QWidget;

namespace vantor {

// "App in Front Unavailable…": Vantor gives the SpaceMouse to the app in front, and on this desktop
// it cannot see which app that is. The dialog says so, gives the source's reason (which says what
// to do), and when the source offers an action that mends it, a button for that action.
namespace FrontAppDialog {

// A new dialog (deleted when closed). The action's button runs it and closes the dialog. The
// reason's lines are paragraphs; a line indented by four spaces is a command, shown unwrapped.
QMessageBox* make(const kestrix::core::FrontAppStatus& status, QWidget* parent = nullptr);

} // namespace FrontAppDialog

} // namespace vantor
