// A shared library without the component export, for the host's error paths.
extern "C" __attribute__((visibility("default"))) int ObxTestNotTheExport() { return 7; }
