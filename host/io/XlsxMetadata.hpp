#ifndef OMBRIX_IO_XLSXMETADATA_HPP
#define OMBRIX_IO_XLSXMETADATA_HPP

// The cell and value metadata a saved package needs: the dynamic-array mark of a spilling
// formula (the cell's cm) and the rich value under which an error newer than the format
// (#SPILL!, #CALC!) is saved as #VALUE! (the cell's vm). Entries the package already has are
// reused; the others are added to its metadata parts, made when it has none.

#include "engine/Value.hpp"
#include "io/Package.hpp"
#include "io/Xml.hpp"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace host::io {

class SavedMetadata {
public:
    // For the package whose workbook part is `workbook_part`; no package for a new one.
    SavedMetadata(const Package* package, const std::string& workbook_part);
    SavedMetadata(const SavedMetadata&) = delete;
    SavedMetadata& operator=(const SavedMetadata&) = delete;

    // Whether an error is saved as #VALUE! with a vm.
    static bool is_rich(engine::ErrorCode code);
    // The vm to write for a rich error (made if needed).
    unsigned error_vm(engine::ErrorCode code);
    // The error a cell's vm stands for, if it is one.
    std::optional<engine::ErrorCode> error_of(unsigned vm) const;
    // The cm to write on a spilling formula's cell (made if needed).
    unsigned dynamic_array_cm();

    // A part to write after the sheets: its name, its text, and for a new one its content type
    // and the type of the workbook's relationship to it.
    struct Part {
        std::string name, text;
        bool added = false;
        std::string content_type, relationship_type, target; // of an added part
    };
    // The parts that changed (none when nothing was asked that the package lacked).
    std::vector<Part> parts();

    // Adds an added part's relationship and content type to the workbook's relationships and
    // the package's content types, each where given (documents parsed by the caller).
    static void register_part(const Part& part, pugi::xml_node relationships, pugi::xml_node types);

private:
    enum Which { metadata_part, values_part, structures_part };
    void find_dynamic_array_mark();
    pugi::xml_node root(Which which);
    unsigned metadata_type(const char* name);
    // The bk of a new futureMetadata block of `name`, and its index there.
    pugi::xml_node new_future_block(const char* name, unsigned& index);
    pugi::xml_node metadata_list(const char* name);
    std::string declare(const char* prefix, const char* uri);

    const Package* package_;
    std::string directory_;
    std::string names_[3]; // the parts: metadata, rich values, their structures
    bool present_[3] = {false, false, false};
    bool changed_[3] = {false, false, false};
    std::optional<XmlDocument> docs_[3];                   // parsed or made on first need
    std::vector<std::optional<engine::ErrorCode>> errors_; // by vm - 1
    std::map<int, unsigned> vm_;                           // error code -> vm
    unsigned cm_ = 0;
};

} // namespace host::io

#endif
