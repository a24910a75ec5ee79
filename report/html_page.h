// The HTML page kit: the frame of the one self-contained page (its head, style sheet and footer),
// text escaping, and the pieces its sections are built of (tables of names and values, tables of
// rows, bars and figures, the box that scrolls sideways). The HTML report and the wear chart draw
// with it; it knows nothing of drives.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace torvik {

// Text for an HTML text node or attribute value: markup characters become references, and any
// byte that is not printable ASCII becomes U+FFFD, so drive texts can neither inject markup nor
// make the page invalid.
std::string html_escape(const std::string& text);

// A box for what may be wider than the window (a table of several columns, the wear chart): it
// scrolls sideways inside the box, which takes the keyboard focus so that it can be scrolled
// without a mouse.
inline constexpr const char* kWideBox = "<div class=\"wide\" tabindex=\"0\">";
inline constexpr const char* kWideBoxEnd = "</div>";

// The level of a health reason as a CSS class: "ok", "warning", "failed", "unknown" or "note".
std::string level_class(const std::string& level);

// A field name as a label in sentence case, escaped: "fw_internal_power_cycle_count" -> "FW
// internal power cycle count", "disk_init_fail" -> "Disk init fail". (The text report and the
// health log keep the controller's own lower-case names.)
std::string label_of(const std::string& name);

// value with that many decimals ("%.*f").
std::string fixed_text(double value, int decimals);

// One cell of a table: the name of its column or row, the value as shown (markup), and whether
// the value is a number (right-aligned).
struct HtmlCell {
    std::string name;
    std::string text;
    bool number = true;
};
using HtmlRow = std::vector<HtmlCell>;

class HtmlPage {
  public:
    // The document's head, with the title (plain text) and the style sheet, and the start of its
    // body.
    explicit HtmlPage(const std::string& title);

    void add(const std::string& text) { html_ += text; }

    // A two-column table of names and values.
    void key_value_table(const HtmlRow& rows);

    // A table of rows: one column per name, in order of first appearance.
    void array_table(const std::vector<HtmlRow>& rows);

    // A horizontal bar: value on a scale from 0 to full, with optional marks (thresholds).
    void bar(const std::string& title, const std::string& shown, double value, double full,
             const std::string& level, const std::vector<std::pair<double, std::string>>& marks,
             const std::string& note = "");

    void figure(const std::string& title, const std::string& shown, const std::string& level);

    // The whole page: a footer (plain text) after the last section, and the document's end.
    std::string finish(const std::string& footer);

  private:
    std::string html_;
};

}  // namespace torvik
