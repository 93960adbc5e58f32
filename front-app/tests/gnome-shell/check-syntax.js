// Parses each built variant of the GNOME Shell extension as the Shell will load it: files whose
// name ends in "-modules.js" as ES modules (Shell 45 and later), the others as scripts (Shell 43
// and 44). Exits 1 with the parser's message at the first one that does not parse.
// Usage: gjs check-syntax.js FILE...
const {GLib} = imports.gi;

let failed = false;
for (const path of ARGV) {
    const [, bytes] = GLib.file_get_contents(path);
    const text = new TextDecoder().decode(bytes);
    const target = path.endsWith('-modules.js') ? 'module' : 'script';
    try {
        Reflect.parse(text, {target, source: path});
        print(`${path}: parses as a ${target}`);
    } catch (error) {
        printerr(`${path}: ${error}`);
        failed = true;
    }
}
if (failed)
    imports.system.exit(1);
