// Dates and times in number formats.

#include "engine/functions/dates/Calendar.hpp"
#include "engine/functions/format/FormatCode.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <vector>

namespace host::engine::detail::fn::format {

namespace {

std::string padded(long long v, std::size_t width) {
    std::string s = std::to_string(v);
    while (s.size() < width)
        s.insert(0, "0");
    return s;
}

std::string two_digits(long long v) { return padded(v, 2); }

// Month and day names of the languages a file's formats name ([$-407]), as their
// installations show them: full names, then abbreviated; days from Sunday.
struct Names {
    int language;
    const char* months[12];
    const char* short_months[12];
    const char* days[7];
    const char* short_days[7];
};

const Names languages[] = {
    {0x07,
     {"Januar", "Februar", "März", "April", "Mai", "Juni", "Juli", "August", "September", "Oktober", "November",
      "Dezember"},
     {"Jan", "Feb", "Mrz", "Apr", "Mai", "Jun", "Jul", "Aug", "Sep", "Okt", "Nov", "Dez"},
     {"Sonntag", "Montag", "Dienstag", "Mittwoch", "Donnerstag", "Freitag", "Samstag"},
     {"So", "Mo", "Di", "Mi", "Do", "Fr", "Sa"}},
    {0x0C,
     {"janvier", "février", "mars", "avril", "mai", "juin", "juillet", "août", "septembre", "octobre", "novembre",
      "décembre"},
     {"janv.", "févr.", "mars", "avr.", "mai", "juin", "juil.", "août", "sept.", "oct.", "nov.", "déc."},
     {"dimanche", "lundi", "mardi", "mercredi", "jeudi", "vendredi", "samedi"},
     {"dim.", "lun.", "mar.", "mer.", "jeu.", "ven.", "sam."}},
    {0x0A,
     {"enero", "febrero", "marzo", "abril", "mayo", "junio", "julio", "agosto", "septiembre", "octubre", "noviembre",
      "diciembre"},
     {"ene", "feb", "mar", "abr", "may", "jun", "jul", "ago", "sep", "oct", "nov", "dic"},
     {"domingo", "lunes", "martes", "miércoles", "jueves", "viernes", "sábado"},
     {"dom", "lun", "mar", "mié", "jue", "vie", "sáb"}},
    {0x10,
     {"gennaio", "febbraio", "marzo", "aprile", "maggio", "giugno", "luglio", "agosto", "settembre", "ottobre",
      "novembre", "dicembre"},
     {"gen", "feb", "mar", "apr", "mag", "giu", "lug", "ago", "set", "ott", "nov", "dic"},
     {"domenica", "lunedì", "martedì", "mercoledì", "giovedì", "venerdì", "sabato"},
     {"dom", "lun", "mar", "mer", "gio", "ven", "sab"}},
    {0x16,
     {"janeiro", "fevereiro", "março", "abril", "maio", "junho", "julho", "agosto", "setembro", "outubro", "novembro",
      "dezembro"},
     {"jan", "fev", "mar", "abr", "mai", "jun", "jul", "ago", "set", "out", "nov", "dez"},
     {"domingo", "segunda-feira", "terça-feira", "quarta-feira", "quinta-feira", "sexta-feira", "sábado"},
     {"dom", "seg", "ter", "qua", "qui", "sex", "sáb"}},
    {0x13,
     {"januari", "februari", "maart", "april", "mei", "juni", "juli", "augustus", "september", "oktober", "november",
      "december"},
     {"jan", "feb", "mrt", "apr", "mei", "jun", "jul", "aug", "sep", "okt", "nov", "dec"},
     {"zondag", "maandag", "dinsdag", "woensdag", "donderdag", "vrijdag", "zaterdag"},
     {"zo", "ma", "di", "wo", "do", "vr", "za"}},
};

// The names of the section's language; none (English) when it names no other or one not here.
const Names* names_of(const Section& section) {
    for (const Names& n : languages)
        if (n.language == section.language)
            return &n;
    return nullptr;
}

// The first letter of a name (one character, not one byte).
std::string first_letter(const char* name) {
    std::size_t n = 1;
    while (name[n] != '\0' && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80)
        ++n;
    return std::string(name, n);
}

} // namespace

// A date or time: minutes where "m" follows hours or comes before seconds, months otherwise;
// seconds rounded to the decimals shown after them (".000"), elapsed units counting past a
// day. Elapsed times may be negative; dates may not.
Formatted show_date(const Section& section, double x, bool date1904, std::string& out) {
    const std::vector<Token>& t = section.tokens;
    const std::size_t n = t.size();
    const Names* names = names_of(section);
    bool elapsed = section.has(Token::Elapsed);
    if ((x < 0 && !elapsed) || (!elapsed && x >= double(max_serial(date1904)) + 1) || std::fabs(x) >= 1e9)
        return Formatted::NotShown;
    auto unit_of = [&](std::size_t i) {
        return t[i].kind == Token::DatePart || t[i].kind == Token::Elapsed ? t[i].text[0] : '\0';
    };
    // Fractions of a second: a point and zeros (".000"), after the seconds or anywhere else
    // ("hh .00"); each shows the leading digits of the time rounded to the longest.
    std::vector<int> places(n, 0); // at a point, how many of its digits show
    int decimals = 0;
    for (std::size_t i = 0; i + 1 < n; ++i)
        if (t[i].kind == Token::Point && t[i + 1].kind == Token::Digit) {
            for (std::size_t k = i + 1; k < n && t[k].kind == Token::Digit && places[i] < 3; ++k)
                ++places[i];
            decimals = std::max(decimals, places[i]);
        }
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t len = t[i].text.size();
        if (t[i].kind == Token::DatePart && ((t[i].text[0] == 'h' || t[i].text[0] == 's') && len > 2))
            return Formatted::Unsupported; // "hhh" and "sss" are not codes
    }
    const long long per_second = decimals == 0 ? 1 : decimals == 1 ? 10 : decimals == 2 ? 100 : 1000;
    const long long ticks = std::llround(std::fabs(x) * 86400.0 * double(per_second));
    const long long seconds = ticks / per_second, days = seconds / 86400;
    const long long hour = seconds / 3600 % 24, minute = seconds / 60 % 60, second = seconds % 60;
    if (!elapsed && days > max_serial(date1904))
        return Formatted::NotShown;
    Ymd ymd = elapsed ? Ymd{1900, 1, 0} : serial_to_ymd(long(days), date1904);
    bool twelve = section.has(Token::AmPm);
    out = x < 0 ? "-" : "";
    std::string elapsed_units; // the elapsed units already shown
    for (std::size_t i = 0; i < n; ++i) {
        const Token& tok = t[i];
        std::size_t len = tok.text.size();
        if (tok.kind == Token::Elapsed)
            elapsed_units += tok.text[0];
        if (tok.kind == Token::Digit) {
            std::size_t k = i;
            while (k > 0 && t[k - 1].kind == Token::Digit)
                --k;
            if (k == 0 || t[k - 1].kind != Token::Point || i - k >= std::size_t(places[k - 1]))
                return Formatted::Unsupported; // placeholders among date codes
        } else if (tok.kind == Token::Point && places[i] > 0) {
            out += "." + padded(ticks % per_second, std::size_t(decimals)).substr(0, std::size_t(places[i]));
        } else if (tok.kind == Token::Elapsed) {
            long long total = tok.text[0] == 'h' ? seconds / 3600 : tok.text[0] == 'm' ? seconds / 60 : seconds;
            out += padded(total, len);
        } else if (tok.kind == Token::AmPm) {
            bool pm = hour >= 12;
            // "A/P" keeps the letters' case; "am/pm" shows AM or PM in capitals, as the spreadsheet does.
            out += len == 3 ? std::string(1, tok.text[pm ? 2 : 0]) : (pm ? "PM" : "AM");
        } else if (tok.kind == Token::DatePart && elapsed_units.find(tok.text[0]) != std::string::npos &&
                   (tok.text[0] != 'm' || len <= 2)) {
            // Past an elapsed "[h]", a plain "h" counts the elapsed hours too (and so "ss" after "[s]").
            char unit = tok.text[0];
            out += padded(unit == 'h' ? seconds / 3600 : unit == 'm' ? seconds / 60 : seconds, len);
        } else if (tok.kind == Token::DatePart) {
            char code = tok.text[0];
            if (code == 'm') {
                bool minutes = false;
                for (std::size_t k = i; k-- > 0 && !minutes;)
                    if (unit_of(k)) {
                        minutes = unit_of(k) == 'h' || unit_of(k) == 's'; // "s:m" shows minutes too
                        break;
                    }
                for (std::size_t k = i + 1; k < n && !minutes; ++k)
                    if (unit_of(k)) {
                        minutes = unit_of(k) == 's';
                        break;
                    }
                if (minutes && len <= 2)
                    out += len == 1 ? std::to_string(minute) : two_digits(minute);
                else if (len <= 2)
                    out += len == 1 ? std::to_string(ymd.m) : two_digits(ymd.m);
                else if (len == 5)
                    out += first_letter(names ? names->months[ymd.m - 1] : month_names[ymd.m - 1]);
                else if (names)
                    out += len == 3 ? names->short_months[ymd.m - 1] : names->months[ymd.m - 1];
                else
                    out += len == 3 ? std::string(month_names[ymd.m - 1], 3) : std::string(month_names[ymd.m - 1]);
            } else if (code == 'y') {
                out += len <= 2 ? two_digits(ymd.y % 100) : std::to_string(ymd.y);
            } else if (code == 'e') { // the year in full, however many letters
                out += std::to_string(ymd.y);
            } else if (code == 'b') { // the Buddhist era counts 543 years more
                out += len <= 2 ? two_digits((ymd.y + 543) % 100) : std::to_string(ymd.y + 543);
            } else if (code == 'd') {
                int dow = day_of_week(long(days), date1904);
                if (len <= 2)
                    out += len == 1 ? std::to_string(ymd.d) : two_digits(ymd.d);
                else if (names)
                    out += len == 3 ? names->short_days[dow] : names->days[dow];
                else
                    out += len == 3 ? std::string(day_names[dow], 3) : std::string(day_names[dow]);
            } else if (code == 'h') {
                long long h = twelve ? (hour % 12 == 0 ? 12 : hour % 12) : hour;
                out += len == 1 ? std::to_string(h) : two_digits(h);
            } else {
                out += len == 1 ? std::to_string(second) : two_digits(second);
            }
        } else if (tok.kind == Token::General || tok.kind == Token::At || tok.kind == Token::Exponent) {
            return Formatted::Unsupported;
        } else {
            out += tok.text; // "dd.mm.yyyy", "mmmm d, yyyy"
        }
    }
    return Formatted::Shown;
}

} // namespace host::engine::detail::fn::format
