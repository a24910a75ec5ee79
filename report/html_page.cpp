#include "report/html_page.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iterator>

namespace torvik {

namespace {

// Colours of the levels, in the badge, the reason list and the bars (a note is blue: a fact, not
// a judgement). Every text colour keeps a contrast of at least 4.5:1 against its background. In a
// narrow window the grids fall to one column and the CE cells to four a row; a table of several
// columns scrolls inside its card.
constexpr const char* kStyle = R"(
*{box-sizing:border-box;-webkit-print-color-adjust:exact;print-color-adjust:exact}
body{font:14px/1.4 system-ui,-apple-system,"Segoe UI",Roboto,sans-serif;color:#1f2937;
background:#f3f4f6;margin:0;padding:24px}
main{max-width:1100px;margin:0 auto}
section{background:#fff;border:1px solid #d1d5db;border-radius:8px;padding:16px 20px;
margin:0 0 16px;break-inside:avoid}
.wide{overflow-x:auto;margin:0 0 8px}.wide table{margin:0}
h1{font-size:22px;margin:0 0 4px}h2{font-size:17px;margin:0 0 12px}h3{font-size:14px;margin:12px 0 6px}
.sub{color:#4b5563;margin:0 0 12px}
.badge{display:inline-block;font-weight:700;font-size:20px;letter-spacing:1px;color:#fff;
padding:6px 16px;border-radius:6px;margin:0 0 8px}
.ok{color:#15803d}.warning{color:#b45309}.failed{color:#b91c1c}.unknown{color:#4b5563}
.note{color:#1d4ed8}
.b-ok{background:#15803d}.b-warning{background:#b45309}.b-failed{background:#b91c1c}
.b-unknown{background:#4b5563}
ul.reasons{list-style:none;padding:0;margin:0}
ul.reasons li{padding:3px 0 3px 8px;border-left:4px solid #d1d5db;margin:0 0 4px}
ul.reasons li.ok{border-color:#15803d}ul.reasons li.warning{border-color:#b45309}
ul.reasons li.failed{border-color:#b91c1c}ul.reasons li.unknown{border-color:#4b5563}
ul.reasons li.note{border-color:#1d4ed8}
ul.reasons b{display:inline-block;min-width:64px;text-transform:uppercase;font-size:12px}
.src{color:#6b7280;font-size:12px}
table{border-collapse:collapse;width:100%;margin:0 0 8px;font-size:13px}
th,td{border:1px solid #e5e7eb;padding:3px 8px;text-align:left;vertical-align:top}
th{background:#f9fafb;font-weight:600}
td.n{text-align:right;font-variant-numeric:tabular-nums}
table.kv{width:auto;min-width:50%}table.kv th{font-weight:400;color:#374151}
.gauges{display:grid;grid-template-columns:repeat(auto-fill,minmax(min(320px,100%),1fr));
gap:12px 24px}
.gauge .label{display:flex;justify-content:space-between;font-size:13px}
.gauge .value{font-weight:700;white-space:nowrap}.gauge svg{display:block}
.alert{background:#fef2f2;border:2px solid #b91c1c}
.alert h2{color:#b91c1c}
tr.failed td{background:#fef2f2;color:#991b1b;font-weight:600}
.info{background:#eff6ff;border:2px solid #1d4ed8}.info h2{color:#1e3a8a}
.na{color:#4b5563;font-style:italic}
.flash{display:grid;grid-template-columns:repeat(auto-fill,minmax(min(320px,100%),1fr));
gap:12px 24px}
.ce-grid{display:grid;grid-template-columns:repeat(8,48px);gap:4px;margin:0 0 8px}
.ce{position:relative;height:26px;line-height:24px;border:1px solid #9ca3af;border-radius:3px;
background:#e5e7eb;color:#4b5563;font-size:11px;text-align:center}
.ce.on{background:#2563eb;color:#fff}
.ce.fid::after{content:"";position:absolute;top:3px;right:3px;width:6px;height:6px;
border-radius:50%;background:#f59e0b}
code{font-family:ui-monospace,Consolas,monospace;font-size:12px}
footer{color:#4b5563;font-size:12px;text-align:center}
@media (max-width:540px){body{padding:8px}section{padding:12px}
.ce-grid{grid-template-columns:repeat(4,48px)}}
@media print{body{background:#fff;padding:0;font-size:11px}
section{border-color:#9ca3af}.wide{overflow:visible}}
)";

// Words of the controller's field names that are abbreviations, shown in capitals.
constexpr const char* kCapitalWords[] = {
    "ftl", "fw", "gpio", "hw",  "ip",  "ddr", "ecc", "dbuf", "gc",  "aes", "axi",  "vuc",
    "d1",  "d2", "d3",   "e3d", "slc", "tlc", "qlc", "ce",   "cpu", "id",  "nvme", "smart",
};

}  // namespace

// Each function below runs only while a page is drawn, at most once a run: marked cold, so that
// the compiler keeps it small and apart from the code every run goes through.

[[gnu::cold]] std::string html_escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                if (byte < 0x20 || byte >= 0x7F)
                    out += "&#xFFFD;";
                else
                    out += c;
        }
    }
    return out;
}

[[gnu::cold]] std::string level_class(const std::string& level) {
    for (const char* known : {"ok", "warning", "failed", "unknown", "note"}) {
        if (level == known)
            return known;
    }
    return "unknown";
}

[[gnu::cold]] std::string label_of(const std::string& name) {
    std::string label;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find_first_of("_ ", start);
        if (end == std::string::npos)
            end = name.size();
        std::string word = name.substr(start, end - start);
        const bool capital = std::any_of(std::begin(kCapitalWords), std::end(kCapitalWords),
                                         [&](const char* w) { return word == w; });
        if (capital) {
            for (char& c : word)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        } else if (label.empty() && !word.empty()) {
            word[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
        }
        label += (start == 0 ? "" : " ") + word;
        start = end + 1;
    }
    return html_escape(label);
}

[[gnu::cold]] std::string fixed_text(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

[[gnu::cold]] HtmlPage::HtmlPage(const std::string& title) {
    add("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">"
        "<title>" +
        html_escape(title) + "</title><style>" + kStyle + "</style></head><body><main>");
}

[[gnu::cold]] void HtmlPage::key_value_table(const HtmlRow& rows) {
    add("<table class=\"kv\">");
    for (const HtmlCell& cell : rows) {
        add("<tr><th>" + label_of(cell.name) + "</th><td class=\"n\">" + cell.text + "</td></tr>");
    }
    add("</table>");
}

[[gnu::cold]] void HtmlPage::array_table(const std::vector<HtmlRow>& rows) {
    std::vector<std::string> columns;
    for (const HtmlRow& row : rows) {
        for (const HtmlCell& cell : row) {
            if (std::find(columns.begin(), columns.end(), cell.name) == columns.end())
                columns.push_back(cell.name);
        }
    }
    add(kWideBox);
    add("<table>");
    add("<tr>");
    for (const std::string& column : columns)
        add("<th>" + label_of(column) + "</th>");
    add("</tr>");
    for (const HtmlRow& row : rows) {
        add("<tr>");
        for (const std::string& column : columns) {
            const auto it = std::find_if(row.begin(), row.end(),
                                         [&](const HtmlCell& c) { return c.name == column; });
            add(it != row.end() && it->number ? "<td class=\"n\">" : "<td>");
            if (it != row.end())
                add(it->text);
            add("</td>");
        }
        add("</tr>");
    }
    add("</table>");
    add(kWideBoxEnd);
}

[[gnu::cold]] void HtmlPage::bar(const std::string& title, const std::string& shown, double value,
                                 double full, const std::string& level,
                                 const std::vector<std::pair<double, std::string>>& marks,
                                 const std::string& note) {
    constexpr double kWidth = 300;
    const double filled = std::clamp(value / full, 0.0, 1.0) * kWidth;
    const char* colour = level == "failed"    ? "#b91c1c"
                         : level == "warning" ? "#b45309"
                         : level == "ok"      ? "#15803d"
                                              : "#6b7280";
    add("<div class=\"gauge\"><div class=\"label\"><span>" + title + "</span><span class=\"value " +
        level_class(level) + "\">" + shown + "</span></div>");
    // As wide as its column; the scale stretches with it.
    add("<svg width=\"100%\" height=\"22\" viewBox=\"0 0 300 22\" preserveAspectRatio=\"none\" "
        "role=\"img\" aria-label=\"" +
        title + ": " + shown + "\">");
    add("<rect x=\"0\" y=\"4\" width=\"300\" height=\"14\" rx=\"3\" fill=\"#e5e7eb\"/>");
    add("<rect x=\"0\" y=\"4\" width=\"" + fixed_text(filled, 1) +
        "\" height=\"14\" rx=\"3\" fill=\"" + colour + "\"/>");
    for (const auto& [at, mark_title] : marks) {
        const std::string x = fixed_text(std::clamp(at / full, 0.0, 1.0) * kWidth, 1);
        add("<line x1=\"" + x + "\" y1=\"0\" x2=\"" + x +
            "\" y2=\"22\" stroke=\"#111827\" stroke-width=\"2\"><title>" + mark_title +
            "</title></line>");
    }
    add("</svg>");
    if (!marks.empty() || !note.empty()) {
        add("<div class=\"src\">");
        for (std::size_t i = 0; i < marks.size(); ++i)
            add((i == 0 ? "" : "; ") + marks[i].second);
        add((marks.empty() || note.empty() ? "" : ". ") + note + "</div>");
    }
    add("</div>");
}

[[gnu::cold]] void HtmlPage::figure(const std::string& title, const std::string& shown,
                                    const std::string& level) {
    add("<div class=\"gauge\"><div class=\"label\"><span>" + title + "</span><span class=\"value " +
        level_class(level) + "\">" + shown + "</span></div></div>");
}

[[gnu::cold]] std::string HtmlPage::finish(const std::string& footer) {
    add("<footer>" + html_escape(footer) + "</footer></main></body></html>\n");
    return std::move(html_);
}

}  // namespace torvik
