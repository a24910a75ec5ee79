#include "report/html_report.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "report/json_document.h"
#include "report/json_report.h"
#include "report/report_output.h"

namespace torvik {

namespace {

// Colours of the four levels, in the badge, the reason list and the bars.
constexpr const char* kStyle = R"(
*{box-sizing:border-box;-webkit-print-color-adjust:exact;print-color-adjust:exact}
body{font:14px/1.4 system-ui,-apple-system,"Segoe UI",Roboto,sans-serif;color:#1f2937;
background:#f3f4f6;margin:0;padding:24px}
main{max-width:1100px;margin:0 auto}
section{background:#fff;border:1px solid #d1d5db;border-radius:8px;padding:16px 20px;
margin:0 0 16px;break-inside:avoid}
h1{font-size:22px;margin:0 0 4px}h2{font-size:17px;margin:0 0 12px}h3{font-size:14px;margin:12px 0 6px}
.sub{color:#4b5563;margin:0 0 12px}
.head{display:flex;gap:24px;align-items:flex-start;flex-wrap:wrap}
.head>div{flex:1 1 320px}
.badge{display:inline-block;font-weight:700;font-size:20px;letter-spacing:1px;color:#fff;
padding:6px 16px;border-radius:6px;margin:0 0 8px}
.ok{color:#15803d}.warning{color:#b45309}.failed{color:#b91c1c}.unknown{color:#4b5563}
.b-ok{background:#15803d}.b-warning{background:#b45309}.b-failed{background:#b91c1c}
.b-unknown{background:#4b5563}
ul.reasons{list-style:none;padding:0;margin:0}
ul.reasons li{padding:3px 0 3px 8px;border-left:4px solid #d1d5db;margin:0 0 4px}
ul.reasons li.ok{border-color:#15803d}ul.reasons li.warning{border-color:#b45309}
ul.reasons li.failed{border-color:#b91c1c}ul.reasons li.unknown{border-color:#4b5563}
ul.reasons b{display:inline-block;min-width:64px;text-transform:uppercase;font-size:12px}
.src{color:#6b7280;font-size:12px}
table{border-collapse:collapse;width:100%;margin:0 0 8px;font-size:13px}
th,td{border:1px solid #e5e7eb;padding:3px 8px;text-align:left;vertical-align:top}
th{background:#f9fafb;font-weight:600}
td.n{text-align:right;font-variant-numeric:tabular-nums}
table.kv{width:auto;min-width:50%}table.kv th{font-weight:400;color:#374151}
.gauges{display:grid;grid-template-columns:repeat(auto-fill,minmax(320px,1fr));gap:12px 24px}
.gauge .label{display:flex;justify-content:space-between;font-size:13px}
.gauge .value{font-weight:700;white-space:nowrap}.gauge svg{display:block}
.alert{background:#fef2f2;border:2px solid #b91c1c}
.alert h2{color:#b91c1c}
tr.failed td{background:#fef2f2;color:#991b1b;font-weight:600}
.flash{display:grid;grid-template-columns:repeat(auto-fill,minmax(320px,1fr));gap:12px 24px}
code{font-family:ui-monospace,Consolas,monospace;font-size:12px}
footer{color:#6b7280;font-size:12px;text-align:center}
@media print{body{background:#fff;padding:0;font-size:11px}section{border-color:#9ca3af}}
)";

// The level of a health reason as a CSS class: "ok", "warning", "failed" or "unknown".
std::string level_class(const std::string& level) {
    for (const char* known : {"ok", "warning", "failed", "unknown"}) {
        if (level == known)
            return known;
    }
    return "unknown";
}

std::string text_of(const Json& value) {
    if (value.is_string())
        return html_escape(value.get<std::string>());
    if (value.is_boolean())
        return value.get<bool>() ? "yes" : "no";
    if (value.is_null())
        return "";
    if (value.is_array() || value.is_object())
        return html_escape(value.dump());
    return value.dump();  // a number
}

std::string label_of(const std::string& key) {
    std::string label = key;
    std::replace(label.begin(), label.end(), '_', ' ');
    return html_escape(label);
}

// The value of key in an object, or nullptr: never indexes a const object by a missing key.
const Json* find(const Json& doc, const char* key) {
    if (!doc.is_object())
        return nullptr;
    const auto it = doc.find(key);
    return it != doc.end() && !it->is_null() ? &*it : nullptr;
}

const Json* find(const Json* doc, const char* key) {
    return doc != nullptr ? find(*doc, key) : nullptr;
}

// A number of the document, when it is one (large values are decimal strings: no bar for them).
bool number(const Json* value, double& out) {
    if (value == nullptr || !value->is_number())
        return false;
    out = value->get<double>();
    return true;
}

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

class Page {
  public:
    void add(const std::string& text) { html_ += text; }
    std::string& text() { return html_; }

    // A two-column table of the keys of an object; nested objects become "key / inner" rows.
    void key_value_table(const Json& object, const std::string& prefix = "") {
        if (prefix.empty())
            add("<table class=\"kv\">");
        for (const auto& [key, value] : object.items()) {
            const std::string name =
                prefix.empty() ? label_of(key) : prefix + " / " + label_of(key);
            if (value.is_object()) {
                key_value_table(value, name);
                continue;
            }
            add("<tr><th>" + name + "</th><td class=\"n\">" + text_of(value) + "</td></tr>");
        }
        if (prefix.empty())
            add("</table>");
    }

    // A table of an array of objects: one column per key, in order of first appearance.
    void array_table(const Json& rows) {
        std::vector<std::string> columns;
        for (const Json& row : rows) {
            for (const auto& [key, value] : row.items()) {
                if (std::find(columns.begin(), columns.end(), key) == columns.end())
                    columns.push_back(key);
            }
        }
        add("<table><tr>");
        for (const std::string& column : columns)
            add("<th>" + label_of(column) + "</th>");
        add("</tr>");
        for (const Json& row : rows) {
            add("<tr>");
            for (const std::string& column : columns) {
                const auto it = row.find(column);
                const bool numeric = it != row.end() && it->is_number();
                add(numeric ? "<td class=\"n\">" : "<td>");
                if (it != row.end())
                    add(text_of(*it));
                add("</td>");
            }
            add("</tr>");
        }
        add("</table>");
    }

    // A horizontal bar: value on a scale from 0 to full, with optional marks (thresholds).
    void bar(const std::string& title, const std::string& shown, double value, double full,
             const std::string& level, const std::vector<std::pair<double, std::string>>& marks) {
        constexpr double kWidth = 300;
        const double filled = std::clamp(value / full, 0.0, 1.0) * kWidth;
        const char* colour = level == "failed"    ? "#b91c1c"
                             : level == "warning" ? "#b45309"
                             : level == "ok"      ? "#15803d"
                                                  : "#6b7280";
        add("<div class=\"gauge\"><div class=\"label\"><span>" + title +
            "</span><span class=\"value " + level_class(level) + "\">" + shown + "</span></div>");
        // As wide as its column; the scale stretches with it.
        add("<svg width=\"100%\" height=\"22\" viewBox=\"0 0 300 22\" preserveAspectRatio=\"none\" "
            "role=\"img\" aria-label=\"" +
            title + ": " + shown + "\">");
        add("<rect x=\"0\" y=\"4\" width=\"300\" height=\"14\" rx=\"3\" fill=\"#e5e7eb\"/>");
        add("<rect x=\"0\" y=\"4\" width=\"" + fixed(filled, 1) +
            "\" height=\"14\" rx=\"3\" fill=\"" + colour + "\"/>");
        for (const auto& [at, mark_title] : marks) {
            const std::string x = fixed(std::clamp(at / full, 0.0, 1.0) * kWidth, 1);
            add("<line x1=\"" + x + "\" y1=\"0\" x2=\"" + x +
                "\" y2=\"22\" stroke=\"#111827\" stroke-width=\"2\"><title>" + mark_title +
                "</title></line>");
        }
        add("</svg>");
        if (!marks.empty()) {
            add("<div class=\"src\">");
            for (std::size_t i = 0; i < marks.size(); ++i)
                add((i == 0 ? "" : "; ") + marks[i].second);
            add("</div>");
        }
        add("</div>");
    }

    void figure(const std::string& title, const std::string& shown, const std::string& level) {
        add("<div class=\"gauge\"><div class=\"label\"><span>" + title +
            "</span><span class=\"value " + level_class(level) + "\">" + shown +
            "</span></div></div>");
    }

  private:
    std::string html_;
};

// The level the verdict gave a field, or "" when it did not judge it.
std::string reason_level(const Json& health, const char* field) {
    for (const Json& reason : health["reasons"]) {
        if (reason["field"] == field)
            return reason["level"].get<std::string>();
    }
    return "";
}

void header(Page& page, const Json& doc) {
    const Json& identity = doc["identity"];
    const Json& health = doc["health"];
    const std::string verdict = health["verdict"].get<std::string>();
    std::string cls = "unknown";
    if (verdict == "PASSED")
        cls = "ok";
    else if (verdict == "WARNING")
        cls = "warning";
    else if (verdict == "FAILED")
        cls = "failed";

    page.add("<section class=\"head\"><div>");
    const Json* model = find(identity, "model");
    page.add("<h1>" + (model != nullptr ? text_of(*model) : std::string("Drive")) + "</h1>");
    page.add("<p class=\"sub\">Drive report of torvik_usb_pssd_flash_id " +
             text_of(doc["tool"]["version"]) + "</p><table class=\"kv\">");
    auto row = [&page](const std::string& name, const std::string& value) {
        page.add("<tr><th>" + name + "</th><td>" + value + "</td></tr>");
    };
    if (model != nullptr) {
        row("Model", text_of(*model));
        row("Firmware revision", text_of(identity["revision"]));
        row("Serial number", text_of(identity["serial"]));
    }
    double bytes = 0;
    if (number(find(identity, "size_bytes"), bytes))
        row("Size", fixed(bytes / 1e9, 1) + " GB (" + text_of(identity["size_bytes"]) + " bytes)");
    const Json& controller = doc["controller"];
    if (const Json* name = find(controller, "name")) {
        row("Controller", text_of(*name) + (controller["supported"].get<bool>()
                                                ? " (supported)"
                                                : " (not supported: the report stops here)"));
    }
    std::string drive =
        "Drive " + text_of(doc["drive"]["number"]) + " on " + text_of(doc["drive"]["bus"]);
    if (const Json* sim = find(doc["drive"], "simulated"))
        drive += ", simulated (" + text_of((*sim)["kind"]) + ": " + text_of((*sim)["source"]) + ")";
    row("Drive", drive);
    page.add("</table></div><div><div class=\"badge b-" + cls + "\">" + html_escape(verdict) +
             "</div><ul class=\"reasons\">");
    for (const Json& reason : health["reasons"]) {
        const std::string level = level_class(reason["level"].get<std::string>());
        page.add("<li class=\"" + level + "\"><b>" + level + "</b> " + text_of(reason["text"]) +
                 " <span class=\"src\">[" + text_of(reason["source"]) + "]</span></li>");
    }
    page.add("</ul></div></section>");
}

void failures_alert(Page& page, const Json& doc) {
    const Json& failures = doc["failed_commands"];
    if (failures.empty())
        return;
    page.add("<section class=\"alert\" id=\"failed-commands\"><h2>" +
             std::to_string(failures.size()) + (failures.size() == 1 ? " command" : " commands") +
             " failed: the figures drawn from their pages are missing</h2><table><tr><th>"
             "command</th><th>dump file</th><th>error</th><th>report name</th></tr>");
    for (const Json& f : failures) {
        char error[16];
        std::snprintf(error, sizeof error, "0x%x", f["error"].get<unsigned>());
        const Json* name = find(f, "report_name");
        page.add("<tr class=\"failed\"><td>FAILED " + text_of(f["command"]) + "</td><td>" +
                 text_of(f["dump_file"]) + "</td><td>" + error + "</td><td>" +
                 (name != nullptr ? text_of(*name) : std::string()) + "</td></tr>");
    }
    page.add("</table></section>");
}

// The extended SMART record with this IntId, or nullptr.
const Json* ext_record(const Json& doc, unsigned int_id) {
    if (const Json* ext = find(doc, "extended_smart")) {
        for (const Json& r : *ext) {
            if (r["int_id"] == int_id)
                return &r;
        }
    }
    return nullptr;
}

void key_figures(Page& page, const Json& doc) {
    const Json& health = doc["health"];
    page.add("<section><h2>Key health figures</h2><div class=\"gauges\">");
    double v = 0;
    // The figures of the log the verdict was judged from.
    const Json* smart = nullptr;
    if (health["source"] == "nvme_smart")
        smart = find(doc, "bridge_nvme_smart");
    else if (health["source"] == "smart")
        smart = find(doc, "nvme_smart");
    if (smart != nullptr) {
        const Json& s = *smart;
        if (number(find(s, "percentage_used"), v)) {
            page.bar("Life used (percentage used)", fixed(v, 0) + "%", v, 100,
                     reason_level(health, "percentage_used"), {{90, "warning at 90%"}});
            page.bar("Life remaining", fixed(std::max(0.0, 100 - v), 0) + "%",
                     std::max(0.0, 100 - v), 100, reason_level(health, "percentage_used"), {});
        }
        double threshold = 0;
        if (number(find(s, "available_spare"), v) &&
            number(find(s, "available_spare_threshold"), threshold)) {
            page.bar("Available spare", fixed(v, 0) + "%", v, 100,
                     reason_level(health, "available_spare"),
                     {{threshold, "drive's threshold " + fixed(threshold, 0) + "%"}});
        }
        if (number(find(find(s, "composite_temperature"), "celsius"), v)) {
            std::vector<std::pair<double, std::string>> marks;
            double full = 100;
            if (const Json* id = find(doc, "nvme_identify")) {
                double limit = 0;
                if (const Json* w = find(*id, "warning_composite_temperature_threshold");
                    w != nullptr && number(find(*w, "celsius"), limit)) {
                    marks.emplace_back(limit, "warning " + fixed(limit, 0) + " C");
                    full = std::max(full, limit + 10);
                }
                if (const Json* c = find(*id, "critical_composite_temperature_threshold");
                    c != nullptr && number(find(*c, "celsius"), limit)) {
                    marks.emplace_back(limit, "critical " + fixed(limit, 0) + " C");
                    full = std::max(full, limit + 10);
                }
            }
            page.bar("Composite temperature", fixed(v, 0) + " C", v, full,
                     reason_level(health, "composite_temperature"), marks);
        }
        page.figure("Media and data integrity errors",
                    text_of(s["media_and_data_integrity_errors"]),
                    reason_level(health, "media_and_data_integrity_errors"));
        page.figure("Power-on hours", text_of(s["power_on_hours"]), "");
        page.figure("Power cycles", text_of(s["power_cycles"]), "");
        page.figure("Unsafe shutdowns", text_of(s["unsafe_shutdowns"]), "");
        // Data units are thousands of 512-byte sectors.
        for (const char* key : {"data_units_read", "data_units_written"}) {
            const std::string title = key[11] == 'r' ? "Data read" : "Data written";
            page.figure(title,
                        number(find(s, key), v) ? fixed(v * 512000 / 1e12, 2) + " TB"
                                                : text_of(s[key]) + " data units",
                        "");
        }
    } else {
        // No NVMe log: the vendor's life figures, when the extended SMART page has them.
        if (const Json* r = ext_record(doc, 0x020F); r != nullptr && number(&(*r)["raw"], v)) {
            page.bar("Life remaining (extended SMART)", fixed(v, 0) + "%", v, 100,
                     reason_level(health, "life_remaining"), {{10, "warning at 10%"}});
        }
        if (const Json* r = ext_record(doc, 0x020B); r != nullptr && number(&(*r)["raw"], v)) {
            double limit = 0;
            if (const Json* conf = find(doc, "configuration");
                conf != nullptr && number(find(find(*conf, "pe_cycle_limit"), "second"), limit) &&
                limit > 0) {
                page.bar("Average erase count against the PE cycle limit",
                         fixed(v, 0) + " / " + fixed(limit, 0), v, limit,
                         reason_level(health, "average_erase_count"), {});
            }
        }
        if (page.text().ends_with("<div class=\"gauges\">"))
            page.add("<p>No health figures could be read from the drive.</p>");
    }
    page.add("</div></section>");
}

void flash_section(Page& page, const Json& doc) {
    // Distinct flash IDs by their bytes, each with the banks it was read from.
    std::vector<std::pair<const Json*, std::string>> ids;
    std::map<std::string, std::size_t> index;
    auto note = [&](const Json& id, const std::string& where) {
        const std::string key = id["bytes"].dump();
        const auto it = index.find(key);
        if (it == index.end()) {
            index[key] = ids.size();
            ids.emplace_back(&id, where);
        } else if (!where.empty()) {
            std::string& list = ids[it->second].second;
            list += (list.empty() ? "" : ", ") + where;
        }
    };
    if (const Json* fid = find(doc, "flash_id"))
        note(*fid, "");
    std::uint32_t banks_present = 0;
    if (const Json* banks = find(doc, "banks")) {
        for (const Json& b : *banks) {
            note(b, std::to_string(b["bank"].get<unsigned>()));
            banks_present |= std::uint32_t{1} << (b["bank"].get<unsigned>() & 31);
        }
    }
    const Json* conf = find(doc, "configuration");
    if (ids.empty() && conf == nullptr)
        return;
    page.add("<section><h2>Flash</h2><div class=\"flash\">");
    for (const auto& [id, where] : ids) {
        std::string hex;
        for (const Json& b : (*id)["bytes"]) {
            char byte[8];
            std::snprintf(byte, sizeof byte, "%s%02X", hex.empty() ? "" : " ", b.get<unsigned>());
            hex += byte;
        }
        page.add("<div><h3><code>" + hex + "</code></h3><table class=\"kv\">");
        for (const auto& [key, value] : id->items()) {
            if (key == "bytes" || key == "bank")
                continue;
            page.add("<tr><th>" + label_of(key) + "</th><td>" + text_of(value) + "</td></tr>");
        }
        page.add("<tr><th>banks</th><td>" + (where.empty() ? std::string("-") : where) +
                 "</td></tr></table></div>");
    }
    page.add("</div>");
    double mask_value = 0;
    if (conf != nullptr && number(find(*conf, "flash_ce_mask"), mask_value)) {
        const auto mask = static_cast<std::uint32_t>(mask_value);
        page.add(
            "<h3>Chip enables (CE mask)</h3><svg width=\"420\" height=\"130\" "
            "viewBox=\"0 0 420 130\" role=\"img\" aria-label=\"CE mask\">");
        for (unsigned ce = 0; ce < 32; ++ce) {
            const unsigned x = 4 + (ce % 8) * 52;
            const unsigned y = 4 + (ce / 8) * 30;
            const bool on = (mask >> ce & 1) != 0;
            page.add("<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) +
                     "\" width=\"48\" height=\"26\" rx=\"3\" fill=\"" +
                     (on ? "#2563eb" : "#e5e7eb") + "\" stroke=\"#9ca3af\"/>");
            page.add("<text x=\"" + std::to_string(x + 24) + "\" y=\"" + std::to_string(y + 17) +
                     "\" font-size=\"11\" text-anchor=\"middle\" fill=\"" +
                     (on ? "#fff" : "#6b7280") + "\">CE" + std::to_string(ce) + "</text>");
            if ((banks_present >> ce & 1) != 0) {
                page.add("<circle cx=\"" + std::to_string(x + 42) + "\" cy=\"" +
                         std::to_string(y + 6) + "\" r=\"3\" fill=\"#f59e0b\"/>");
            }
        }
        page.add(
            "</svg><p class=\"src\">Blue: chip enable set in the mask (sysinfo). Orange "
            "dot: a flash ID was read in the bank of that number (fidall).</p>");
    }
    page.add("</section>");
}

void table_section(Page& page, const Json& doc, const char* key, const char* title) {
    const Json* value = find(doc, key);
    if (value == nullptr)
        return;
    page.add(std::string("<section><h2>") + title + "</h2>");
    if (value->is_array()) {
        if (value->empty())
            page.add("<p>None.</p>");
        else
            page.array_table(*value);
    } else {
        page.key_value_table(*value);
    }
    page.add("</section>");
}

void nvme_smart_section(Page& page, const Json& doc, const char* key, const char* title) {
    const Json* smart = find(doc, key);
    if (smart == nullptr)
        return;
    Json flat = Json::object();
    for (const auto& [key, value] : smart->items()) {
        if (key == "critical_warning") {
            std::string texts;
            for (const Json& t : value["texts"])
                texts += (texts.empty() ? " (" : "; ") + t.get<std::string>();
            flat[key] =
                std::to_string(value["value"].get<unsigned>()) + (texts.empty() ? "" : texts + ")");
        } else if (key == "composite_temperature") {
            flat[key] = std::to_string(value["celsius"].get<int>()) + " C";
        } else if (key == "temperature_sensors") {
            for (const Json& sensor : value) {
                flat["temperature_sensor_" + std::to_string(sensor["sensor"].get<unsigned>())] =
                    std::to_string(sensor["celsius"].get<int>()) + " C";
            }
        } else {
            flat[key] = value;
        }
    }
    page.add(std::string("<section><h2>") + title + "</h2>");
    page.key_value_table(flat);
    page.add("</section>");
}

void files_section(Page& page, const Json& doc) {
    const Json& files = doc["files"];
    page.add("<section><h2>Files of this run</h2><table><tr><th>file</th><th>outcome</th></tr>");
    for (const char* outcome : {"not_created", "write_failed", "written"}) {
        for (const Json& name : files[outcome]) {
            const bool ok = std::string(outcome) == "written";
            page.add(std::string(ok ? "<tr>" : "<tr class=\"failed\">") + "<td>" + text_of(name) +
                     "</td><td>" + label_of(outcome) + "</td></tr>");
        }
    }
    page.add("</table></section>");
}

}  // namespace

std::string html_escape(const std::string& text) {
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

std::string html_report(const JsonRunInfo& run, const DriveModel& drive) {
    const Json doc = json_report(run, drive);
    Page page;
    const Json* model = find(doc["identity"], "model");
    page.add(
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">"
        "<title>" +
        (model != nullptr ? text_of(*model) + " - " : std::string()) + "Health " +
        text_of(doc["health"]["verdict"]) + "</title><style>" + kStyle +
        "</style></head><body><main>");
    header(page, doc);
    failures_alert(page, doc);
    key_figures(page, doc);
    flash_section(page, doc);
    table_section(page, doc, "configuration", "Controller configuration");
    table_section(page, doc, "attribute_configuration", "Attribute slots");
    nvme_smart_section(page, doc, "bridge_nvme_smart", "NVMe SMART / Health, through the bridge");
    nvme_smart_section(page, doc, "nvme_smart", "NVMe SMART / Health, controller copy");
    table_section(page, doc, "extended_smart", "Extended SMART");
    table_section(page, doc, "system_status", "System status");
    table_section(page, doc, "flash_status", "Flash status");
    if (doc["failed_commands"].empty())
        page.add(
            "<section><h2>Failed commands</h2><p class=\"ok\">None: every command the "
            "report sent was answered.</p></section>");
    files_section(page, doc);
    page.add("<footer>torvik_usb_pssd_flash_id " + text_of(doc["tool"]["version"]) + " (" +
             text_of(doc["tool"]["platform"]) + ")</footer></main></body></html>\n");
    return std::move(page.text());
}

FileResult write_html_report(FileStore& files, std::FILE* console, const std::string& page) {
    return write_text_file(files, console, kHtmlReportFileName, page);
}

}  // namespace torvik
