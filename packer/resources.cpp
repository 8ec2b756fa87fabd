#include "resources.h"

#include "fd_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "host.h"
#include "resource_coff.h"
#include "resource_icons.h"
#include "resource_script.h"
#include "run_tool.h"

namespace {

const char resource_compiler[] = "x86_64-w64-mingw32-windres";
const char script_file[] = "resource-script.rc";
const char compiled_file[] = "resource-object.o";
// Code page recorded in every resource entry of the image.
const uint32_t resource_code_page = 1252;

// The packer's data files lie beside it: <packer dir>/../share/zembra/res.
std::string data_dir() { return program_dir() + "/../share/zembra/res"; }

bool write_file(const std::string& path, const std::string& bytes, std::string* error) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) {
        std::remove(path.c_str());
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

// Runs the resource compiler inside `dir`, so the script names its input
// files plainly and no path ever passes through the preprocessor's shell.
bool compile_script(const std::string& dir, std::string* error) {
    return run_step({resource_compiler, "--codepage=1252", "--input-format=rc", "--output-format=coff",
                     "--target=pe-x86-64", "-i", script_file, "-o", compiled_file},
                    dir, "compiling the resources", error);
}

}  // namespace

bool write_resource_object(const Identity& identity, const std::string& work_dir, const std::string& object_path,
                           std::string* error) {
    const std::string data = data_dir();
    std::vector<IconImage> icons;
    std::vector<std::string> icon_inputs = identity.icons;
    if (icon_inputs.empty()) icon_inputs.push_back(data + "/icons");
    if (!load_icons(icon_inputs, &icons, error)) return false;

    std::string script, manifest;
    if (!resource_script(identity, icons.size(), &script, error)) return false;
    if (!read_whole_file(data + "/launcher.manifest", data + "/launcher.manifest", &manifest, error)) return false;

    const std::string dir = work_dir + "/";
    if (!write_file(dir + manifest_file, manifest, error)) return false;
    for (size_t i = 0; i < icons.size(); ++i)
        if (!write_file(dir + icon_file(i + 1), icons[i].data, error)) return false;
    if (!write_file(dir + icon_group_file, icon_group(icons), error)) return false;
    if (!write_file(dir + script_file, script, error)) return false;
    if (!compile_script(work_dir, error)) return false;

    std::string object, reason;
    if (!read_whole_file(dir + compiled_file, dir + compiled_file, &object, error)) return false;
    if (!set_resource_code_page(&object, resource_code_page, &reason)) {
        *error = std::string(resource_compiler) + " wrote an unexpected object: " + reason;
        return false;
    }
    return write_file(object_path, object, error);
}
