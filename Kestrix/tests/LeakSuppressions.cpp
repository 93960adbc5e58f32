// Fontconfig keeps its configuration for the life of the process; the leak checker of the
// sanitizer build is told so instead of failing every test that draws text.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
