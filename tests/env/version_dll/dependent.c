/* A library with no DllGetVersion of its own that depends on the tests'
   library with one: a query of this library by name must not answer with
   its dependency's version. */
#define DEPENDENT_EXPORT __attribute__((visibility("default")))

typedef struct VersionInfo VersionInfo;
int DllGetVersion(VersionInfo* info);

/* Keeps the dependency whatever the linker's --as-needed says. */
DEPENDENT_EXPORT void* DependentLibraryNeeds(void) { return (void*)&DllGetVersion; }
