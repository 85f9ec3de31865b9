#ifndef OMBRIX_SOLVER_PARSEPARAM_HPP
#define OMBRIX_SOLVER_PARSEPARAM_HPP

#include "excel/ExcelException.hpp"

#include <boost/lexical_cast.hpp>

#include <string>
#include <type_traits>

// The value of a dialog field's text as a T in [min, max], or excel::ExcelException with
// message: the same message for text that is no number and for a number out of range.
//
// The text must be exactly one number: no blanks, no second number, no decimal point in an
// integer field. boost::lexical_cast does the conversion, with two refusals of its own
// added: it wraps a minus sign into an unsigned field ("-1" would become 4294967295), and
// it reads "nan", which no range contains.
template <class T>
T parse_param(const std::string& text, T min, T max, const std::string& message) {
    if constexpr (std::is_unsigned<T>::value) {
        if (!text.empty() && text[0] == '-')
            throw excel::ExcelException(message);
    }
    T value = T();
    try {
        value = boost::lexical_cast<T>(text);
    } catch (const boost::bad_lexical_cast&) {
        throw excel::ExcelException(message);
    }
    // Written so that NaN fails as well.
    if (!(min <= value && value <= max))
        throw excel::ExcelException(message);
    return value;
}

#endif
