// Load and unload hooks of the shared module. They run inside the dynamic
// loader, so they only set up and tear down logging and process-wide state.

extern "C" {
__attribute__((constructor)) static void BreltModuleLoaded() {}
__attribute__((destructor)) static void BreltModuleUnloaded() {}
}
