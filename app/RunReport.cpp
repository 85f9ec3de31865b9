#include "RunReport.hpp"

#include "io/ChartPart.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace app {

namespace {

using host::engine::Value;
using host::io::ReportCell;
using host::io::ReportStyle;

const char* const chart_title = "Convergence";
const char* const x_title = "Generation";

std::string y_title(const std::string& objective) { return "Objective " + objective; }

// Text that is a plain decimal number is shown as one.
ReportCell setting_cell(const std::string& text) {
    const char* start = text.c_str();
    char* end = nullptr;
    double x = std::strtod(start, &end);
    if (!text.empty() && end == start + text.size() && std::isfinite(x) &&
        text.find_first_of("xXnN") == std::string::npos)
        return {Value::number(x), std::floor(x) == x ? ReportStyle::whole : ReportStyle::number};
    return {Value::text(text), ReportStyle::text};
}

ReportCell number_cell(double x, ReportStyle style = ReportStyle::number) {
    return {std::isfinite(x) ? Value::number(x) : Value(), style};
}

ReportCell value_cell(const Value& v) { return {v, v.is_number() ? ReportStyle::number : ReportStyle::text}; }
ReportCell text_cell(const std::string& text, ReportStyle style = ReportStyle::text) {
    return {Value::text(text), style};
}

} // namespace

double serial_date(std::time_t when, bool date1904) {
    std::tm local{};
    localtime_r(&when, &local);
    // Days from 1970-01-01 of the local calendar date (H. Hinnant's days_from_civil).
    long long y = local.tm_year + 1900 - (local.tm_mon < 2 ? 1 : 0);
    long long era = (y >= 0 ? y : y - 399) / 400;
    long long year_of_era = y - era * 400;
    long long month = local.tm_mon + 1;
    long long day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + local.tm_mday - 1;
    long long day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    long long days = era * 146097 + day_of_era - 719468;
    double fraction = (local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec) / 86400.0;
    // 1970-01-01 is serial 25569 in the 1900 system and 24107 in the 1904 one.
    return double(days + (date1904 ? 24107 : 25569)) + fraction;
}

std::vector<std::size_t> thinned_rows(const std::vector<GenerationRow>& table, std::size_t room) {
    std::vector<std::size_t> kept;
    if (room == 0)
        return kept;
    auto last_of_trial = [&](std::size_t i) { return i + 1 == table.size() || table[i + 1].trial != table[i].trial; };
    std::size_t trials = 0;
    for (std::size_t i = 0; i < table.size(); ++i)
        trials += last_of_trial(i) ? 1 : 0;
    const std::size_t first_step = std::max<std::size_t>(1, (table.size() + room - 1) / room);
    if (2 * trials > room) {
        // Too many trials to show each one's ends: every step-th row of the whole table.
        for (std::size_t i = 0; i < table.size(); i += first_step)
            kept.push_back(i);
        return kept;
    }
    for (std::size_t step = first_step;; step *= 2) {
        kept.clear();
        // Every step-th row of each trial, from its first, and each trial's last.
        std::size_t in_trial = 0;
        for (std::size_t i = 0; i < table.size() && kept.size() <= room; ++i) {
            if (in_trial % step == 0 || last_of_trial(i))
                kept.push_back(i);
            in_trial = last_of_trial(i) ? 0 : in_trial + 1;
        }
        if (kept.size() <= room)
            return kept;
    }
}

