// The simulated drive: a model of the examined drive that answers every command the tool sends,
// behind the platform interface, so the layers above cannot tell it from a real one.
//
// This header is the contract the rest of the project builds against; sim_drive.cpp implements it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "transport/commands.h"

namespace torvik {

enum class FaultKind {
    none,
    platform_error,   // the platform call fails with error_code
    check_condition,  // the drive ends the command with CHECK CONDITION and sends no data
    short_data,       // the drive sends only short_length bytes
};

struct Fault {
    FaultKind kind = FaultKind::none;
    std::uint32_t error_code = 0;
    std::uint32_t short_length = 0;
};

// One request as it arrived: what the transport put on the wire.
struct SimRequest {
    std::array<std::uint8_t, 16> cdb{};
    std::uint8_t cdb_length = 0;
    bool data_in = true;
    std::uint32_t transfer_length = 0;
    std::uint32_t in_size = 0;  // the two buffer sizes handed to the I/O control
    std::uint32_t out_size = 0;
};

struct SimAnswer {
    enum class Status { good, check_condition, platform_error };
    Status status = Status::good;
    std::uint32_t error_code = 0;          // for platform_error
    std::uint32_t data_length = 0;         // bytes placed at the start of the data area
    std::array<std::uint8_t, 18> sense{};  // fixed-format sense for check_condition
};

}  // namespace torvik
