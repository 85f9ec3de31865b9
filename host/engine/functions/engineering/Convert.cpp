// CONVERT: measurement units in ten categories, with the decimal prefixes (and the binary
// ones for information) the spreadsheet accepts on the units that take them.

#include "engine/functions/Common.hpp"

#include <cmath>
#include <string>

namespace host::engine::detail::fn {

namespace {

enum class Kind {
    Mass,
    Distance,
    Time,
    Pressure,
    Force,
    Energy,
    Power,
    Magnetism,
    Temperature,
    Volume,
    Area,
    Information,
    Speed
};

struct Unit {
    const char* name;
    Kind kind;
    double factor; // in the category's base unit (temperatures: see kelvin())
    bool prefixes; // takes a decimal prefix
    int power = 1; // a prefix counts this many times (km2 is 1e6 m2)
};

constexpr double inch = 0.0254, foot = 0.3048, yard = 0.9144, mile = 1609.344, nautical = 1852;
constexpr double light_year = 9460730472580800.0, pica = inch / 72;

const Unit units[] = {
    {"g", Kind::Mass, 1, true},
    {"sg", Kind::Mass, 14593.902937206364, false},
    {"lbm", Kind::Mass, 453.59237, false},
    {"u", Kind::Mass, 1.660538782e-24, true},
    {"ozm", Kind::Mass, 28.349523125, false},
    {"grain", Kind::Mass, 0.06479891, false},
    {"cwt", Kind::Mass, 45359.237, false},
    {"shweight", Kind::Mass, 45359.237, false},
    {"uk_cwt", Kind::Mass, 50802.34544, false},
    {"lcwt", Kind::Mass, 50802.34544, false},
    {"hweight", Kind::Mass, 50802.34544, false},
    {"stone", Kind::Mass, 6350.29318, false},
    {"ton", Kind::Mass, 907184.74, false},
    {"uk_ton", Kind::Mass, 1016046.9088, false},
    {"LTON", Kind::Mass, 1016046.9088, false},
    {"brton", Kind::Mass, 1016046.9088, false},

    {"m", Kind::Distance, 1, true},
    {"mi", Kind::Distance, mile, false},
    {"Nmi", Kind::Distance, nautical, false},
    {"in", Kind::Distance, inch, false},
    {"ft", Kind::Distance, foot, false},
    {"yd", Kind::Distance, yard, false},
    {"ang", Kind::Distance, 1e-10, true},
    {"ell", Kind::Distance, 1.143, false},
    {"ly", Kind::Distance, light_year, true},
    {"parsec", Kind::Distance, 3.08567758128155e16, true},
    {"pc", Kind::Distance, 3.08567758128155e16, true},
    {"Picapt", Kind::Distance, pica, false},
    {"Pica", Kind::Distance, pica, false},
    {"pica", Kind::Distance, inch / 6, false},
    {"survey_mi", Kind::Distance, 1609.3472186944373, false},

    {"yr", Kind::Time, 31557600, false},
    {"day", Kind::Time, 86400, false},
    {"d", Kind::Time, 86400, false},
    {"hr", Kind::Time, 3600, false},
    {"mn", Kind::Time, 60, false},
    {"min", Kind::Time, 60, false},
    {"sec", Kind::Time, 1, true},
    {"s", Kind::Time, 1, true},

    {"Pa", Kind::Pressure, 1, true},
    {"p", Kind::Pressure, 1, true},
    {"atm", Kind::Pressure, 101325, true},
    {"at", Kind::Pressure, 101325, true},
    {"mmHg", Kind::Pressure, 133.322, true},
    {"psi", Kind::Pressure, 6894.757293168361, false},
    {"Torr", Kind::Pressure, 133.32236842105263, false},

    {"N", Kind::Force, 1, true},
    {"dyn", Kind::Force, 1e-5, true},
    {"dy", Kind::Force, 1e-5, true},
    {"lbf", Kind::Force, 4.4482216152605, false},
    {"pond", Kind::Force, 0.00980665, true},

    {"J", Kind::Energy, 1, true},
    {"e", Kind::Energy, 1e-7, true},
    {"c", Kind::Energy, 4.184, true},
    {"cal", Kind::Energy, 4.1868, true},
    {"eV", Kind::Energy, 1.602176487e-19, true},
    {"ev", Kind::Energy, 1.602176487e-19, true},
    {"HPh", Kind::Energy, 2684519.537696172792, false},
    {"hh", Kind::Energy, 2684519.537696172792, false},
    {"Wh", Kind::Energy, 3600, true},
    {"wh", Kind::Energy, 3600, true},
    {"flb", Kind::Energy, 1.3558179483314004, false},
    {"BTU", Kind::Energy, 1055.05585262, false},
    {"btu", Kind::Energy, 1055.05585262, false},

    {"HP", Kind::Power, 745.69987158227022, false},
    {"h", Kind::Power, 745.69987158227022, false},
    {"PS", Kind::Power, 735.49875, false},
    {"W", Kind::Power, 1, true},
    {"w", Kind::Power, 1, true},

    {"T", Kind::Magnetism, 1, true},
    {"ga", Kind::Magnetism, 1e-4, true},

    {"C", Kind::Temperature, 0, false},
    {"cel", Kind::Temperature, 0, false},
    {"F", Kind::Temperature, 1, false},
    {"fah", Kind::Temperature, 1, false},
    {"K", Kind::Temperature, 2, true},
    {"kel", Kind::Temperature, 2, true},
    {"Rank", Kind::Temperature, 3, false},
    {"Reau", Kind::Temperature, 4, false},

    {"tsp", Kind::Volume, 4.92892159375e-6, false},
    {"tspm", Kind::Volume, 5e-6, false},
    {"tbs", Kind::Volume, 1.478676478125e-5, false},
    {"oz", Kind::Volume, 2.95735295625e-5, false},
    {"cup", Kind::Volume, 2.365882365e-4, false},
    {"pt", Kind::Volume, 4.73176473e-4, false},
    {"us_pt", Kind::Volume, 4.73176473e-4, false},
    {"uk_pt", Kind::Volume, 5.6826125e-4, true},
    {"qt", Kind::Volume, 9.46352946e-4, false},
    {"uk_qt", Kind::Volume, 1.1365225e-3, false},
    {"gal", Kind::Volume, 3.785411784e-3, false},
    {"uk_gal", Kind::Volume, 4.54609e-3, false},
    {"l", Kind::Volume, 1e-3, true},
    {"L", Kind::Volume, 1e-3, true},
    {"lt", Kind::Volume, 1e-3, true},
    {"ang3", Kind::Volume, 1e-30, true, 3},
    {"ang^3", Kind::Volume, 1e-30, true, 3},
    {"barrel", Kind::Volume, 0.158987294928, false},
    {"bushel", Kind::Volume, 0.03523907016688, false},
    {"ft3", Kind::Volume, foot* foot* foot, false},
    {"ft^3", Kind::Volume, foot* foot* foot, false},
    {"in3", Kind::Volume, inch* inch* inch, false},
    {"in^3", Kind::Volume, inch* inch* inch, false},
    {"ly3", Kind::Volume, light_year* light_year* light_year, false, 3},
    {"ly^3", Kind::Volume, light_year* light_year* light_year, false, 3},
    {"m3", Kind::Volume, 1, true, 3},
    {"m^3", Kind::Volume, 1, true, 3},
    {"mi3", Kind::Volume, mile* mile* mile, false},
    {"mi^3", Kind::Volume, mile* mile* mile, false},
    {"yd3", Kind::Volume, yard* yard* yard, false},
    {"yd^3", Kind::Volume, yard* yard* yard, false},
    {"Nmi3", Kind::Volume, nautical* nautical* nautical, false},
    {"Nmi^3", Kind::Volume, nautical* nautical* nautical, false},
    {"Pica3", Kind::Volume, pica* pica* pica, false},
    {"Pica^3", Kind::Volume, pica* pica* pica, false},
    {"Picapt3", Kind::Volume, pica* pica* pica, false},
    {"Picapt^3", Kind::Volume, pica* pica* pica, false},
    {"GRT", Kind::Volume, 2.8316846592, false},
    {"regton", Kind::Volume, 2.8316846592, false},
    {"MTON", Kind::Volume, 1.13267386368, false},

    {"uk_acre", Kind::Area, 4046.8564224, false},
    {"us_acre", Kind::Area, 4046.872609874252, false},
    {"ang2", Kind::Area, 1e-20, true, 2},
    {"ang^2", Kind::Area, 1e-20, true, 2},
    {"ar", Kind::Area, 100, true},
    {"ft2", Kind::Area, foot* foot, false},
    {"ft^2", Kind::Area, foot* foot, false},
    {"ha", Kind::Area, 10000, false},
    {"in2", Kind::Area, inch* inch, false},
    {"in^2", Kind::Area, inch* inch, false},
    {"ly2", Kind::Area, light_year* light_year, false, 2},
    {"ly^2", Kind::Area, light_year* light_year, false, 2},
    {"m2", Kind::Area, 1, true, 2},
    {"m^2", Kind::Area, 1, true, 2},
    {"Morgen", Kind::Area, 2500, false},
    {"mi2", Kind::Area, mile* mile, false},
    {"mi^2", Kind::Area, mile* mile, false},
    {"Nmi2", Kind::Area, nautical* nautical, false},
    {"Nmi^2", Kind::Area, nautical* nautical, false},
    {"Pica2", Kind::Area, pica* pica, false},
    {"Pica^2", Kind::Area, pica* pica, false},
    {"Picapt2", Kind::Area, pica* pica, false},
    {"Picapt^2", Kind::Area, pica* pica, false},
    {"yd2", Kind::Area, yard* yard, false},
    {"yd^2", Kind::Area, yard* yard, false},

    {"bit", Kind::Information, 1, true},
    {"byte", Kind::Information, 8, true},

    {"admkn", Kind::Speed, 0.514773333333333, false},
    {"kn", Kind::Speed, 0.514444444444444, false},
    {"m/h", Kind::Speed, 1.0 / 3600, true},
    {"m/hr", Kind::Speed, 1.0 / 3600, true},
    {"m/s", Kind::Speed, 1, true},
    {"m/sec", Kind::Speed, 1, true},
    {"mph", Kind::Speed, 0.44704, true},
};

struct Prefix {
    const char* name;
    double factor;
    bool binary;
};
const Prefix prefixes[] = {
    {"Y", 1e24, false},
    {"Z", 1e21, false},
    {"E", 1e18, false},
    {"P", 1e15, false},
    {"T", 1e12, false},
    {"G", 1e9, false},
    {"M", 1e6, false},
    {"k", 1e3, false},
    {"h", 1e2, false},
    {"da", 1e1, false},
    {"e", 1e1, false},
    {"d", 1e-1, false},
    {"c", 1e-2, false},
    {"m", 1e-3, false},
    {"u", 1e-6, false},
    {"n", 1e-9, false},
    {"p", 1e-12, false},
    {"f", 1e-15, false},
    {"a", 1e-18, false},
    {"z", 1e-21, false},
    {"y", 1e-24, false},
    {"ki", 1024.0, true},
    {"Mi", 1048576.0, true},
    {"Gi", 1073741824.0, true},
    {"Ti", 1099511627776.0, true},
    {"Pi", 1125899906842624.0, true},
    {"Ei", 1152921504606846976.0, true},
    {"Zi", 1180591620717411303424.0, true},
    {"Yi", 1208925819614629174706176.0, true},
};

// The unit a name stands for, with its prefix's factor; false when there is none.
bool find_unit(const std::string& name, Unit& unit, double& scale) {
    for (const Unit& u : units)
        if (name == u.name) {
            unit = u, scale = 1;
            return true;
        }
    for (const Prefix& p : prefixes) {
        std::string_view pre(p.name);
        if (name.size() <= pre.size() || name.compare(0, pre.size(), pre) != 0)
            continue;
        std::string rest = name.substr(pre.size());
        for (const Unit& u : units)
            if (u.prefixes && rest == u.name && (!p.binary || u.kind == Kind::Information)) {
                unit = u, scale = std::pow(p.factor, u.power);
                return true;
            }
    }
    return false;
}

double to_kelvin(double x, int scale) {
    switch (scale) {
    case 0: return x + 273.15;
    case 1: return (x - 32) * 5 / 9 + 273.15;
    case 3: return x * 5 / 9;
    case 4: return x * 5 / 4 + 273.15;
    default: return x;
    }
}
double from_kelvin(double k, int scale) {
    switch (scale) {
    case 0: return k - 273.15;
    case 1: return (k - 273.15) * 9 / 5 + 32;
    case 3: return k * 9 / 5;
    case 4: return (k - 273.15) * 4 / 5;
    default: return k;
    }
}

OMBRIX_FN(convert) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_TEXT(1, from_name);
    OMBRIX_TEXT(2, to_name);
    Unit from{}, to{};
    double from_scale, to_scale;
    if (!find_unit(from_name, from, from_scale) || !find_unit(to_name, to, to_scale) || from.kind != to.kind)
        OMBRIX_RETURN(err(ErrorCode::NA));
    if (from.kind == Kind::Temperature) {
        double k = to_kelvin(x * from_scale, int(from.factor));
        OMBRIX_RETURN(Value::number(from_kelvin(k, int(to.factor)) / to_scale));
    }
    OMBRIX_RETURN(Value::number(x * (from.factor * from_scale) / (to.factor * to_scale)));
}

} // namespace

std::vector<Entry> convert_functions() {
    return {
        {{"CONVERT", 3, 3, FnLift}, fn_convert},
    };
}

} // namespace host::engine::detail::fn
