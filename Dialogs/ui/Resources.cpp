#include "Dialogs/ui/Resources.h"

#include <QtCore/qglobal.h>
#include <QtCore/QDir>

// Q_INIT_RESOURCE must be used outside any namespace.
static void RegisterBundles()
{
    Q_INIT_RESOURCE(vestrina_catalogues);
    Q_INIT_RESOURCE(vestrina_sources);
    Q_INIT_RESOURCE(vestrina_images);
}

static void UnregisterBundles()
{
    Q_CLEANUP_RESOURCE(vestrina_catalogues);
    Q_CLEANUP_RESOURCE(vestrina_sources);
    Q_CLEANUP_RESOURCE(vestrina_images);
}

int InitResources()
{
    RegisterBundles();
    return 1;
}

int CleanupResources()
{
    UnregisterBundles();
    return 1;
}

ResourceCleanupGuard::~ResourceCleanupGuard()
{
    CleanupResources();
}

namespace {
// Registered when the library loads, unregistered when it is unloaded.
const int g_resourcesRegistered = InitResources();
const ResourceCleanupGuard g_resourceCleanupGuard;
}  // namespace
