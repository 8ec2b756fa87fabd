#include "derived_identity.h"

#include "entry_names.h"
#include "host.h"
#include "launcher/identity_defaults.h"
#include "utf8.h"

namespace {

// The longest name a Windows file system keeps for one folder.
const size_t max_folder_units = 255;

}  // namespace

std::string unpack_spec_in(const std::string& folder, char separator) {
    return "{CACHE_DIR}" + std::string(1, separator) + folder + separator + "{VERSION}";
}

std::string product_folder_problem(const std::string& product) {
    if (product.find('/') != std::string::npos) return "it holds a character Windows does not allow in file names";
    std::string problem = component_problem(product);
    if (!problem.empty()) return "it " + problem;
    if (product.find_first_of("{}") != std::string::npos) return "it holds a brace, which the unpack spec reads as a placeholder";
    std::u16string units;
    utf8_to_utf16(product, &units);
    if (units.size() > max_folder_units) {
        return "it is longer than the " + std::to_string(max_folder_units) + " UTF-16 units of a folder name";
    }
    return "";
}

bool derive_identity(const IdentityGiven& given, const std::string& output_path, char separator,
                     Identity* identity, std::string* error) {
    // An empty product is refused with the other identity values.
    const bool follow = given.product && !identity->product.empty();
    if (follow && !given.description) identity->description = identity->product;
    if (follow && !given.internal_name) identity->internal_name = identity->product;
    if (follow && !given.original_filename) identity->original_filename = output_path.substr(output_path.find_last_of(path_separators) + 1);
    if (given.unpack_spec) return true;
    if (follow) {
        std::string problem = product_folder_problem(identity->product);
        if (!problem.empty()) {
            *error = "--product \"" + printable(identity->product) + "\" cannot name the unpack folder: " + problem +
                     " (choose the folder with --unpack-spec)";
            return false;
        }
        identity->unpack_spec = unpack_spec_in(identity->product, separator);
    } else if (separator == '/') {
        identity->unpack_spec = default_linux_unpack_spec;
    }
    return true;
}
