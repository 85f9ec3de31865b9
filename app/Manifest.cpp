#include "Manifest.hpp"

#include <cctype>
#include <cstdlib>

namespace app {

namespace {

std::string line_of(std::size_t line) { return "line " + std::to_string(line); }

} // namespace

std::vector<std::vector<std::string>> csv_records(std::string_view text) {
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> record;
    std::string field;
    std::size_t line = 1, record_line = 1;
    bool quoted = false, was_quoted = false, any = false;
    auto end_field = [&] {
        record.push_back(std::move(field));
        field.clear();
        was_quoted = false;
    };
    auto end_record = [&] {
        end_field();
        if (!(record.size() == 1 && record[0].empty() && !any))
            records.push_back(std::move(record));
        record.clear();
        any = false;
    };
    if (text.substr(0, 3) == "\xEF\xBB\xBF") // a byte order mark
        text.remove_prefix(3);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < text.size() && text[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                line += c == '\n';
                field += c;
            }
            continue;
        }
        if (c == '"' && field.empty() && !was_quoted) {
            quoted = was_quoted = any = true;
        } else if (c == ',') {
            end_field();
            any = true;
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            end_record();
            record_line = ++line;
        } else {
            if (was_quoted)
                throw ManifestError(line_of(line) + ": text after a quoted field's closing quote");
            field += c;
            any = true;
        }
    }
    if (quoted)
        throw ManifestError(line_of(record_line) + ": a quoted field is not closed before the end of the file");
    if (any || !field.empty())
        end_record();
    return records;
}

std::string csv_field(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string out = "\"";
    for (char c : text)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::vector<std::string> shell_words(std::string_view text) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (in_word)
                words.push_back(std::move(word));
            word.clear();
            in_word = false;
            continue;
        }
        in_word = true;
        if (c == '\'') {
            const std::size_t close = text.find('\'', i + 1);
            if (close == std::string_view::npos)
                throw ManifestError("a ' is not closed");
            word.append(text.substr(i + 1, close - i - 1));
            i = close;
        } else if (c == '"') {
            for (++i;; ++i) {
                if (i >= text.size())
                    throw ManifestError("a \" is not closed");
                if (text[i] == '"')
                    break;
                if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == '"' || text[i + 1] == '\\'))
                    ++i;
                word += text[i];
            }
        } else if (c == '\\') {
            if (++i >= text.size())
                throw ManifestError("a \\ ends the text");
            word += text[i];
        } else {
            word += c;
        }
    }
    if (in_word)
        words.push_back(std::move(word));
    return words;
}

namespace {

// Flags that would send a row's results elsewhere than the batch collects them, or ask for
// something that is no solve.
bool reserved_flag(const std::string& word) {
    for (const char* flag : {"--output", "--in-place", "--json", "--help", "--addin"})
        if (word == flag || word.rfind(std::string(flag) + "=", 0) == 0)
            return true;
    return word == "-o" || word == "-h" || (word.rfind("-o", 0) == 0 && word.size() > 2 && word[2] != '-');
}

const char* reserved_why = "the batch decides where each row's results go (the output column, --results)";

bool truth(const std::string& text, bool& value) {
    std::string folded;
    for (char c : text)
        folded += char(std::tolower(static_cast<unsigned char>(c)));
    if (folded == "true" || folded == "yes" || folded == "1")
        return value = true;
    if (folded.empty() || folded == "false" || folded == "no" || folded == "0")
        return !(value = false);
    return false;
}

} // namespace

