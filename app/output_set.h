// The outputs a run asks for: one bit per row of the outputs table (app/outputs.h), set by the
// command line from the options that ask for them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace torvik {

// The outputs the rest of the run names, each its row's position in the outputs table (checked
// there). An output that only its row writes needs no name here.
enum class OutputId : std::uint8_t {
    report,
    health_log,
    json,
    json_stdout,  // --json=-
    html,
    history,
    metrics,
    health,       // the --health block
    all_summary,  // --all's one line per drive
};

class OutputSet {
  public:
    OutputSet() = default;
    OutputSet(std::initializer_list<OutputId> ids) {
        for (const OutputId id : ids)
            add(id);
    }
    bool has(std::size_t row) const { return (bits_ >> row & 1U) != 0; }
    bool has(OutputId id) const { return has(static_cast<std::size_t>(id)); }
    void add(std::size_t row) { bits_ |= std::uint32_t{1} << row; }
    void add(OutputId id) { add(static_cast<std::size_t>(id)); }

  private:
    std::uint32_t bits_ = 0;
};

}  // namespace torvik
