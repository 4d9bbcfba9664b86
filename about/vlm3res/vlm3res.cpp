// The maker's library: it knows the address of the maker's homepage.

#include <string>

#if defined(_WIN32)
#define VLM3RES_EXPORT extern "C" __declspec(dllexport)
#else
#define VLM3RES_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#ifndef VLM3RES_HOMEPAGE
#define VLM3RES_HOMEPAGE ""
#endif
// Where the program's documents lie, seen from the folder this library is installed in.
#ifndef VLM3RES_DOCDIR_FROM_LIBDIR
#define VLM3RES_DOCDIR_FROM_LIBDIR "../share/doc/rorumo"
#endif
// The README of the source tree this library was built from: the document of a build folder.
#ifndef VLM3RES_SOURCE_README
#define VLM3RES_SOURCE_README ""
#endif

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace {

// The folder that holds this library.
std::string ownFolder()
{
#if defined(_WIN32)
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ownFolder), &module);
    char path[MAX_PATH] = {};
    GetModuleFileNameA(module, path, MAX_PATH);
    std::string file(path);
    return file.substr(0, file.find_last_of("\\/"));
#else
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&ownFolder), &info) == 0 || !info.dli_fname)
        return ".";
    std::string file(info.dli_fname);
    const auto slash = file.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : file.substr(0, slash);
#endif
}

bool readable(const std::string &path)
{
#if defined(_WIN32)
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
#else
    return access(path.c_str(), R_OK) == 0;
#endif
}

} // namespace

// Without a configured address the homepage is the program's own README, installed with it, so
// the link opens something useful even for a user who is offline. The address of a document is
// its path, which the shell opens as it opens a web address; with no document at all it is empty
// and opens nothing.
VLM3RES_EXPORT const char *RakutoHpURL(void)
{
    static std::string address;
    if (*VLM3RES_HOMEPAGE)
        return VLM3RES_HOMEPAGE;
    const std::string folder = ownFolder();
    address.clear();
    for (const char *relative :
         {"/README.html", "/README.md", "/" VLM3RES_DOCDIR_FROM_LIBDIR "/README.md",
          "/../share/doc/rorumo/README.html", "/../share/doc/rorumo/README.md",
          "/../../share/doc/rorumo/README.md"}) {
        const std::string candidate = folder + relative;
        if (readable(candidate)) {
            address = candidate;
            return address.c_str();
        }
    }
    if (*VLM3RES_SOURCE_README && readable(VLM3RES_SOURCE_README))
        address = VLM3RES_SOURCE_README;
    return address.c_str();
}
