#include "app/modules.h"

#include <climits>
#include <filesystem>

#include <dlfcn.h>
#include <unistd.h>

void *loadModule(const char *fileName, ModuleSymbols symbols)
{
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return nullptr;
    self[length] = '\0';
    const std::filesystem::path folder = std::filesystem::path(self).parent_path();
    for (const std::filesystem::path &module : {folder / MP3CUTTER_MODULE_DIR / fileName, folder / fileName}) {
        if (void *library = ::dlopen(module.c_str(), RTLD_NOW | (symbols == ModuleSymbols::Shared ? RTLD_GLOBAL : RTLD_LOCAL)))
            return library;
    }
    return nullptr;
}

void *moduleEntry(const char *fileName, const char *entry, ModuleSymbols symbols)
{
    void *module = loadModule(fileName, symbols);
    return module ? ::dlsym(module, entry) : nullptr;
}
