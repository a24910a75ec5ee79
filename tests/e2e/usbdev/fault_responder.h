// Faults in front of another responder: commands picked by their first CDB bytes are refused with
// CHECK CONDITION or never answered at all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/e2e/usbdev/responder.h"

namespace torvik::usbdev {

struct FaultRule {
    std::vector<std::uint8_t> cdb_prefix;  // the commands it applies to
    ScsiReply::Kind kind = ScsiReply::Kind::check_condition;
};

class FaultResponder : public Responder {
  public:
    FaultResponder(Responder& inner, std::vector<FaultRule> rules)
        : inner_(inner), rules_(std::move(rules)) {}

    ScsiReply answer(const ScsiCommand& command, std::uint8_t* data, std::size_t capacity) override;

  private:
    Responder& inner_;
    std::vector<FaultRule> rules_;
};

// Reads CDB bytes written as hex digit pairs, optionally separated by spaces, commas or colons
// ("0600fd13", "06 00 FD 13"): 1 to 16 bytes. False for anything else.
bool parse_cdb_prefix(const std::string& text, std::vector<std::uint8_t>& prefix);

}  // namespace torvik::usbdev
