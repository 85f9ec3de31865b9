#ifndef OMBRIX_EXCEL_STRING_HPP
#define OMBRIX_EXCEL_STRING_HPP

#include "excel/Allocator.hpp"
#include "excel/framewrk/ExcelApi.hpp"

#include <cstddef>

namespace excel {

// An owned counted string, laid out as one xltypeStr value so it can be passed wherever a
// value pointer is expected. Its storage is the length byte, the characters and a NUL,
// from String::allocator. Not copyable; the value part may be copied bit for bit into an
// argument table for the length of one call.
class String : public XLOPER {
public:
    // Points at the shared empty text, which owns nothing.
    String();
    // Throws ExcelException "String overrun" for more than 255 characters.
    explicit String(const char* text);
    // A string value is copied; numbers, booleans, references, arrays and empty values are
    // converted by the spreadsheet; any other type throws Error VALUE.
    explicit String(const XLOPER* source);
    ~String();

    String(const String&) = delete;
    String& operator=(const String&) = delete;

    // Replaces the text; on overrun throws and keeps the old text.
    String& operator=(const char* text);

    std::size_t length() const { return static_cast<unsigned char>(val.str[0]); }
    const char* c_str() const { return val.str + 1; }

    // A fresh xltypeStr owning storage from String::allocator, which its holder releases
    // through the same allocator (or hands back through xlAutoFree).
    static XLOPER make_deep_copy(const char* text);
    // A fresh copy of a string value: length byte and characters, no NUL. Any other type
    // throws Error VALUE.
    static XLOPER make_deep_copy(XLOPER source);

    [[noreturn]] static void no_room();

    static Allocator allocator;
    static char blank[2];

private:
    static char* make_storage(const char* text, std::size_t n, bool terminate);
};

// A fixed buffer of up to 255 characters with a value that always points at it.
class CharBuffer {
public:
    CharBuffer();
    CharBuffer(const CharBuffer& other);
    CharBuffer& operator=(const CharBuffer& other);

    // Both throw ExcelException "CharBuffer overrun" past 255 characters, leaving the
    // content unchanged.
    void append(const char* text);
    void append(char c);

    [[noreturn]] void no_room() const;

    std::size_t length() const { return static_cast<unsigned char>(buffer[0]); }
    const char* c_str() const { return buffer + 1; }
    LPXLOPER xloper() { return &value; }

    char buffer[257];
    XLOPER value;
};

// n strings in one heap block, all empty to begin with.
class StringArray {
public:
    // Throws ExcelException "StringArray memory failure" when the block cannot be had.
    explicit StringArray(unsigned n);
    ~StringArray();

    StringArray(const StringArray&) = delete;
    StringArray& operator=(const StringArray&) = delete;

    String& operator[](unsigned i) { return strings[i]; }
    const String& operator[](unsigned i) const { return strings[i]; }
    unsigned size() const { return count_; }

    String* strings;

private:
    unsigned count_;
};

} // namespace excel

#endif
