#include "resources.h"

#include "fd_io.h"
#include "resource_icons.h"
#include "stub.h"
#include "utf8.h"
#include "version_block.h"

namespace {

enum : uint16_t { rt_icon = 3, rt_group_icon = 14, rt_version = 16, rt_manifest = 24 };

}  // namespace

bool launcher_resources(const Identity& identity, std::vector<Resource>* resources, std::string* error) {
    const std::string data = install_root() + "/share/zembra/res";
    std::vector<IconImage> icons;
    const bool loaded = identity.icons.empty() ? load_default_icons(data + "/icons", &icons, error)
                                               : load_icons(identity.icons, &icons, error);
    if (!loaded) return false;

    std::string version, manifest;
    if (!version_block(identity, &version, error)) return false;
    const std::string manifest_path = data + "/launcher.manifest";
    if (!read_whole_file(manifest_path, printable(manifest_path), &manifest, error)) return false;
    resources->clear();
    resources->push_back({rt_manifest, 1, manifest});
    for (size_t i = 0; i < icons.size(); ++i) resources->push_back({rt_icon, static_cast<uint16_t>(i + 1), icons[i].data});
    resources->push_back({rt_group_icon, 1, icon_group(icons)});
    resources->push_back({rt_version, 1, version});
    return true;
}
