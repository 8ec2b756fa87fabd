#include "entry_names.h"

#include <cstring>

#include "host.h"
#include "payload/block_format.h"
#include "text_display.h"
#include "utf8.h"

namespace {

std::string ascii_upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// CON, NUL, COM1, ... name devices in every directory, with any extension.
bool is_device_name(const std::string& component) {
    std::string stem = ascii_upper(component.substr(0, component.find('.')));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : devices) {
        if (stem == device) return true;
    }
    return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
           stem[3] >= '1' && stem[3] <= '9';
}

}  // namespace

std::string component_problem(const std::string& component) {
    if (!is_valid_utf8(component)) return "is not valid UTF-8";
    for (unsigned char c : component) {
        if (c < 0x20 || std::strchr("<>:\"\\|?*", c) != nullptr) {
            return "holds a character Windows does not allow in file names";
        }
    }
    char last = component.back();
    if (last == '.' || last == ' ') return "ends in a dot or a space, which Windows drops";
    if (is_device_name(component)) return "is a device name on Windows";
    return "";
}

std::string entry_name_problem(const std::u16string& name) {
    if (name.empty()) return "is empty";
    if (name.size() > max_entry_name_units) return "is longer than " + std::to_string(max_entry_name_units) + " units";
    if (name.find(u'/') != std::u16string::npos) return "holds a forward slash, which would be taken as a separator";
    if (name[0] == u'\\') return "is absolute";
    if (name.size() >= 2 && name[1] == u':') return "names a drive";
    for (size_t start = 0; start <= name.size();) {
        size_t end = name.find(u'\\', start);
        if (end == std::u16string::npos) end = name.size();
        const std::u16string component = name.substr(start, end - start);
        if (component.empty()) return "has an empty component";
        if (component == u"." || component == u"..") return "has a '" + std::string(component.size(), '.') + "' component";
        std::string text;
        if (!utf16_to_utf8(component, &text)) return "holds an unpaired surrogate";
        std::string problem = component_problem(text);
        if (!problem.empty()) return "has a component that " + problem;
        start = end + 1;
    }
    return "";
}

std::u16string case_key(const std::string& component) {
    // Windows folds case unit by unit over UTF-16 with a table of simple
    // upper-case mappings.
    std::u16string key;
    utf8_to_utf16(component, &key);
    return upper_case_units(key);
}
