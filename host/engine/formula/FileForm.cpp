// Newer functions' prefixes in files: written on the way out, and their absence on the way
// in from the spreadsheet's own files read as the unknown function it was where it was typed.
#include "engine/FileForm.hpp"

#include "engine/Errors.hpp"
#include "engine/internal/Lexer.hpp"

#include <algorithm>
#include <iterator>
#include <cctype>
#include <vector>

namespace host::engine {

namespace {

// The functions added after the file format was defined (from 2010 on), which files
// write as _xlfn.NAME. Those the format already had (NETWORKDAYS.INTL, WORKDAY.INTL,
// ISO.CEILING, ECMA.CEILING) are written without a prefix.
// clang-format off
constexpr std::string_view newer_functions[] = {
    "ACOT", "ACOTH", "AGGREGATE", "ANCHORARRAY", "ARABIC", "ARRAYTOTEXT", "BASE", "BETA.DIST", "BETA.INV",
    "BINOM.DIST", "BINOM.DIST.RANGE", "BINOM.INV", "BITAND", "BITLSHIFT", "BITOR", "BITRSHIFT", "BITXOR", "BYCOL",
    "BYROW", "CEILING.MATH", "CEILING.PRECISE", "CHISQ.DIST", "CHISQ.DIST.RT", "CHISQ.INV", "CHISQ.INV.RT",
    "CHISQ.TEST", "CHOOSECOLS", "CHOOSEROWS", "COMBINA", "CONCAT", "CONFIDENCE.NORM", "CONFIDENCE.T", "COT", "COTH",
    "COVARIANCE.P", "COVARIANCE.S", "CSC", "CSCH", "DAYS", "DECIMAL", "DETECTLANGUAGE", "DROP", "ENCODEURL",
    "ERF.PRECISE", "ERFC.PRECISE", "EXPAND", "EXPON.DIST", "F.DIST", "F.DIST.RT", "F.INV", "F.INV.RT", "F.TEST",
    "FIELDVALUE", "FILTER", "FILTERXML", "FLOOR.MATH", "FLOOR.PRECISE", "FORECAST.ETS", "FORECAST.ETS.CONFINT",
    "FORECAST.ETS.SEASONALITY", "FORECAST.ETS.STAT", "FORECAST.LINEAR", "FORMULATEXT", "GAMMA", "GAMMA.DIST",
    "GAMMA.INV", "GAMMALN.PRECISE", "GAUSS", "GROUPBY", "HSTACK", "HYPGEOM.DIST", "IFNA", "IFS", "IMAGE", "IMCOSH",
    "IMCOT", "IMCSC", "IMCSCH", "IMSEC", "IMSECH", "IMSINH", "IMTAN", "ISFORMULA", "ISOMITTED", "ISOWEEKNUM",
    "LAMBDA", "LET", "LOGNORM.DIST", "LOGNORM.INV", "MAKEARRAY", "MAP", "MAXIFS", "MINIFS", "MODE.MULT",
    "MODE.SNGL", "MUNIT", "NEGBINOM.DIST", "NORM.DIST", "NORM.INV", "NORM.S.DIST", "NORM.S.INV", "NUMBERVALUE",
    "PDURATION", "PERCENTILE.EXC", "PERCENTILE.INC", "PERCENTOF", "PERCENTRANK.EXC", "PERCENTRANK.INC",
    "PERMUTATIONA", "PHI", "PIVOTBY", "POISSON.DIST", "QUARTILE.EXC", "QUARTILE.INC", "QUERYSTRING", "RANDARRAY",
    "RANK.AVG", "RANK.EQ", "REDUCE", "REGEXEXTRACT", "REGEXREPLACE", "REGEXTEST", "RRI", "SCAN", "SEC", "SECH",
    "SEQUENCE", "SHEET", "SHEETS", "SINGLE", "SKEW.P", "SORT", "SORTBY", "STDEV.P", "STDEV.S", "STOCKHISTORY",
    "SWITCH", "T.DIST", "T.DIST.2T", "T.DIST.RT", "T.INV", "T.INV.2T", "T.TEST", "TAKE", "TEXTAFTER", "TEXTBEFORE",
    "TEXTJOIN", "TEXTSPLIT", "TOCOL", "TOROW", "TRANSLATE", "TRIMRANGE", "UNICHAR", "UNICODE", "UNIQUE",
    "VALUETOTEXT", "VAR.P", "VAR.S", "VSTACK", "WEBSERVICE", "WEIBULL.DIST", "WRAPCOLS", "WRAPROWS", "XLOOKUP",
    "XMATCH", "XOR", "Z.TEST"};
// clang-format on

constexpr bool sorted() {
    for (std::size_t i = 1; i < std::size(newer_functions); ++i)
        if (!(newer_functions[i - 1] < newer_functions[i]))
            return false;
    return true;
}
static_assert(sorted(), "newer_functions is searched by halves");

bool is_newer(std::string_view upper) {
    return std::binary_search(std::begin(newer_functions), std::end(newer_functions), upper);
}

// Whether the text may call a newer function without its prefix: some name right before a
// '(' is one (quotes not minded; the lexer settles it). Most formulas call none, and are
// left at that.
bool may_call_newer(const std::string& formula) {
    std::string name;
    for (std::size_t p = formula.find('('); p != std::string::npos; p = formula.find('(', p + 1)) {
        std::size_t b = p;
        while (b > 0 && detail::is_name_char(formula[b - 1]))
            --b;
        if (b == p || p - b > 24)
            continue;
        name.assign(formula, b, p - b);
        for (char& ch : name)
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        if (is_newer(name))
            return true;
    }
    return false;
}

// The places (byte offsets) where a newer function is called without a prefix.
std::vector<std::size_t> unprefixed_calls(const std::string& formula) {
    std::vector<std::size_t> at;
    if (!may_call_newer(formula))
        return at;
    std::size_t start = 0;
    while (start < formula.size() && formula[start] == ' ')
        ++start;
    start = start < formula.size() && formula[start] == '=' ? start + 1 : 0;
    try {
        detail::Lexer lex(formula, start);
        for (detail::Token t = lex.next(); t.kind != detail::Tok::End; t = lex.next())
            if (t.kind == detail::Tok::Func && is_newer(t.text))
                at.push_back(t.begin);
    } catch (const FormulaError&) {
        at.clear(); // not a formula: nothing to say about it
    }
    return at;
}

// The formula with `prefix(name)` before each call at `at`.
template <class Prefix>
std::string prefixed(const std::string& formula, const std::vector<std::size_t>& at, Prefix prefix) {
    std::string out;
    out.reserve(formula.size() + at.size() * 12);
    std::size_t from = 0;
    for (std::size_t p : at) {
        out.append(formula, from, p - from);
        std::size_t e = formula.find('(', p);
        std::string upper = formula.substr(p, e - p);
        for (char& ch : upper)
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        out += prefix(upper);
        from = p;
    }
    out.append(formula, from, std::string::npos);
    return out;
}

} // namespace

std::string_view file_prefix(std::string_view upper_name) {
    if (upper_name == "FILTER" || upper_name == "SORT")
        return "_xlfn._xlws.";
    return is_newer(upper_name) ? "_xlfn." : "";
}

bool unknown_unprefixed_calls(std::string& formula) {
    const std::vector<std::size_t> at = unprefixed_calls(formula);
    if (at.empty())
        return false;
    formula = prefixed(formula, at, [](const std::string&) { return std::string_view("_xludf."); });
    return true;
}

std::string formula_for_file(const std::string& formula) {
    const std::vector<std::size_t> at = unprefixed_calls(formula);
    return at.empty() ? formula : prefixed(formula, at, [](const std::string& name) { return file_prefix(name); });
}

} // namespace host::engine
