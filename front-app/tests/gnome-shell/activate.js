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

    Activate(windowClass) {
        Main.overview.hide();
        for (const actor of global.get_window_actors()) {
            const window = actor.get_meta_window();
            if (window.get_wm_class() === windowClass) {
                Main.activateWindow(window);
                return true;
            }
        }
        return false;
    }
}
