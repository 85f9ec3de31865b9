#include "api/Memory.hpp"

#include <cstring>

namespace host::api {

Allocations::~Allocations() {
    for (auto& entry : blocks_) {
        switch (entry.second.kind) {
        case Kind::String:
        case Kind::ElementString: delete[] static_cast<const char*>(entry.first); break;
        case Kind::Array: delete[] static_cast<const XLOPER*>(entry.first); break;
        case Kind::MRef: delete static_cast<const XLMREF*>(entry.first); break;
        }
    }
}

char* Allocations::make_string(std::string_view text) {
    if (text.size() > 255)
        return nullptr;
    char* s = new char[text.size() + 2];
    s[0] = static_cast<char>(static_cast<unsigned char>(text.size()));
    if (!text.empty())
        std::memcpy(s + 1, text.data(), text.size());
    s[text.size() + 1] = '\0';
    try {
        blocks_.emplace(s, Block{Kind::String, {}});
    } catch (...) {
        delete[] s;
        throw;
    }
    ++allocated_;
    return s;
}

XLOPER* Allocations::make_array(std::size_t count) {
    XLOPER* a = new XLOPER[count];
    for (std::size_t i = 0; i < count; ++i) {
        a[i].val.num = 0;
        a[i].xltype = xltypeNil;
    }
    try {
        blocks_.emplace(a, Block{Kind::Array, {}});
    } catch (...) {
        delete[] a;
        throw;
    }
    ++allocated_;
    return a;
}

XLMREF* Allocations::make_mref(const XLREF& rect) {
    XLMREF* m = new XLMREF;
    m->count = 1;
    m->reftbl[0] = rect;
    try {
        blocks_.emplace(m, Block{Kind::MRef, {}});
    } catch (...) {
        delete m;
        throw;
    }
    ++allocated_;
    return m;
}

void Allocations::adopt_element_string(XLOPER* array, char* str) {
    auto a = blocks_.find(array);
    auto s = blocks_.find(str);
    if (a == blocks_.end() || a->second.kind != Kind::Array || s == blocks_.end() || s->second.kind != Kind::String)
        return;
    a->second.strings.push_back(str); // may throw: the string then stays free-standing
    s->second.kind = Kind::ElementString;
}

void Allocations::free_block(const void* block, Kind kind) {
    switch (kind) {
    case Kind::String:
    case Kind::ElementString: delete[] static_cast<const char*>(block); break;
    case Kind::Array: delete[] static_cast<const XLOPER*>(block); break;
    case Kind::MRef: delete static_cast<const XLMREF*>(block); break;
    }
    blocks_.erase(block);
    ++released_;
}

bool Allocations::release_block(const void* block) {
    auto it = blocks_.find(block);
    if (it == blocks_.end() || it->second.kind == Kind::ElementString)
        return false;
    if (it->second.kind == Kind::Array) {
        // The recorded element strings, not whatever the elements point at now: the add-in
        // may have overwritten an element.
        std::vector<char*> strings;
        strings.swap(it->second.strings);
        for (char* s : strings)
            free_block(s, Kind::ElementString);
        free_block(block, Kind::Array);
        return true;
    }
    free_block(block, it->second.kind);
    return true;
}

bool Allocations::release(const XLOPER& value) {
    // The two memory bits say who frees a value, not what it is.
    switch (value.xltype & ~(xlbitDLLFree | 0x1000)) {
    case xltypeStr: return value.val.str == nullptr || release_block(value.val.str);
    case xltypeMulti: return value.val.array.lparray == nullptr || release_block(value.val.array.lparray);
    case xltypeRef: return value.val.mref.lpmref == nullptr || release_block(value.val.mref.lpmref);
    default: return true;
    }
}

} // namespace host::api
