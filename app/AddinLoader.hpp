#ifndef OMBRIX_APP_ADDINLOADER_HPP
#define OMBRIX_APP_ADDINLOADER_HPP

#include <stdexcept>
#include <string>
#include <vector>

namespace app {

// A module that cannot be loaded or lacks an entry the command needs. what() is the message
// for the user.
class AddinError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The add-in module, loaded as the spreadsheet program loads an add-in: by path, its
// functions called by name. Opening calls xlAutoOpen; the loader calls xlAutoClose before it
// lets go of a module it opened. A host session must be current whenever the module runs.
class AddinLoader {
public:
    // Loads the module (RTLD_NOW, so a missing symbol fails here). Throws AddinError.
    explicit AddinLoader(const std::string& path);
    ~AddinLoader();
    AddinLoader(const AddinLoader&) = delete;
    AddinLoader& operator=(const AddinLoader&) = delete;

    const std::string& path() const { return path_; }
    // Whether the module exports the function.
    bool exports(const std::string& name) const;

    // xlAutoOpen / xlAutoClose; each returns what the add-in returned.
    int open();
    int close();
    bool is_open() const { return open_; }

    // Calls an exported command (no arguments, an integer result). Throws AddinError when the
    // module does not export it.
    int run(const std::string& name);

    // Where the command looks for the module, in order: $OMBRIX_ADDIN, then next to the
    // program (the build tree's src/ombrix.so, an installed lib/ombrix/ombrix.so).
    static std::vector<std::string> default_candidates();
    // The first candidate that exists; throws AddinError listing the places tried.
    static std::string find_default();

private:
    typedef int (*Command)();
    Command command(const std::string& name) const;

    std::string path_;
    void* handle_ = nullptr;
    bool open_ = false;
};

} // namespace app

#endif