std::vector<ManifestRow> parse_manifest(std::string_view text,
                                        const std::function<std::optional<bool>(const std::string&)>& takes_value) {
    std::vector<std::vector<std::string>> records = csv_records(text);
    if (records.empty())
        throw ManifestError("the manifest is empty; its first line names the columns (workbook, flags, inputs, "
                            "output, name, or a flag of solve such as --seed)");
    enum class Column { workbook, output, name, flags, inputs, flag };
    struct Heading {
        Column column;
        std::string flag;
        bool takes_value = true;
    };
    std::vector<Heading> headings;
    const std::vector<std::string>& header = records[0];
    for (std::size_t i = 0; i < header.size(); ++i) {
        std::string h = header[i];
        while (!h.empty() && (h.back() == ' ' || h.back() == '\t'))
            h.pop_back();
        while (!h.empty() && (h.front() == ' ' || h.front() == '\t'))
            h.erase(0, 1);
        const std::string where = "column " + std::to_string(i + 1) + " (\"" + h + "\")";
        Heading heading{Column::flag, h};
        if (h == "workbook")
            heading.column = Column::workbook;
        else if (h == "output")
            heading.column = Column::output;
        else if (h == "name")
            heading.column = Column::name;
        else if (h == "flags")
            heading.column = Column::flags;
        else if (h == "inputs")
            heading.column = Column::inputs;
        else if (h.rfind("--", 0) == 0 && h.size() > 2) {
            if (reserved_flag(h))
                throw ManifestError(where + ": " + h + " cannot be set by a row: " + reserved_why);
            std::optional<bool> value = takes_value(h);
            if (!value)
                throw ManifestError(where + ": solve has no flag " + h + " (ombrix solve --help lists them)");
            heading.takes_value = *value;
        } else {
            throw ManifestError(where + ": not a column a manifest has; its columns are workbook, flags, inputs, "
                                        "output, name and the flags of solve such as --seed");
        }
        for (const Heading& earlier : headings)
            if (earlier.column == heading.column && heading.column != Column::inputs &&
                (heading.column != Column::flag || earlier.flag == heading.flag) && heading.flag != "--set" &&
                heading.flag != "--field")
                throw ManifestError(where + ": the column is there twice; give it once");
        headings.push_back(std::move(heading));
    }
    bool has_workbook = false;
    for (const Heading& h : headings)
        has_workbook = has_workbook || h.column == Column::workbook;
    if (!has_workbook)
        throw ManifestError("line 1: no workbook column; the first line names the columns, one of them workbook");

    std::vector<ManifestRow> rows;
    for (std::size_t r = 1; r < records.size(); ++r) {
        const std::vector<std::string>& fields = records[r];
        ManifestRow row;
        row.number = r;
        const std::string where = "row " + std::to_string(r);
        if (fields.size() > headings.size())
            throw ManifestError(where + ": " + std::to_string(fields.size()) + " fields, but the header names " +
                                std::to_string(headings.size()) + " columns");
        for (std::size_t i = 0; i < fields.size(); ++i) {
            const Heading& h = headings[i];
            const std::string& field = fields[i];
            const std::string at = where + ", column " + std::to_string(i + 1) + ": ";
            switch (h.column) {
            case Column::workbook: row.workbook = field; break;
            case Column::output: row.output = field; break;
            case Column::name: row.name = field; break;
            case Column::flags: {
                std::vector<std::string> words;
                try {
                    words = shell_words(field);
                } catch (const ManifestError& e) {
                    throw ManifestError(at + e.what());
                }
                for (const std::string& word : words)
                    if (reserved_flag(word))
                        throw ManifestError(at + word + " cannot be set by a row: " + reserved_why);
                row.arguments.insert(row.arguments.end(), words.begin(), words.end());
                break;
            }
            case Column::inputs: {
                std::size_t start = 0;
                while (start <= field.size()) {
                    std::size_t end = field.find(';', start);
                    if (end == std::string::npos)
                        end = field.size();
                    std::string item = field.substr(start, end - start);
                    while (!item.empty() && item.front() == ' ')
                        item.erase(0, 1);
                    if (!item.empty()) {
                        if (item.find('=') == std::string::npos)
                            throw ManifestError(at + "\"" + item + "\" is not CELL=VALUE");
                        row.arguments.push_back("--set");
                        row.arguments.push_back(item);
                    }
                    start = end + 1;
                }
                break;
            }
            case Column::flag:
                if (!h.takes_value) {
                    bool on = false;
                    if (!truth(field, on))
                        throw ManifestError(at + h.flag +
                                            " takes no value: write true, yes or 1 to give it, "
                                            "false, no, 0 or nothing not to");
                    if (on)
                        row.arguments.push_back(h.flag);
                } else if (!field.empty()) {
                    row.arguments.push_back(h.flag);
                    row.arguments.push_back(field);
                }
                break;
            }
        }
        if (row.workbook.empty())
            throw ManifestError(where + ": no workbook; every row names the workbook it solves");
        rows.push_back(std::move(row));
    }
    if (rows.empty())
        throw ManifestError("the manifest has a header but no rows");
    return rows;
}

