#include "excel/String.hpp"

#include "excel/Error.hpp"
#include "excel/ExcelException.hpp"
#include "excel/framewrk/Framework.hpp"

#include <cstring>
#include <new>

namespace excel {

namespace {

std::size_t text_length(const char* text) { return text != nullptr ? std::strlen(text) : 0; }

} // namespace

Allocator String::allocator(32, 256);
char String::blank[2] = {0, 0};

void String::no_room() { throw ExcelException("String overrun"); }

char* String::make_storage(const char* text, std::size_t n, bool terminate) {
    if (n > 255)
        no_room();
    const std::uint32_t bytes = static_cast<std::uint32_t>(n + (terminate ? 2 : 1));
    char* s = static_cast<char*>(allocator.allocate(bytes));
    s[0] = static_cast<char>(static_cast<unsigned char>(n));
    if (n > 0)
        std::memcpy(s + 1, text, n);
    if (terminate)
        s[n + 1] = '\0';
    return s;
}

String::String() {
    xltype = xltypeStr;
    val.str = blank;
}

String::String(const char* text) {
    xltype = xltypeStr;
    val.str = make_storage(text, text_length(text), true);
}

namespace {

// Frees a value the spreadsheet filled when it goes out of scope.
struct ExcelOwned {
    XLOPER value;
    ~ExcelOwned() { Excel(xlFree, nullptr, 1, &value); }
};

} // namespace

String::String(const XLOPER* source) {
    xltype = xltypeStr;
    val.str = blank;
    switch (source->xltype) {
    case xltypeStr:
        if (source->val.str == nullptr)
            throw ErrorVALUE;
        val.str = make_storage(source->val.str + 1, static_cast<unsigned char>(source->val.str[0]), true);
        return;
    case xltypeNum:
    case xltypeBool:
    case xltypeRef:
    case xltypeMulti:
    case xltypeNil:
    case xltypeSRef: {
        XLOPER result;
        result.xltype = xltypeNil;
        throw_on_bad_ret(
            static_cast<std::uint16_t>(Excel(xlCoerce, &result, 2, const_cast<LPXLOPER>(source), TempInt(xltypeStr))));
        ExcelOwned owned{result};
        if (result.xltype != xltypeStr || result.val.str == nullptr)
            throw ErrorVALUE;
        val.str = make_storage(result.val.str + 1, static_cast<unsigned char>(result.val.str[0]), true);
        return;
    }
    default: throw ErrorVALUE;
    }
}

String::~String() {
    if (val.str != blank && val.str != nullptr)
        allocator.deallocate(val.str);
}

String& String::operator=(const char* text) {
    char* fresh = make_storage(text, text_length(text), true);
    if (val.str != blank && val.str != nullptr)
        allocator.deallocate(val.str);
    val.str = fresh;
    xltype = xltypeStr;
    return *this;
}

XLOPER String::make_deep_copy(const char* text) {
    XLOPER x;
    x.xltype = xltypeStr;
    x.val.str = make_storage(text, text_length(text), true);
    return x;
}

XLOPER String::make_deep_copy(XLOPER source) {
    if ((source.xltype & ~xlbitDLLFree) != xltypeStr || source.val.str == nullptr)
        throw ErrorVALUE;
    XLOPER x;
    x.xltype = xltypeStr;
    x.val.str = make_storage(source.val.str + 1, static_cast<unsigned char>(source.val.str[0]), false);
    return x;
}

CharBuffer::CharBuffer() {
    buffer[0] = 0;
    buffer[1] = '\0';
    value.xltype = xltypeStr;
    value.val.str = buffer;
}

CharBuffer::CharBuffer(const CharBuffer& other) {
    std::memcpy(buffer, other.buffer, other.length() + 2);
    value.xltype = xltypeStr;
    value.val.str = buffer;
}

CharBuffer& CharBuffer::operator=(const CharBuffer& other) {
    if (this != &other)
        std::memcpy(buffer, other.buffer, other.length() + 2);
    value.val.str = buffer;
    return *this;
}

void CharBuffer::no_room() const { throw ExcelException("CharBuffer overrun"); }

void CharBuffer::append(const char* text) {
    const std::size_t n = text_length(text);
    const std::size_t len = length();
    if (len + n > 255)
        no_room();
    if (n > 0)
        std::memcpy(buffer + 1 + len, text, n);
    buffer[1 + len + n] = '\0';
    buffer[0] = static_cast<char>(static_cast<unsigned char>(len + n));
}

void CharBuffer::append(char c) {
    const std::size_t len = length();
    if (len + 1 > 255)
        no_room();
    buffer[1 + len] = c;
    buffer[2 + len] = '\0';
    buffer[0] = static_cast<char>(static_cast<unsigned char>(len + 1));
}

StringArray::StringArray(unsigned n) : strings(new (std::nothrow) String[n]), count_(n) {
    if (strings == nullptr)
        throw ExcelException("StringArray memory failure");
}

StringArray::~StringArray() {
    delete[] strings; // destroys the strings last to first
}

} // namespace excel
