#include "unpack_dir.h"

#include "host.h"
#include "paths/placeholders.h"
#include "utf8.h"

namespace {

void drop_trailing(std::string* path, char separator) {
    while (!path->empty() && path->back() == separator) path->pop_back();
}

bool ends_with_exe(const std::string& text) {
    if (text.size() < 4) return false;
    std::string tail = text.substr(text.size() - 4);
    for (char& c : tail) c = ascii_upper(c);
    return tail == ".EXE";
}

}  // namespace

UnpackDir expand_unpack_spec(const std::string& spec, const SpecValues& values) {
    UnpackDir result;
    std::string& out = result.path;
    if (spec.empty()) {
        result.problem = "the unpack spec is empty, which gives no directory";
        return result;
    }
    bool inside = false;
    std::string name;
    for (char c : spec) {
        if (c == '{') {
            inside = true;
            name.clear();
            continue;
        }
        if (!inside) {
            out.push_back(c);   // a '}' outside a placeholder too
            continue;
        }
        if (c != '}') {
            name.push_back(c);
            continue;
        }
        inside = false;
        const std::string written = "{" + name + "}";
        auto keep = [&]() {
            out += written;
            result.kept = true;
        };
        auto folder = [&](UserFolder which) {
            std::string path;
            if (!values.this_system) return keep();
            if (!user_folder(which, &path)) {
                result.problem = "this user has no folder for " + printable(written) + ", so the launcher would stop";
                return;
            }
            out += path;
            drop_trailing(&out, values.separator);
        };
        switch (find_placeholder(name.data(), name.size())) {
        case Placeholder::temp: folder(UserFolder::temp); break;
        case Placeholder::home: folder(UserFolder::home); break;
        case Placeholder::cache_dir: folder(UserFolder::cache); break;
        case Placeholder::program:
        case Placeholder::program_base:
        case Placeholder::program_dir: {
            if (!values.this_system) {
                keep();
                break;
            }
            std::string program = values.program;
            const Placeholder which = find_placeholder(name.data(), name.size());
            if (which == Placeholder::program_base && ends_with_exe(program)) program.resize(program.size() - 4);
            if (which == Placeholder::program_dir) {
                const size_t cut = program.rfind(values.separator);
                if (cut != std::string::npos) program.resize(cut);
            }
            out += program;
            break;
        }
        case Placeholder::company: out += values.company; break;
        case Placeholder::product: out += values.product; break;
        case Placeholder::version:
        case Placeholder::file_version:
        case Placeholder::product_version: out += values.version; break;
        case Placeholder::pid:
        case Placeholder::random:
        case Placeholder::time_us:
        case Placeholder::time: keep(); break;
        case Placeholder::unknown:
            // A name read from a launcher may hold any character: the message stays one line.
            result.problem = printable(written) + " is not a placeholder, so the launcher would stop";
            break;
        }
        if (!result.problem.empty()) return result;
    }
    // A placeholder still open at the end is dropped, as the launcher drops it.
    if (out.empty()) result.problem = "the unpack spec expands to nothing, which gives no directory";
    return result;
}
