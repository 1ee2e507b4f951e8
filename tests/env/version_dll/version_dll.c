/* A library of the tests' own with a DllGetVersion export. What it reports,
   and the result code it gives, are set by the tests through
   VersionDllSetReply, so that a query can be made to succeed or to fail. */
#include <stdint.h>

#if defined(_WIN32)
#define VERSION_DLL_EXPORT __declspec(dllexport)
#define VERSION_DLL_CALL __stdcall
#else
#define VERSION_DLL_EXPORT __attribute__((visibility("default")))
#define VERSION_DLL_CALL
#endif

typedef struct {
  uint32_t cbSize;
  uint32_t dwMajorVersion;
  uint32_t dwMinorVersion;
  uint32_t dwBuildNumber;
  uint32_t dwPlatformID;
} VersionInfo;

static VersionInfo reply = {20, 5, 8, 2195, 2};
static int32_t reply_result = 0;

VERSION_DLL_EXPORT int32_t VERSION_DLL_CALL DllGetVersion(VersionInfo* info) {
  if (info->cbSize != sizeof(VersionInfo) || info->dwMajorVersion != 0 || info->dwMinorVersion != 0 ||
      info->dwBuildNumber != 0 || info->dwPlatformID != 0) {
    return -2147024809; /* E_INVALIDARG: the record was not prepared */
  }
  if (reply_result != 0) return reply_result;
  info->dwMajorVersion = reply.dwMajorVersion;
  info->dwMinorVersion = reply.dwMinorVersion;
  info->dwBuildNumber = reply.dwBuildNumber;
  info->dwPlatformID = reply.dwPlatformID;
  return 0;
}

VERSION_DLL_EXPORT void VERSION_DLL_CALL VersionDllSetReply(uint32_t major, uint32_t minor, uint32_t build,
                                                            uint32_t platform, int32_t result) {
  reply.dwMajorVersion = major;
  reply.dwMinorVersion = minor;
  reply.dwBuildNumber = build;
  reply.dwPlatformID = platform;
  reply_result = result;
}
