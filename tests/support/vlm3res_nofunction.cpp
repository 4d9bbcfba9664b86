// A maker's library that lacks RakutoHpURL, as an old or foreign VLM3Res might.

#if defined(_WIN32)
#define VLM3RES_EXPORT extern "C" __declspec(dllexport)
#else
#define VLM3RES_EXPORT extern "C" __attribute__((visibility("default")))
#endif

VLM3RES_EXPORT const char *RakutoVersion(void)
{
    return "0.0";
}
