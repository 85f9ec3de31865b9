#ifndef OMBRIX_HOST_ENGINE_VALUE_HPP
#define OMBRIX_HOST_ENGINE_VALUE_HPP

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// For the few small functions of the recalculation's inner loop: whether the compiler inlines
// them otherwise depends on how large the rest of their file has grown.
#if defined(__GNUC__) || defined(__clang__)
#define OMBRIX_ALWAYS_INLINE __attribute__((always_inline))
#else
#define OMBRIX_ALWAYS_INLINE
#endif

namespace host::engine {

// The spreadsheet's error values.
// Spill: an array result kept out of its cells; Calc: a calculation with no answer (an empty
// FILTER, an array of no cells).
enum class ErrorCode : std::uint8_t { Null, Div0, Value, Ref, Name, Num, NA, Spill, Calc, GettingData };

// "#NULL!", "#DIV/0!", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#N/A", "#SPILL!", "#CALC!",
// "#GETTING_DATA" (a value still on its way from outside, as the spreadsheet shows one).
const char* error_text(ErrorCode code);
// The error whose text is `text` (case-insensitive), if any.
std::optional<ErrorCode> parse_error(std::string_view text);

enum class ValueType : std::uint8_t { Empty, Number, Text, Boolean, Error };

// A cell's value: empty, number, text, boolean or error. 16 bytes; text is shared between
// copies (reference counted, not thread safe: a workbook and its values belong to one thread).
// Numbers are always finite: make_number() turns NaN and infinities into #NUM!.
class Value {
public:
    Value() noexcept : type_(ValueType::Empty), error_(ErrorCode::Null), number_(0) {}
    Value(const Value& other) noexcept : type_(other.type_), error_(other.error_), number_(other.number_) {
        if (type_ == ValueType::Text)
            text_ = other.text_, ++text_->refs;
    }
    Value(Value&& other) noexcept : type_(other.type_), error_(other.error_), number_(other.number_) {
        if (type_ == ValueType::Text)
            text_ = other.text_;
        other.type_ = ValueType::Empty;
    }
    Value& operator=(const Value& other) noexcept {
        if (this == &other)
            return *this;
        if (other.type_ == ValueType::Text)
            ++other.text_->refs;
        if (type_ == ValueType::Text)
            release();
        type_ = other.type_;
        error_ = other.error_;
        number_ = other.number_;
        if (type_ == ValueType::Text)
            text_ = other.text_;
        return *this;
    }
    OMBRIX_ALWAYS_INLINE Value& operator=(Value&& other) noexcept {
        if (this != &other) {
            if (type_ == ValueType::Text)
                release();
            type_ = other.type_;
            error_ = other.error_;
            number_ = other.number_;
            if (type_ == ValueType::Text)
                text_ = other.text_;
            other.type_ = ValueType::Empty;
        }
        return *this;
    }
    ~Value() {
        if (type_ == ValueType::Text)
            release();
    }

    OMBRIX_ALWAYS_INLINE static Value number(double x) noexcept {
        Value v;
        if (!(x - x == 0)) { // NaN or infinite
            v.type_ = ValueType::Error;
            v.error_ = ErrorCode::Num;
            return v;
        }
        v.type_ = ValueType::Number;
        v.number_ = x == 0 ? 0.0 : x; // no negative zero: it would print as "-0"
        return v;
    }
    // As *this = number(x), in place: a calculation writing its cell.
    OMBRIX_ALWAYS_INLINE void set_number(double x) noexcept {
        if (type_ == ValueType::Text)
            release();
        error_ = ErrorCode::Null;
        if (!(x - x == 0)) { // NaN or infinite
            type_ = ValueType::Error;
            error_ = ErrorCode::Num;
            number_ = 0;
            return;
        }
        type_ = ValueType::Number;
        number_ = x == 0 ? 0.0 : x;
    }
    // The same for a number known to be finite and not -0.
    OMBRIX_ALWAYS_INLINE void set_finite_number(double x) noexcept {
        if (type_ == ValueType::Text)
            release();
        type_ = ValueType::Number;
        error_ = ErrorCode::Null;
        number_ = x;
    }
    static Value text(std::string_view s);
    static Value boolean(bool b) noexcept;
    static Value error(ErrorCode code) noexcept;

    ValueType type() const noexcept { return type_; }
    bool is_empty() const noexcept { return type_ == ValueType::Empty; }
    bool is_number() const noexcept { return type_ == ValueType::Number; }
    bool is_text() const noexcept { return type_ == ValueType::Text; }
    bool is_boolean() const noexcept { return type_ == ValueType::Boolean; }
    bool is_error() const noexcept { return type_ == ValueType::Error; }

    // Accessors of the held alternative; each is only meaningful for its own type
    // (as_number() of a non-number is 0, as_text() of a non-text is "").
    double as_number() const noexcept { return type_ == ValueType::Number ? number_ : 0.0; }
    std::string_view as_text() const noexcept;
    bool as_boolean() const noexcept { return type_ == ValueType::Boolean && boolean_; }
    ErrorCode as_error() const noexcept { return error_; }

    // How the cell reads as text: "" for empty, shortest round-trip number, TRUE/FALSE, the
    // text itself, the error's text.
    std::string to_string() const;

    // Same type and same content (text compared exactly, case included).
    bool operator==(const Value& other) const noexcept;
    bool operator!=(const Value& other) const noexcept { return !(*this == other); }

private:
    struct Text {
        long refs;
        std::string s;
    };
    void release() noexcept;

    ValueType type_;
    ErrorCode error_;
    union {
        double number_;
        bool boolean_;
        Text* text_;
    };
};
// Every cell holds one: the type and error bytes and one number or pointer, no more.
static_assert(sizeof(Value) <= 16, "a Value grew past 16 bytes");

// The shortest decimal text that reads back as exactly `x` ("0.1", "1e+300", "-0.5");
// integers print without exponent up to 1e15. For JSON and the cached values in files.
std::string format_number(double x);

// Reads a number the way the spreadsheet reads a typed-in or coerced text: optional spaces,
// sign, digits with optional decimal point and exponent, an optional trailing '%'.
// Returns nothing for anything else (including "", "TRUE", "1,2,3").
std::optional<double> parse_number(std::string_view text);

} // namespace host::engine

#endif