host::io::ReportSheet report_sheet(const RunSummary& run, const std::vector<GenerationRow>& all_rows,
                                   std::size_t max_rows) {
    host::io::ReportSheet sheet;
    sheet.name = "Ombrix Report";
    sheet.column_widths = {24, 18, 18, 18, 18, 18};
    auto& rows = sheet.rows;
    auto line = [&rows](std::vector<ReportCell> cells) { rows.push_back(std::move(cells)); };
    auto headings = [&line](std::vector<std::string> texts) {
        std::vector<ReportCell> cells;
        for (const std::string& t : texts)
            cells.push_back(text_cell(t, ReportStyle::heading));
        line(std::move(cells));
    };

    headings({"Ombrix answer report"});
    line({text_cell("Date and time"), number_cell(serial_date(run.started, run.date1904), ReportStyle::date_time)});
    line({text_cell("Workbook"), text_cell(run.book)});
    line({text_cell("Sheet"), text_cell(run.sheet)});
    line({text_cell("Run ended"), text_cell(run.ended)});
    line({text_cell("Evaluations"), number_cell(double(run.evaluations), ReportStyle::whole)});
    line({text_cell("Generations done"),
          run.generations ? number_cell(double(*run.generations), ReportStyle::whole) : text_cell("unknown")});
    line({text_cell("Seconds"), number_cell(run.seconds, ReportStyle::seconds)});
    line({});
    headings({"Objective cell", "Goal", "Original value", "Final value"});
    line({text_cell(run.objective), text_cell(run.goal), value_cell(run.objective_original),
          value_cell(run.objective_final)});
    line({});
    headings({"Variable cell", "Minimum", "Maximum", "Original value", "Final value"});
    for (const ReportVariable& v : run.variables)
        line({text_cell(v.cell), value_cell(v.minimum), value_cell(v.maximum), value_cell(v.original),
              value_cell(v.final)});
    line({});
    headings({"Setting", "Value"});
    for (const auto& [label, value] : run.settings)
        line({text_cell(label), setting_cell(value)});
    line({});

    headings({"Convergence"});
    // A table longer than the sheet keeps a row of every so many generations, and says so.
    std::vector<GenerationRow> thinned;
    const std::vector<GenerationRow>* shown = &all_rows;
    if (rows.size() + 1 + all_rows.size() > max_rows) {
        const std::size_t room = max_rows > rows.size() + 2 ? max_rows - rows.size() - 2 : 0;
        for (std::size_t i : thinned_rows(all_rows, room))
            thinned.push_back(all_rows[i]);
        shown = &thinned;
        line({text_cell("The table is longer than a sheet: " + std::to_string(thinned.size()) + " of its " +
                        std::to_string(all_rows.size()) +
                        " rows are shown, evenly spaced, with each trial's last generation.")});
    }
    const std::vector<GenerationRow>& table = *shown;
    headings({"Trial", "Generation", "Best so far", "Generation best", "Generation mean"});
    std::uint32_t first = std::uint32_t(rows.size());
    for (const GenerationRow& g : table)
        line({number_cell(double(g.trial), ReportStyle::whole), number_cell(double(g.generation), ReportStyle::whole),
              number_cell(g.best_so_far), number_cell(g.best), number_cell(g.mean)});

    if (!table.empty()) {
        host::io::ReportChart chart;
        chart.title = chart_title;
        chart.x_title = x_title;
        chart.y_title = y_title(run.objective);
        chart.from = {0, 5};
        chart.to = {28, 16};
        // A series per trial over its own rows.
        for (std::size_t start = 0; start < table.size();) {
            std::size_t end = start;
            while (end + 1 < table.size() && table[end + 1].trial == table[start].trial)
                ++end;
            std::string trial = "Trial " + std::to_string(table[start].trial);
            std::size_t colour = std::size_t(table[start].trial - 1);
            auto r0 = std::uint32_t(first + start), r1 = std::uint32_t(first + end);
            chart.series.push_back({trial + " best so far", 1, 2, r0, r1, false, colour});
            chart.series.push_back({trial + " mean", 1, 4, r0, r1, true, colour});
            start = end + 1;
        }
        sheet.charts.push_back(chart);
    }
    return sheet;
}

namespace {

std::string svg_escaped(const std::string& text) { return host::io::xml_escaped(text); }

std::string number_text(double x) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", std::fabs(x) < 1e-12 ? 0.0 : x);
    return text;
}

std::string coordinate(double x) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", x);
    return text;
}

// A round step (1, 2 or 5 times a power of ten) giving about `count` intervals over `span`.
double tick_step(double span, int count) {
    if (!(span > 0))
        return 1;
    double raw = span / count;
    double power = std::pow(10.0, std::floor(std::log10(raw)));
    double unit = raw / power;
    return (unit <= 1 ? 1 : unit <= 2 ? 2 : unit <= 5 ? 5 : 10) * power;
}

} // namespace

