#include "tests/e2e/usbdev/fault_responder.h"

#include <algorithm>

#include "common/hex.h"

namespace torvik::usbdev {

namespace {

bool matches(const FaultRule& rule, const ScsiCommand& command) {
    if (rule.cdb_prefix.empty() || rule.cdb_prefix.size() > command.cdb_length)
        return false;
    return std::equal(rule.cdb_prefix.begin(), rule.cdb_prefix.end(), command.cdb.begin());
}

}  // namespace

bool parse_cdb_prefix(const std::string& text, std::vector<std::uint8_t>& prefix) {
    std::vector<std::uint8_t> bytes;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == ' ' || c == ',' || c == ':') {
            ++i;
            continue;
        }
        if (i + 1 >= text.size())
            return false;
        const int high = hex_digit(c);
        const int low = hex_digit(text[i + 1]);
        if (high < 0 || low < 0 || bytes.size() == 16)
            return false;
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
        i += 2;
    }
    if (bytes.empty())
        return false;
    prefix = std::move(bytes);
    return true;
}

ScsiReply FaultResponder::answer(const ScsiCommand& command, std::uint8_t* data,
                                 std::size_t capacity) {
    for (const FaultRule& rule : rules_) {
        if (!matches(rule, command))
            continue;
        if (rule.kind == ScsiReply::Kind::no_reply) {
            ScsiReply reply;
            reply.kind = ScsiReply::Kind::no_reply;
            return reply;
        }
        return check_condition(kSenseIllegalRequest, kAscInvalidOpcode);
    }
    return inner_.answer(command, data, capacity);
}

}  // namespace torvik::usbdev
