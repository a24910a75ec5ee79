// A drive's history line: one run as one line of JSON (docs/history.md), appended to the file
// --history names, and read back for the drive's wear trend.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "model/key_figures.h"
#include "model/wear_trend.h"

namespace torvik {

// The line of one run, ending in '\n', written by the JSON library. Figures the run did not read
// are left out; the drive's texts are escaped, bytes that are not UTF-8 becoming U+FFFD.
std::string history_line(std::int64_t run_time, const char* tool_version, const KeyFigures& k);

// What the trend needs of a line read back: the figures, and who the drive was. The texts are
// views of the line, or of texts where the careful reader undid their escapes: a record holds
// while its line lasts, and one record serves line after line, never copied.
struct HistoryRecord {
    HistoryRecord() = default;
    HistoryRecord(const HistoryRecord&) = delete;
    HistoryRecord& operator=(const HistoryRecord&) = delete;

    std::string_view serial;  // as UTF-8, the escapes undone
    std::string_view serial_hex;
    std::string_view model;
    bool from_nvme = false;  // "identity":"nvme"
    // The bridge's identity; empty in lines of earlier versions, whose bridge identity is the
    // serial and model when they came from the bridge.
    std::string_view bridge_serial;
    std::string_view bridge_serial_hex;
    std::string_view bridge_model;
    WearPoint point;
    // The careful reader's texts (the serials, models and identity), which the views show.
    std::array<std::string, 7> texts;
};

// Whether a record is of the run's drive: by the NVMe serial and model when the run read them,
// else by the bridge's serial and product. Serials are compared as bytes: by their hexadecimal
// form when they hold bytes that are not printable ASCII.
// The run's identity in the forms records hold it, worked out once for a whole file.
struct RunIdentity {
    explicit RunIdentity(const DriveKey& run);
    DriveKey key;
    std::string serial_hex;  // serial_hex(key.serial)
    std::string model;       // utf8_text(key.model)
    std::string bridge_serial_hex;
    std::string bridge_model;
};
bool same_drive(const HistoryRecord& record, const RunIdentity& run);

// False for a damaged line: not one JSON object, no time or serial, a figure that is no
// unsigned number. Keys it does not know are skipped, so later lines may carry more; a key given
// twice counts by its last value.
bool parse_history_line(std::string_view line, HistoryRecord& record);

// The same reading by the JSON library alone, for a line of any shape.
bool parse_history_line_carefully(std::string_view line, HistoryRecord& record);

// The faster reading parse_history_line tries first, alone: a line of the plain shape the tool
// writes (one object, no whitespace, keys and texts of printable ASCII without escapes, numbers as
// integers) in one pass. False for every other line, which parse_history_line leaves to the
// careful reader; the record then holds nothing of use. The two give the same result for every
// line this one takes.
bool parse_history_line_in_one_pass(std::string_view line, HistoryRecord& record);

// text with every byte sequence that is not UTF-8 replaced by U+FFFD: how a drive's text is
// stored in the line, and so how it is compared with a line read back.
std::string utf8_text(std::string_view text);

}  // namespace torvik
