#include "resources.h"

#include <cstdlib>
#include <fstream>

// Placeholder until the image resources are built: an object without
// resources, so launchers link and run.
bool write_resource_object(const Identity&, const std::string& work_dir, const std::string& object_path,
                           std::string* error) {
    std::string script = work_dir + "/resources.rc";
    std::ofstream(script) << "\n";
    std::string command = "x86_64-w64-mingw32-windres -i '" + script + "' -o '" + object_path + "'";
    if (std::system(command.c_str()) != 0) {
        *error = "the resource compiler failed";
        return false;
    }
    return true;
}
