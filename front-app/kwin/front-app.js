// KWin script of vantor and kestrix: tells the program that loaded it which window is active, on
// every change and once at the start. A program loads its own copy over D-Bus, with the line
//     const frontAppTarget = { service: "<its bus name>", path: "<its object path>" };
// put before this text, and unloads it when it leaves.
//
// Each report is a call of Activated(desktop file name, resource class, process id), all three
// as strings ("" and "0" when there is no active window), so that the program's method matches
// whatever number type the script engine would make of a process id. Plasma 5 names the active
// window a client, Plasma 6 a window.

function frontAppText(value) {
    if (value === undefined || value === null) return "";
    if (typeof value === "string") return value;
    // A byte array (a resource class on some versions) arrives as an ArrayBuffer.
    if (value instanceof ArrayBuffer) return String.fromCharCode.apply(null, new Uint8Array(value));
    return String(value);
}

function frontAppReport(window) {
    var desktopFile = "", resourceClass = "", pid = "0";
    if (window) {
        desktopFile = frontAppText(window.desktopFileName);
        resourceClass = frontAppText(window.resourceClass);
        pid = window.pid > 0 ? String(window.pid) : "0";
    }
    callDBus(frontAppTarget.service, frontAppTarget.path, "me.orvella.FrontApp1", "Activated",
             desktopFile, resourceClass, pid);
}

if (workspace.windowActivated) {
    workspace.windowActivated.connect(frontAppReport);
    frontAppReport(workspace.activeWindow);
} else {
    workspace.clientActivated.connect(frontAppReport);
    frontAppReport(workspace.activeClient);
}
