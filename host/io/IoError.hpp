#ifndef OMBRIX_IO_IOERROR_HPP
#define OMBRIX_IO_IOERROR_HPP

#include "engine/Errors.hpp"

#include <string>

namespace host::io {

// A workbook file that cannot be read or written. The message names the file and, where
// it applies, the sheet and the cell: "book.xlsx: sheet 'Plan', cell B7: <reason>".
class IoError : public Error {
public:
    IoError(std::string file, std::string reason);
    IoError(std::string file, std::string sheet, std::string cell, std::string reason);
    ~IoError() noexcept override;

    const std::string& file() const { return file_; }
    const std::string& sheet() const { return sheet_; }
    const std::string& cell() const { return cell_; }
    const std::string& reason() const { return reason_; }

private:
    static std::string compose(const std::string& file, const std::string& sheet, const std::string& cell,
                               const std::string& reason);

    std::string file_;
    std::string sheet_;
    std::string cell_;
    std::string reason_;
};

} // namespace host::io

#endif
