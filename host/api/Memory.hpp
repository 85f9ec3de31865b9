#ifndef OMBRIX_HOST_API_MEMORY_HPP
#define OMBRIX_HOST_API_MEMORY_HPP

#include "excel/framewrk/ExcelApi.hpp"

#include <cstddef>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace host::api {

// Everything the host hands to the add-in inside a result: counted strings, arrays of value
// records and reference lists. Each block is recorded until xlFree gives it back, so that a
// second free, or a free of memory the host never made, is refused instead of corrupting
// the heap, and so that tests can see that nothing is outstanding.
class Allocations {
public:
    Allocations() = default;
    Allocations(const Allocations&) = delete;
    Allocations& operator=(const Allocations&) = delete;
    // Releases whatever the add-in never gave back.
    ~Allocations();

    // A counted string (length byte, the characters, a NUL for convenience). Texts over 255
    // characters do not fit the length byte: null, nothing allocated.
    char* make_string(std::string_view text);
    // rows x columns records, every one xltypeNil. The strings put into its elements must
    // be adopted with adopt_element_string so that they go with the array.
    XLOPER* make_array(std::size_t count);
    // A reference list of one rectangle.
    XLMREF* make_mref(const XLREF& rect);

    // Moves a string from the free-standing list to the strings owned by `array`: it is then
    // released with the array and cannot be released on its own.
    void adopt_element_string(XLOPER* array, char* str);

    // Releases what the value holds: a string, an array with the strings inside it, or a
    // reference list. Values that hold no memory are fine. False when the value points at
    // memory that the host does not have on its books (a foreign pointer or a second free);
    // nothing is touched then.
    bool release(const XLOPER& value);

    // Releases one block of any kind that the host made; false if it is not on the books.
    bool release_block(const void* block);

    // Blocks handed out and not yet released.
    std::size_t outstanding() const { return blocks_.size(); }
    // Everything ever handed out / given back (statistics for tests).
    std::size_t total_allocated() const { return allocated_; }
    std::size_t total_released() const { return released_; }

    // Whether the block is a live host allocation.
    bool owns(const void* block) const { return blocks_.count(block) != 0; }

private:
    enum class Kind { String, ElementString, Array, MRef };
    struct Block {
        Kind kind;
        std::vector<char*> strings; // an array's element strings
    };

    void free_block(const void* block, Kind kind);

    std::unordered_map<const void*, Block> blocks_;
    std::size_t allocated_ = 0;
    std::size_t released_ = 0;
};

} // namespace host::api

#endif
