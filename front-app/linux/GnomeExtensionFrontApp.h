#pragma once

#include "ShellBusFrontApp.h"

#include <string>

namespace kestrix::core {

// The app in front on GNOME Shell (43 to 49). The Shell tells no other program which window has
// the focus; the package's Shell extension (front-app/gnome-shell/) publishes it on the Shell's
// own connection: the property Focus (ssi) of me.orvella.FrontApp1 at /me/orvella/FrontApp, with
// PropertiesChanged on each change. This source reads it and follows the changes, believing only
// the owner of org.gnome.Shell.
//
// Without the extension running (not installed, not enabled, installed after the Shell started, or
// made for older Shells than the running one) the status is unavailable and says what to do;
// where the Shell knows the extension, the status offers to enable it with the Shell's own
// EnableExtension call. Nothing is enabled unless the user asks.
class GnomeExtensionFrontApp final : public ShellBusFrontApp {
    Q_OBJECT
public:
    static constexpr const char* extensionUUID = FRONT_APP_EXTENSION_UUID;

    GnomeExtensionFrontApp(MainLoop& loop, FrontAppIdentityRef identity, QDBusConnection bus,
                           std::function<void(const std::string&)> log);

    // Asks the Shell to enable the extension (what the status's action does).
    void enableExtension();

private Q_SLOTS:
    void focusChanged(const QDBusMessage& message);
    void extensionStateChanged(const QDBusMessage& message);

private:
    void shellStarted() override;
    void shellStopped() override;
    void read();
    void askShell();
    void askAgainLater();
    bool takeFocus(const QVariant& value);

    int asked_ = 0; // times the Shell was asked again since it started

public:
    ~GnomeExtensionFrontApp() override { stopReporting(); }
};

// What the status says while the extension does not run, from the Shell's GetExtensionInfo
// answer (empty when the Shell does not know the extension) and whether it can be enabled.
FrontAppStatus gnomeExtensionStatus(const QVariantMap& info, std::function<void()> enable);

} // namespace kestrix::core
