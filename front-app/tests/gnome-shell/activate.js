// The part of the tests' extension that both module styles share (the build puts it inside each):
// it lets a test bring a window to the front by its class, as a user's click would, through
// me.orvella.FrontAppTest1.Activate on the Shell's connection; and announce a flood of focus
// changes as Vantor's extension does (Flood), from the same connection.
const TEST_INTERFACE = `
<node>
  <interface name="me.orvella.FrontAppTest1">
    <method name="Activate">
      <arg type="s" direction="in" name="windowClass"/>
      <arg type="b" direction="out" name="found"/>
    </method>
    <method name="Flood">
      <arg type="i" direction="in" name="count"/>
      <arg type="s" direction="in" name="lastAppID"/>
    </method>
  </interface>
</node>`;

class FrontAppTest {
    enable() {
        this._object = Gio.DBusExportedObject.wrapJSObject(TEST_INTERFACE, this);
        this._object.export(Gio.DBus.session, '/me/orvella/FrontAppTest');
    }

    disable() {
        this._object.unexport();
        this._object = null;
    }

    Flood(count, lastAppID) {
        for (let i = 0; i < count; ++i) {
            const appID = i === count - 1 ? lastAppID : `org.example.Flood${i}.desktop`;
            const changed = {Focus: new GLib.Variant('(ssi)', [appID, '', 1000 + i])};
            Gio.DBus.session.emit_signal(null, '/me/orvella/FrontApp',
                'org.freedesktop.DBus.Properties', 'PropertiesChanged',
                new GLib.Variant('(sa{sv}as)', ['me.orvella.FrontApp1', changed, []]));
        }
    }

    // Activates the window once the Shell has settled: a Shell still starting up opens its
    // overview when it is done, and an overview on its way out gives the focus back to the window
    // it had, so an activation before either would be undone.
    Activate(windowClass) {
        const actor = global.get_window_actors().find(
            a => a.get_meta_window().get_wm_class() === windowClass);
        if (!actor)
            return false;
        // With a time taken now, as a click's would be: an activation older than the focused
        // window's last user time is refused.
        this._whenSettled(() => Main.activateWindow(actor.get_meta_window(),
            global.display.get_current_time_roundtrip()));
        return true;
    }

    _whenSettled(action) {
        if (Main.layoutManager._startingUp) {
            const id = Main.layoutManager.connect('startup-complete', () => {
                Main.layoutManager.disconnect(id);
                this._whenSettled(action);
            });
        } else if (Main.overview.visible) {
            const id = Main.overview.connect('hidden', () => {
                Main.overview.disconnect(id);
                action();
            });
            Main.overview.hide();
        } else {
            action();
        }
    }
}
