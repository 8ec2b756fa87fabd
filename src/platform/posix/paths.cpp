#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/posix/convert.h"
#include "text/utf16.h"

namespace {

// The limit the known folders keep to on every system.
constexpr size_t known_folder_limit = 259;

// A set, non-empty variable's value, or null.
const char* variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != 0 ? value : nullptr;
}

std::string home_dir() {
    if (const char* home = variable("HOME")) return home;
    const passwd* entry = getpwuid(getuid());
    return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
}

// "." and empty components go, ".." takes the previous one away (never
// above the root); the result has no trailing '/' unless it is the root.
std::string normalise(const std::string& absolute) {
    std::string result;
    size_t start = 0;
    while (start <= absolute.size()) {
        size_t end = absolute.find('/', start);
        if (end == std::string::npos) end = absolute.size();
        std::string part = absolute.substr(start, end - start);
        if (part == "..") {
            size_t cut = result.rfind('/');
            result.erase(cut == std::string::npos ? 0 : cut);
        } else if (!part.empty() && part != ".") {
            result += '/';
            result += part;
        }
        start = end + 1;
    }
    return result.empty() ? "/" : result;
}

}  // namespace

size_t os_module_path(char16_t* out, size_t capacity) {
    if (capacity == 0) return 0;
    char native[native_path_capacity];
    ssize_t n = readlink("/proc/self/exe", native, sizeof native - 1);
    if (n <= 0) {
        out[0] = 0;
        return 0;
    }
    native[n] = 0;
    native_to_utf16(native, out, capacity);   // cut to fit, as the contract allows
    return text_length(out);
}

void os_temp_dir(char16_t* out, size_t capacity) {
    if (capacity == 0) return;
    std::string dir = variable("TMPDIR") ? variable("TMPDIR") : "/tmp";
    if (dir.back() != '/') dir += '/';
    if (!native_to_utf16(dir.c_str(), out, capacity)) out[0] = 0;
}

bool os_known_folder(KnownFolder which, char16_t* out, size_t capacity) {
    std::string folder;
    const char* cache = variable("XDG_CACHE_HOME");
    if (which == KnownFolder::local_app_data && cache != nullptr && cache[0] == '/') {
        folder = cache;
    } else {
        folder = home_dir();
        if (folder.empty()) return false;
        if (which == KnownFolder::local_app_data) folder += "/.cache";
    }
    if (!native_to_utf16(folder.c_str(), out, capacity) || text_length(out) > known_folder_limit) {
        out[0] = 0;
        return false;
    }
    return true;
}

size_t os_full_path(const char16_t* path, char16_t* out, size_t capacity) {
    if (path[0] == 0) return 0;   // as on Windows: an empty name has no full path
    char native[native_path_capacity];
    if (!utf16_to_native(path, native, sizeof native)) return 0;
    std::string absolute;
    if (native[0] != '/') {
        char* cwd = getcwd(nullptr, 0);
        if (cwd == nullptr) return 0;
        absolute = cwd;
        std::free(cwd);
        absolute += '/';
    }
    absolute += native;
    std::string normal = normalise(absolute);

    size_t units = normal.size() + 1;
    auto* wide = static_cast<char16_t*>(std::malloc(units * sizeof(char16_t)));
    if (wide == nullptr) return 0;
    native_to_utf16(normal.c_str(), wide, units);
    size_t length = text_length(wide);
    if (length + 1 > capacity) {
        std::free(wide);
        return length + 1;
    }
    std::memcpy(out, wide, (length + 1) * sizeof(char16_t));
    std::free(wide);
    return length;
}
