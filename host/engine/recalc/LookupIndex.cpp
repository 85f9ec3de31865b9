#include "engine/internal/LookupIndex.hpp"

#include "engine/A1.hpp"

#include <cctype>
#include <cstring>

namespace host::engine::detail {

namespace {

std::uint64_t mix(std::uint64_t h) { // splitmix64's finaliser
    h ^= h >> 30;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 27;
    h *= 0x94D049BB133111EBull;
    return h ^ (h >> 31);
}

enum : std::uint64_t { NumberTag = 1, TextTag = 2, BooleanTag = 3, ErrorTag = 4 };

// Numbers are filed by their magnitude with the last 8 bits of the mantissa dropped (rounded,
// so that round numbers lie mid-bucket): a bucket spans 2^-44 of the number, more than the
// 2^-48 within which two numbers count as equal - less than 64 steps of the last bit, either
// side, even across a power of two.
constexpr int dropped_bits = 8;
constexpr std::uint64_t near_edge = 64;

std::uint64_t number_bucket(double x, bool& negative, std::uint64_t& within) {
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    negative = (bits >> 63) != 0;
    const std::uint64_t magnitude = (bits & 0x7FFFFFFFFFFFFFFFull) + (std::uint64_t(1) << (dropped_bits - 1));
    within = magnitude & ((std::uint64_t(1) << dropped_bits) - 1);
    return magnitude >> dropped_bits;
}

std::uint64_t number_hash(bool negative, std::uint64_t bucket) {
    return mix((NumberTag << 60) ^ (std::uint64_t(negative) << 59) ^ bucket);
}

// Over the bytes in upper case, every byte beyond ASCII alike: text that compares equal
// ignoring case hashes alike even should the comparison fold letters beyond ASCII.
std::uint64_t text_hash(std::string_view s) {
    std::uint64_t h = 0xCBF29CE484222325ull; // FNV-1a
    for (char ch : s) {
        const unsigned char u = static_cast<unsigned char>(ch);
        h = (h ^ std::uint64_t(u < 0x80 ? std::toupper(u) : 0x80)) * 0x100000001B3ull;
    }
    return mix(h ^ (TextTag << 60));
}

// The hash a value is filed under; false for empty cells, which are not filed.
bool filed_hash(const Value& v, std::uint64_t& out) {
    switch (v.type()) {
    case ValueType::Number: {
        bool negative;
        std::uint64_t within;
        std::uint64_t bucket = number_bucket(v.as_number(), negative, within);
        out = number_hash(negative, bucket);
        return true;
    }
    case ValueType::Text: out = text_hash(v.as_text()); return true;
    case ValueType::Boolean: out = mix((BooleanTag << 60) ^ std::uint64_t(v.as_boolean())); return true;
    case ValueType::Error: out = mix((ErrorTag << 60) ^ std::uint64_t(v.as_error())); return true;
    default: return false;
    }
}

} // namespace

int LookupIndex::probe_hashes(const Value& key, std::uint64_t out[3]) {
    if (!key.is_number())
        return filed_hash(key, out[0]) ? 1 : 0;
    bool negative;
    std::uint64_t within;
    std::uint64_t bucket = number_bucket(key.as_number(), negative, within);
    int n = 0;
    out[n++] = number_hash(negative, bucket);
    if (bucket > 0 && within < near_edge)
        out[n++] = number_hash(negative, bucket - 1);
    if (within >= (std::uint64_t(1) << dropped_bits) - near_edge)
        out[n++] = number_hash(negative, bucket + 1);
    return n;
}

LookupIndex::LookupIndex(std::vector<Entry> entries) : entries_(std::move(entries)) {
    std::vector<std::pair<std::uint64_t, std::uint32_t>> filed;
    filed.reserve(entries_.size());
    for (std::uint32_t i = 0; i < entries_.size(); ++i) {
        const Value& v = entries_[i].value;
        std::uint64_t h;
        if (filed_hash(v, h))
            filed.emplace_back(h, i);
        Kind* kind = v.is_number() ? &numbers_ : v.is_text() ? &texts_ : v.is_boolean() ? &booleans_ : nullptr;
        if (!kind)
            continue;
        if (!kind->items.empty()) {
            const Value& before = entries_[kind->items.back()].value;
            // Numbers by their plain order, not compare()'s nearly-equal one: only then does
            // "not greater than the key" hold for a leading run of them.
            int order = v.is_number() ? (before.as_number() < v.as_number() ? -1 : before.as_number() > v.as_number())
                                      : compare(before, v);
            kind->ascending = kind->ascending && order <= 0;
            kind->descending = kind->descending && order >= 0;
        }
        kind->items.push_back(i);
    }
    std::sort(filed.begin(), filed.end());
    by_key_.reserve(filed.size());
    std::size_t distinct = 0;
    for (std::size_t i = 0; i < filed.size(); ++i)
        distinct += i == 0 || filed[i].first != filed[i - 1].first;
    if (distinct == 0)
        return;
    std::size_t places = 2;
    while (places < 2 * distinct)
        places *= 2;
    buckets_.resize(places);
    mask_ = places - 1;
    for (std::size_t i = 0; i < filed.size();) {
        std::size_t j = i;
        while (j < filed.size() && filed[j].first == filed[i].first)
            by_key_.push_back(filed[j++].second);
        std::size_t at = std::size_t(filed[i].first) & mask_;
        while (buckets_[at].first != buckets_[at].end)
            at = (at + 1) & mask_;
        buckets_[at] = Bucket{filed[i].first, std::uint32_t(i), std::uint32_t(j)};
        i = j;
    }
}

const LookupIndex::Entry* LookupIndex::sorted_find(const Value& key, bool descending) const {
    const Kind* kind = key.is_number() ? &numbers_ : key.is_text() ? &texts_ : key.is_boolean() ? &booleans_ : nullptr;
    if (!kind)
        return nullptr;
    auto fits = [&](std::uint32_t i) {
        int c = compare(entries_[i].value, key);
        return descending ? c >= 0 : c <= 0;
    };
    auto greater = [&](std::uint32_t i) { return compare(entries_[i].value, key) > 0; };
    const std::vector<std::uint32_t>& items = kind->items;
    std::size_t end;
    if (descending ? kind->descending : kind->ascending) {
        end = std::size_t(std::partition_point(items.begin(), items.end(), fits) - items.begin());
        if (descending) // the first equal value, if any
            end = std::min(end,
                           std::size_t(std::partition_point(items.begin(), items.end(), greater) - items.begin()) + 1);
    } else {
        end = 0;
        while (end < items.size() && fits(items[end]) && (!descending || greater(items[end])))
            ++end;
        if (descending && end < items.size() && fits(items[end])) // stopped at an equal value
            ++end;
    }
    return end == 0 ? nullptr : &entries_[items[end - 1]];
}

bool LookupIndex::sorted_throughout(const Value& key, std::size_t cells) const {
    const Kind* kind = key.is_number() ? &numbers_ : key.is_text() ? &texts_ : key.is_boolean() ? &booleans_ : nullptr;
    return kind && kind->items.size() == cells && entries_.size() == cells && kind->ascending;
}

// ---- the workbook's indexes ----

void LookupIndexes::sheets_changed(int count) {
    clear();
    sheet_count_ = count;
    if (watching())
        watch();
}

void LookupIndexes::watch() {
    columns_.resize(std::size_t(sheet_count_));
    for (auto& c : columns_)
        c.resize(std::size_t(max_columns));
    sheet_writes_.resize(std::size_t(sheet_count_));
}

LookupIndexes::Stamp LookupIndexes::stamp(const Area& area) const {
    Stamp s;
    const std::size_t sheet = std::size_t(area.sheet);
    if (sheet >= columns_.size())
        return s;
    if (area.c2 - area.c1 >= max_checked_columns) {
        s.writes = sheet_writes_[sheet];
    } else {
        for (std::int32_t c = area.c1; c <= area.c2; ++c)
            s.writes += columns_[sheet][std::size_t(c)];
    }
    return s;
}

std::size_t LookupIndexes::AreaHash::operator()(const AreaKey& k) const {
    std::uint64_t h = mix(std::uint64_t(std::uint32_t(k.sheet)));
    for (std::int32_t v : {k.r1, k.c1, k.r2, k.c2})
        h = mix(h ^ std::uint64_t(std::uint32_t(v)));
    return std::size_t(h);
}

} // namespace host::engine::detail
