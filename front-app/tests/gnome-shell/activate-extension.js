// Test extension (GNOME Shell 43 and 44): lets a test bring a window to the front by its class,
// as a user's click would, through me.orvella.FrontAppTest1.Activate on the Shell's connection.
'use strict';

const {Gio} = imports.gi;
const Main = imports.ui.main;

const TEST_INTERFACE = `
<node>
  <interface name="me.orvella.FrontAppTest1">
    <method name="Activate">
      <arg type="s" direction="in" name="windowClass"/>
      <arg type="b" direction="out" name="found"/>
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

/* exported init */
function init() {
    return new FrontAppTest();
}