std::string convergence_svg(const std::vector<GenerationRow>& table, const std::string& objective) {
    const double width = 800, height = 500, left = 90, right = 30, top = 50, bottom = 130;
    const double plot_w = width - left - right, plot_h = height - top - bottom;

    double x_max = 1, y_min = INFINITY, y_max = -INFINITY;
    for (const GenerationRow& g : table) {
        x_max = std::max(x_max, double(g.generation));
        for (double y : {g.best_so_far, g.mean})
            if (std::isfinite(y))
                y_min = std::min(y_min, y), y_max = std::max(y_max, y);
    }
    if (!(y_min <= y_max))
        y_min = 0, y_max = 1;
    if (y_min == y_max)
        y_min -= 0.5 * std::max(1.0, std::fabs(y_min)), y_max += 0.5 * std::max(1.0, std::fabs(y_max));
    double y_step = tick_step(y_max - y_min, 5);
    y_min = std::floor(y_min / y_step) * y_step;
    y_max = std::ceil(y_max / y_step) * y_step;
    double x_min = 1;
    if (x_max == x_min)
        x_max = x_min + 1;
    double x_step = std::max(1.0, tick_step(x_max - x_min, 8));
    auto px = [&](double x) { return left + (x - x_min) / (x_max - x_min) * plot_w; };
    auto py = [&](double y) { return top + (y_max - y) / (y_max - y_min) * plot_h; };

    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                      coordinate(width) + "\" height=\"" + coordinate(height) + "\" viewBox=\"0 0 " +
                      coordinate(width) + " " + coordinate(height) +
                      "\" font-family=\"DejaVu Sans, Arial, sans-serif\" font-size=\"12\">\n"
                      "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    svg += "<text x=\"" + coordinate(width / 2) +
           "\" y=\"28\" text-anchor=\"middle\" font-size=\"16\" font-weight=\"bold\">" + chart_title + "</text>\n";
    // Grid, ticks and their labels.
    for (double y = y_min; y <= y_max + y_step / 2; y += y_step) {
        std::string at = coordinate(py(y));
        svg += "<line x1=\"" + coordinate(left) + "\" y1=\"" + at + "\" x2=\"" + coordinate(left + plot_w) +
               "\" y2=\"" + at + "\" stroke=\"#d9d9d9\"/>\n<text x=\"" + coordinate(left - 6) + "\" y=\"" +
               coordinate(py(y) + 4) + "\" text-anchor=\"end\">" + number_text(y) + "</text>\n";
    }
    for (double x = x_min; x <= x_max + x_step / 2; x += x_step) {
        double at = std::min(x, x_max);
        svg += "<line x1=\"" + coordinate(px(at)) + "\" y1=\"" + coordinate(top + plot_h) + "\" x2=\"" +
               coordinate(px(at)) + "\" y2=\"" + coordinate(top + plot_h + 5) + "\" stroke=\"black\"/>\n<text x=\"" +
               coordinate(px(at)) + "\" y=\"" + coordinate(top + plot_h + 20) + "\" text-anchor=\"middle\">" +
               number_text(at) + "</text>\n";
    }
    svg += "<rect x=\"" + coordinate(left) + "\" y=\"" + coordinate(top) + "\" width=\"" + coordinate(plot_w) +
           "\" height=\"" + coordinate(plot_h) + "\" fill=\"none\" stroke=\"black\"/>\n";
    svg += "<text x=\"" + coordinate(left + plot_w / 2) + "\" y=\"" + coordinate(top + plot_h + 45) +
           "\" text-anchor=\"middle\" font-size=\"14\">" + x_title + "</text>\n";
    svg += "<text transform=\"translate(22," + coordinate(top + plot_h / 2) +
           ") rotate(-90)\" text-anchor=\"middle\" font-size=\"14\">" + svg_escaped(y_title(objective)) + "</text>\n";

    // The lines, and the legend below the plot.
    std::size_t legend_entry = 0;
    for (std::size_t start = 0; start < table.size();) {
        std::size_t end = start;
        while (end + 1 < table.size() && table[end + 1].trial == table[start].trial)
            ++end;
        std::string colour = std::string("#") + host::io::chart_colour(std::size_t(table[start].trial - 1));
        for (bool mean : {false, true}) {
            std::string points;
            for (std::size_t k = start; k <= end; ++k) {
                double y = mean ? table[k].mean : table[k].best_so_far;
                if (!std::isfinite(y))
                    continue;
                points +=
                    (points.empty() ? "" : " ") + coordinate(px(double(table[k].generation))) + "," + coordinate(py(y));
            }
            std::string dash = mean ? "\" stroke-dasharray=\"6,4" : "";
            std::string width_text = mean ? "1.5" : "2.5";
            svg += "<polyline fill=\"none\" stroke=\"" + colour + "\" stroke-width=\"" + width_text + dash +
                   "\" points=\"" + points + "\"/>\n";
            double lx = left + double(legend_entry % 4) * 170, ly = top + plot_h + 70 + double(legend_entry / 4) * 18;
            svg += "<line x1=\"" + coordinate(lx) + "\" y1=\"" + coordinate(ly) + "\" x2=\"" + coordinate(lx + 28) +
                   "\" y2=\"" + coordinate(ly) + "\" stroke=\"" + colour + "\" stroke-width=\"" + width_text + dash +
                   "\"/>\n<text x=\"" + coordinate(lx + 34) + "\" y=\"" + coordinate(ly + 4) + "\">Trial " +
                   std::to_string(table[start].trial) + (mean ? " mean" : " best so far") + "</text>\n";
            ++legend_entry;
        }
        start = end + 1;
    }
    return svg + "</svg>\n";
}

} // namespace app
