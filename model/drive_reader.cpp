#include "model/drive_reader.h"

#include <algorithm>
#include <vector>

#include "transport/operations.h"

namespace torvik {

namespace {

constexpr std::uint32_t kLargestReply = [] {
    std::uint32_t largest = 0;
    for (const CommandInfo& c : kCommands)
        largest = std::max(largest, c.length);
    return largest;
}();

struct Reader {
    DriveLink& link;
    DriveModel& model;
    const ReadHooks& hooks;
    std::vector<std::uint8_t> area = std::vector<std::uint8_t>(kLargestReply);

    // One query: clear the area, send it, record it, count it failed when the step's test says
    // so, and let the caller dump the area either way. Each area is cleared before its read, so a
    // failed read shows and dumps zeros rather than whatever memory held.
    template <typename Send, typename Succeeded>
    void query(CommandId id, Send send, Succeeded succeeded) {
        std::fill(area.begin(), area.end(), 0);
        const CommandResult result = send(area.data());
        model.sent(id, area.data(), result);
        if (!succeeded(result))
            model.failed(id, result.error);
        hooks.command_done(id, true);
    }

    void query(CommandId id) {
        const CommandInfo& c = command_info(id);
        query(
            id,
            [&](std::uint8_t* to) {
                if (c.form == CommandForm::vendor12)
                    return vendor_command12(link, to, static_cast<std::uint16_t>(c.code), c.length);
                return vendor_command16(link, to, c.code, c.length);
            },
            [](const CommandResult& result) { return result.ok(); });
    }

    // A bridge read has no failure line of the run's own (the transport prints one); a failed
    // request is kept for the record all the same. dump: the read counts.
    void bridge_read(CommandId id, const CommandResult& result, bool dump) {
        model.sent(id, area.data(), result);
        if (!result.ok())
            model.failed(id, result.error);
        hooks.command_done(id, dump);
    }
};

void identity_steps(Reader& r) {
    r.query(
        CommandId::inquiry,
        [&](std::uint8_t* to) {
            return scsi_inquiry(r.link, to, command_info(CommandId::inquiry).length);
        },
        [](const CommandResult& result) { return result.ok(); });

    // A block address of zero counts as a failure of READ CAPACITY (10), whatever the call said.
    std::uint64_t last_lba32 = 0;
    r.query(
        CommandId::read_capacity10,
        [&](std::uint8_t* to) {
            const CommandResult result = scsi_read_capacity10(r.link, to);
            if (result.ok())
                last_lba32 = read_field(to, kCapacity10Fields[0]);
            return result;
        },
        [&](const CommandResult&) { return last_lba32 != 0; });
    std::uint64_t last_lba = last_lba32;
    bool known = last_lba32 != 0;
    if (last_lba32 == kLastLba32) {
        known = false;
        r.query(
            CommandId::read_capacity16,
            [&](std::uint8_t* to) {
                const CommandResult result = scsi_read_capacity16(r.link, to);
                if (result.ok()) {
                    last_lba = read_field(to, kCapacity16Fields[0]);
                    known = true;
                }
                return result;
            },
            [](const CommandResult& result) { return result.ok(); });
    }
    r.model.size_last_lba = last_lba;
    if (known)
        r.model.last_lba = last_lba;
    r.hooks.stage_done(ReadStage::identity);
}

void controller_steps(Reader& r) {
    r.query(CommandId::read_fid);
    r.query(CommandId::read_info);
    r.model.controller_supported = controller_supported(r.model.controller_id);
    r.hooks.stage_done(ReadStage::controller);
}

// The controller pages are the 16-byte vendor reads of the command table, in its order.
void controller_page_steps(Reader& r) {
    for (const CommandInfo& c : kCommands) {
        if (c.form != CommandForm::vendor16)
            continue;
        r.query(c.id);
        if (c.id == CommandId::fidall)
            r.hooks.stage_done(ReadStage::banks);
    }
    r.hooks.stage_done(ReadStage::controller_pages);
}

// The two NVMe pages through the bridge; dumped only when the read counts.
void bridge_steps(Reader& r, BridgeForm form) {
    std::fill(r.area.begin(), r.area.end(), 0);
    const IdentifyResult identify = nvme_identify(r.link, r.area.data(), form);
    r.bridge_read(CommandId::nvme_identify, identify.request, identify.identified);
    std::fill(r.area.begin(), r.area.end(), 0);
    const CommandResult smart = nvme_smart_log(r.link, r.area.data(), form);
    r.bridge_read(CommandId::nvme_smart_log, smart, smart.ok());
}

}  // namespace

NvmeReadPlan nvme_read_plan(const BridgeChoice& bridge, bool pages_asked) {
    NvmeReadPlan plan;
    plan.pages_asked = pages_asked;
    plan.past_gate = bridge.form.has_value();
    plan.beyond_gate = plan.past_gate && bridge.kind == BridgeKind::nvme && pages_asked;
    return plan;
}

std::string bridge_note(const BridgeChoice& bridge, bool sent) {
    if (bridge.kind == BridgeKind::nvme && bridge.form)
        return {};
    if (bridge.kind == BridgeKind::sata && bridge.id)
        return "USB bridge " + usb_id_text(*bridge.id) +
               " is a SATA bridge: it has no NVMe health "
               "to read";
    if (!bridge.id) {
        return sent ? "NVMe health not read: the USB bridge's ID could not be read and the bridge "
                      "did not answer the 0xE6 tunnel"
                    : "NVMe health not read: the USB bridge's ID could not be read";
    }
    return "NVMe health not read: USB bridge " + usb_id_text(*bridge.id) +
           " is not in the bridge table" + (sent ? " and did not answer the 0xE6 tunnel" : "") +
           " (see --bridge)";
}

void read_drive(DriveLink& link, DriveModel& model, const ReadHooks& hooks,
                const NvmeReadPlan& plan) {
    Reader r{link, model, hooks};
    identity_steps(r);
    controller_steps(r);
    if (model.controller_supported)
        controller_page_steps(r);
    const bool wanted = model.controller_supported || plan.pages_asked;
    const bool send = model.controller_supported ? plan.past_gate : plan.beyond_gate;
    // A replayed run that names no form (recorded before the bridge line named 0xE6) sent them
    // as 0xE6, the only form it could.
    if (send)
        bridge_steps(r, model.bridge.form.value_or(BridgeForm::e6));
    if (wanted && !(model.has(CommandId::nvme_smart_log) && model.smart_bridge.any))
        model.bridge_note = bridge_note(model.bridge, send);
    model.flash = flash_figures(model);
    model.health = assess_health(health_pages(model));
}

}  // namespace torvik
