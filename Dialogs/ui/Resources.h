#pragma once
// The embedded resource bundle under ":/VestrinaApp": the two compiled
// translation catalogues, their sources and the dialog images.

// Registers the bundle; repeated calls are harmless. Returns 1.
int InitResources();
// Unregisters the bundle. Returns 1.
int CleanupResources();

// Unregisters the bundle when the library is unloaded.
class ResourceCleanupGuard {
public:
    ResourceCleanupGuard() = default;
    ~ResourceCleanupGuard();
    ResourceCleanupGuard(const ResourceCleanupGuard&) = delete;
    ResourceCleanupGuard& operator=(const ResourceCleanupGuard&) = delete;
};
