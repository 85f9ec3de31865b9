#ifndef OMBRIX_EXCEL_EXCELEXCEPTION_HPP
#define OMBRIX_EXCEL_EXCELEXCEPTION_HPP

#include "usr/Exception.hpp"

#include <string>

namespace excel {

// Every failure of the spreadsheet bridge and of the solver's validation. The message is
// what the user sees in the alert.
class ExcelException : public usr::Exception {
public:
    explicit ExcelException(const std::string& message) : usr::Exception("ExcelException", message, usr::Exception()) {}
    ExcelException(const std::string& message, const usr::Exception& cause)
        : usr::Exception("ExcelException", message, cause) {}
    ~ExcelException() noexcept override;
};

} // namespace excel

#endif
