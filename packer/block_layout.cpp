#include "block_layout.h"

const char* layout_name(BlockLayout layout) {
    for (const LayoutName& entry : layout_names) {
        if (entry.layout == layout) return entry.name;
    }
    return "";
}

bool find_layout(const std::string& name, BlockLayout* layout) {
    for (const LayoutName& entry : layout_names) {
        if (name == entry.name) {
            *layout = entry.layout;
            return true;
        }
    }
    return false;
}

std::string layout_choices() {
    std::string choices;
    for (const LayoutName& entry : layout_names) choices += (choices.empty() ? "" : " or ") + std::string(entry.name);
    return choices;
}
