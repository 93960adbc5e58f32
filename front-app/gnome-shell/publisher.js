// The part of the extension that both module styles share (the build puts it inside each): it
// publishes the focused window's app on the session bus, on the Shell's own connection, so that
// a reader can tell it from any other peer by the sender.
//
// Object /me/orvella/FrontApp, interface me.orvella.FrontApp1, property Focus (ssi): the app id
// the Shell's window tracker gives the window (such as "org.gnome.Terminal.desktop", or
// "window:N" for a window without an app), the window's class (its Wayland app_id or its
// WM_CLASS) and its process id (0 when unknown); ("", "", 0) while no window has the focus.
// Each change is announced with org.freedesktop.DBus.Properties.PropertiesChanged.
const FRONT_APP_INTERFACE = `
<node>
  <interface name="me.orvella.FrontApp1">
    <property name="Focus" type="(ssi)" access="read"/>
  </interface>
</node>`;

class FrontAppPublisher {
    enable() {
        this._focus = ['', '', 0];
        this._tracker = Shell.WindowTracker.get_default();
        this._object = Gio.DBusExportedObject.wrapJSObject(FRONT_APP_INTERFACE, this);
        this._object.export(Gio.DBus.session, '/me/orvella/FrontApp');
        this._displaySignal = global.display.connect('notify::focus-window', () => this._update());
        this._trackerSignal = this._tracker.connect('notify::focus-app', () => this._update());
        this._update();
    }

    disable() {
        global.display.disconnect(this._displaySignal);
        this._tracker.disconnect(this._trackerSignal);
        this._object.unexport();
        this._object = null;
        this._tracker = null;
    }

    get Focus() {
        return this._focus;
    }

    _update() {
        const window = global.display.focus_window;
        let focus = ['', '', 0];
        if (window) {
            const app = this._tracker.get_window_app(window);
            const pid = window.get_pid();
            focus = [app ? app.get_id() : '', window.get_wm_class() || '', pid > 0 ? pid : 0];
        }
        if (focus.every((part, i) => part === this._focus[i]))
            return;
        this._focus = focus;
        this._object.emit_property_changed('Focus', new GLib.Variant('(ssi)', focus));
        this._object.flush();
    }
}
