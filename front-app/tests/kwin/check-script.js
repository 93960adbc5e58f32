// Runs the shipped KWin script against stand-ins of KWin's scripting API, in the Plasma 5 form
// (workspace.clientActivated, workspace.activeClient) and the Plasma 6 form
// (workspace.windowActivated, workspace.activeWindow), and checks what it reports through
// callDBus: the window in front at the start and at each change, as three strings. Exits 1 at the
// first difference. Usage: gjs check-script.js SCRIPT
const {GLib} = imports.gi;

const [, bytes] = GLib.file_get_contents(ARGV[0]);
const script = new TextDecoder().decode(bytes);
let failed = false;

function expect(what, got, want) {
    const a = JSON.stringify(got), b = JSON.stringify(want);
    if (a !== b) {
        printerr(`${what}: got ${a}, want ${b}`);
        failed = true;
    }
}

// A signal as KWin's scripts see it: connect(handler), and emit for the test.
function signal() {
    const handlers = [];
    return {connect: f => handlers.push(f), emit: w => handlers.forEach(f => f(w))};
}

function run(plasma6, startWindow) {
    const calls = [];
    const workspace = {};
    if (plasma6) {
        workspace.windowActivated = signal();
        workspace.activeWindow = startWindow;
    } else {
        workspace.clientActivated = signal();
        workspace.activeClient = startWindow;
    }
    const callDBus = (...args) => calls.push(args);
    const target = 'const frontAppTarget = { service: ":1.7", path: "/me/orvella/FrontApp" };\n';
    new Function('workspace', 'callDBus', target + script)(workspace, callDBus);
    return {calls, activated: plasma6 ? workspace.windowActivated : workspace.clientActivated};
}

const head = [':1.7', '/me/orvella/FrontApp', 'me.orvella.FrontApp1', 'Activated'];
const editor = {desktopFileName: 'org.example.Editor', resourceClass: 'editor', pid: 4242};
// Plasma 5 gives some byte arrays as ArrayBuffers; a window whose process is unknown has pid -1.
const legacy = {desktopFileName: '', resourceClass: new TextEncoder().encode('Gimp-2.10').buffer,
    pid: -1};

for (const plasma6 of [false, true]) {
    const name = plasma6 ? 'Plasma 6' : 'Plasma 5';
    const {calls, activated} = run(plasma6, editor);
    activated.emit(legacy);
    activated.emit(null);
    expect(`${name}: reports`, calls, [
        [...head, 'org.example.Editor', 'editor', '4242'],
        [...head, '', 'Gimp-2.10', '0'],
        [...head, '', '', '0'],
    ]);
    const none = run(plasma6, null);
    expect(`${name}: no window at the start`, none.calls, [[...head, '', '', '0']]);
}

if (failed)
    imports.system.exit(1);
print('the script reports as it should under both forms of the API');
