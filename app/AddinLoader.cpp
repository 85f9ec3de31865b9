#include "AddinLoader.hpp"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace app {

namespace fs = std::filesystem;

AddinLoader::AddinLoader(const std::string& path) : path_(path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    if (!ec)
        path_ = absolute.lexically_normal().string();
    if (fs::is_directory(path_, ec))
        throw AddinError("cannot load the add-in " + path + ": it is a directory; give the module file in it");
    if (!fs::is_regular_file(path_, ec))
        throw AddinError("cannot load the add-in " + path + ": no such file");
    // A path with a slash is taken as is: dlopen does not search the library path for it.
    // The module stays mapped after dlclose (its static objects then go at exit): its value
    // pools are taken once and kept for the life of the process, and unmapping them would
    // lose them.
    handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (handle_ == nullptr) {
        const char* why = dlerror();
        throw AddinError("cannot load the add-in " + path + ": " + (why ? why : "unknown reason"));
    }
    if (!exports("xlAutoOpen") || !exports("xlAutoClose")) {
        dlclose(handle_);
        handle_ = nullptr;
        throw AddinError(path + " is not an add-in: it exports no xlAutoOpen and xlAutoClose");
    }
}

AddinLoader::~AddinLoader() {
    if (open_)
        close();
    if (handle_)
        dlclose(handle_);
}

AddinLoader::Command AddinLoader::command(const std::string& name) const {
    dlerror();
    void* symbol = dlsym(handle_, name.c_str());
    if (symbol == nullptr)
        return nullptr;
    // dlsym hands back an object pointer; POSIX guarantees it converts to a function pointer.
    Command f;
    static_assert(sizeof f == sizeof symbol, "function and object pointers differ in size");
    std::memcpy(&f, &symbol, sizeof f);
    return f;
}

bool AddinLoader::exports(const std::string& name) const { return !name.empty() && command(name) != nullptr; }

int AddinLoader::open() {
    int r = command("xlAutoOpen")();
    open_ = true;
    return r;
}

int AddinLoader::close() {
    open_ = false;
    return command("xlAutoClose")();
}

int AddinLoader::run(const std::string& name) {
    Command f = command(name);
    if (f == nullptr)
        throw AddinError("the add-in " + path_ + " exports no command " + name);
    return f();
}

std::vector<std::string> AddinLoader::default_candidates() {
    std::vector<std::string> candidates;
    if (const char* env = std::getenv("OMBRIX_ADDIN"); env != nullptr && *env != '\0')
        candidates.emplace_back(env);
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        fs::path dir = self.parent_path();
        for (const char* relative : {"../src/ombrix.so", "../lib/ombrix/ombrix.so", "ombrix.so", "../lib/ombrix.so"})
            candidates.push_back((dir / relative).lexically_normal().string());
    }
    return candidates;
}

std::string AddinLoader::find_default() {
    // A module named in the environment is the one wanted, found or not.
    if (const char* env = std::getenv("OMBRIX_ADDIN"); env != nullptr && *env != '\0')
        return env;
    std::vector<std::string> candidates = default_candidates();
    std::error_code ec;
    for (const std::string& c : candidates)
        if (fs::is_regular_file(c, ec))
            return c;
    std::string tried;
    for (const std::string& c : candidates)
        tried += "\n  " + c;
    throw AddinError("cannot find the add-in module ombrix.so; build it (cmake --build build), "
                     "give --addin PATH or set OMBRIX_ADDIN. Looked in:" +
                     tried);
}

} // namespace app