std::optional<std::size_t> task_from_environment(const std::function<const char*(const char*)>& get,
                                                 std::string* source) {
    struct Variable {
        const char* name;
        std::size_t first; // the value that means the first row
    };
    for (Variable v :
         {Variable{"PARALLEL_SEQ", 1}, Variable{"JOB_COMPLETION_INDEX", 0}, Variable{"SLURM_ARRAY_TASK_ID", 1}}) {
        const char* value = get(v.name);
        if (value == nullptr || *value == '\0')
            continue;
        if (source)
            *source = v.name;
        const std::string text = value;
        std::size_t n = 0;
        bool digits = text.size() <= 9;
        for (char c : text) {
            digits = digits && c >= '0' && c <= '9';
            n = n * 10 + std::size_t(c - '0');
        }
        if (!digits || n < v.first)
            throw ManifestError(std::string(v.name) + " is \"" + text + "\", not a row number (from " +
                                std::to_string(v.first) + ")");
        return n - v.first + 1;
    }
    return std::nullopt;
}

const JsonValue* JsonValue::find(const std::string& key) const {
    for (const auto& member : members)
        if (member.first == key)
            return &member.second;
    return nullptr;
}

namespace {

class JsonReader {
public:
    explicit JsonReader(std::string_view text) : text_(text) {}

    JsonValue document() {
        JsonValue v = value(0);
        blanks();
        if (at_ < text_.size())
            fail("text after the value");
        return v;
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        throw std::runtime_error("not JSON at byte " + std::to_string(at_) + ": " + what);
    }
    void blanks() {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\r' || text_[at_] == '\t'))
            ++at_;
    }
    bool take(char c) {
        blanks();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    void expect(char c) {
        if (!take(c))
            fail(std::string("expected ") + c);
    }
    static void utf8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out += char(code);
        } else if (code < 0x800) {
            out += char(0xC0 | (code >> 6));
            out += char(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += char(0xE0 | (code >> 12));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        } else {
            out += char(0xF0 | (code >> 18));
            out += char(0x80 | ((code >> 12) & 0x3F));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        }
    }
    unsigned hex4() {
        if (at_ + 4 > text_.size())
            fail("a short \\u escape");
        unsigned code = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text_[at_++];
            const int d = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
            if (d < 0)
                fail("a bad \\u escape");
            code = code * 16 + unsigned(d);
        }
        return code;
    }
    std::string string() {
        expect('"');
        std::string out;
        while (true) {
            if (at_ >= text_.size())
                fail("a string not closed");
            const char c = text_[at_++];
            if (c == '"')
                return out;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size())
                fail("a string not closed");
            const char e = text_[at_++];
            switch (e) {
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'u': {
                unsigned code = hex4();
                if (code >= 0xD800 && code < 0xDC00 && text_.substr(at_, 2) == "\\u") {
                    at_ += 2;
                    const unsigned low = hex4();
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                }
                utf8(out, code);
                break;
            }
            default: out += e;
            }
        }
    }
    JsonValue value(int depth) {
        if (depth > 64)
            fail("nested too deep");
        blanks();
        JsonValue v;
        if (at_ >= text_.size())
            fail("no value");
        const char c = text_[at_];
        if (c == '{') {
            ++at_;
            v.kind = JsonValue::Kind::object;
            if (take('}'))
                return v;
            do {
                blanks();
                std::string key = string();
                expect(':');
                v.members.emplace_back(std::move(key), value(depth + 1));
            } while (take(','));
            expect('}');
        } else if (c == '[') {
            ++at_;
            v.kind = JsonValue::Kind::array;
            if (take(']'))
                return v;
            do
                v.items.push_back(value(depth + 1));
            while (take(','));
            expect(']');
        } else if (c == '"') {
            v.kind = JsonValue::Kind::string;
            v.text = string();
        } else {
            const std::size_t start = at_;
            while (at_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[at_])) || text_[at_] == '-' ||
                                          text_[at_] == '+' || text_[at_] == '.'))
                ++at_;
            v.text = std::string(text_.substr(start, at_ - start));
            if (v.text == "null")
                v.kind = JsonValue::Kind::null;
            else if (v.text == "true" || v.text == "false")
                v.kind = JsonValue::Kind::boolean;
            else if (!v.text.empty() && (v.text[0] == '-' || (v.text[0] >= '0' && v.text[0] <= '9')))
                v.kind = JsonValue::Kind::number;
            else
                fail("an unknown word");
        }
        return v;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

} // namespace

JsonValue parse_json(std::string_view text) { return JsonReader(text).document(); }

} // namespace app
