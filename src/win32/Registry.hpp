#ifndef OMBRIX_WIN32_REGISTRY_HPP
#define OMBRIX_WIN32_REGISTRY_HPP

#include <cstddef>
#include <string>

namespace win32 {

// Read-only access to string values under HKEY_LOCAL_MACHINE. Only the About text uses it,
// so a registry that cannot be read is never an error: the answer is then a fixed text.
class Registry {
public:
    // Size of the buffer a value is read into; longer values count as missing.
    static const unsigned int buffer_size = 256;

    // The text of the value, up to its first NUL, with one trailing backslash removed.
    // "no key path" when the key cannot be opened, "no key" when the value is absent or
    // does not fit the buffer.
    static std::string get_value(const std::string& key_path, const std::string& value_name);

    // The value as read into the buffer (size bytes, not necessarily NUL-terminated) made
    // into the text that get_value answers.
    static std::string value_text(const char* buffer, std::size_t size);

#ifndef _WIN32
    // Elsewhere than on Windows the registry is a small in-memory stand-in. It starts with
    // the product's Version under Software\Quenmark\Ombrix; tests may change it.
    // Value data are stored as a string value is: the text followed by one NUL.
    static void stand_in_set(const std::string& key_path, const std::string& value_name, const std::string& text);
    static void stand_in_erase_value(const std::string& key_path, const std::string& value_name);
    static void stand_in_erase_key(const std::string& key_path);
    // Back to the state at load: the product's version and nothing else.
    static void stand_in_reset();
#endif
};

} // namespace win32

#endif
