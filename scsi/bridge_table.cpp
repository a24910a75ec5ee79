#include "scsi/bridge_table.h"

namespace torvik {

std::optional<BridgeForm> parse_bridge_form(std::string_view name) {
    for (const BridgeForm form : {BridgeForm::e6, BridgeForm::e4, BridgeForm::a1}) {
        if (name == bridge_form_name(form))
            return form;
    }
    return std::nullopt;
}

}  // namespace torvik
