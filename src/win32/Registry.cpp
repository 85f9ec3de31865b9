#include "win32/Registry.hpp"

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include "win32/ProductVersion.hpp"

#include <algorithm>
#include <cctype>
#include <map>
#include <utility>
#endif

namespace win32 {

namespace {

const char* const no_key_path = "no key path";
const char* const no_key = "no key";

} // namespace

std::string Registry::value_text(const char* buffer, std::size_t size) {
    const void* nul = std::memchr(buffer, '\0', size);
    std::string text(buffer, nul ? static_cast<const char*>(nul) - buffer : size);
    // Install paths are often written with a trailing separator; the version may be too.
    if (!text.empty() && text.back() == '\\')
        text.pop_back();
    return text;
}

#ifdef _WIN32

std::string Registry::get_value(const std::string& key_path, const std::string& value_name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return no_key_path;
    // One spare byte keeps a value that fills the buffer without a NUL readable.
    char buffer[buffer_size + 1] = {};
    DWORD size = buffer_size;
    LONG rc = RegQueryValueExA(key, value_name.c_str(), nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        return no_key;
    return value_text(buffer, size < buffer_size ? size : buffer_size);
}

#else

namespace {

// Key paths and value names compare without regard to case, as in the real registry.
std::string folded(const std::string& text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

typedef std::map<std::string, std::string> Values; // folded name -> data bytes
typedef std::map<std::string, Values> Keys;        // folded key path -> values

const char* const product_key = "Software\\Quenmark\\Ombrix";

Keys initial_keys() {
    Keys keys;
    keys[folded(product_key)][folded("Version")] = std::string(OMBRIX_PRODUCT_VERSION) + '\0';
    return keys;
}

Keys& keys() {
    static Keys store = initial_keys();
    return store;
}

} // namespace

std::string Registry::get_value(const std::string& key_path, const std::string& value_name) {
    Keys::const_iterator key = keys().find(folded(key_path));
    if (key == keys().end())
        return no_key_path;
    Values::const_iterator value = key->second.find(folded(value_name));
    // A value larger than the buffer fails to read, as the registry reports it.
    if (value == key->second.end() || value->second.size() > buffer_size)
        return no_key;
    char buffer[buffer_size];
    std::memcpy(buffer, value->second.data(), value->second.size());
    return value_text(buffer, value->second.size());
}

void Registry::stand_in_set(const std::string& key_path, const std::string& value_name, const std::string& text) {
    keys()[folded(key_path)][folded(value_name)] = text + '\0';
}

void Registry::stand_in_erase_value(const std::string& key_path, const std::string& value_name) {
    Keys::iterator key = keys().find(folded(key_path));
    if (key != keys().end())
        key->second.erase(folded(value_name));
}

void Registry::stand_in_erase_key(const std::string& key_path) { keys().erase(folded(key_path)); }

void Registry::stand_in_reset() { keys() = initial_keys(); }

#endif

} // namespace win32
