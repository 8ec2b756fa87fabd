#include "image_bytes.h"

#include <cstring>

namespace {

bool past_the_end(std::string* error) {
    *error = "the file ends early";
    return false;
}

}  // namespace

bool ImageBytes::read(uint64_t offset, uint64_t count, std::string* out, std::string* error) const {
    if (!holds(offset, count)) return past_the_end(error);
    out->resize(static_cast<size_t>(count));
    return count == 0 || read(offset, &(*out)[0], static_cast<size_t>(count), error);
}

bool MemoryBytes::read(uint64_t offset, void* out, size_t count, std::string* error) const {
    if (!holds(offset, count)) return past_the_end(error);
    if (count > 0) std::memcpy(out, bytes_ + offset, count);
    return true;
}

bool FileBytes::read(uint64_t offset, void* out, size_t count, std::string* error) const {
    if (!holds(offset, count)) return past_the_end(error);
    int64_t got = file_.read_at(offset, out, count, error);
    if (got < 0) return false;
    // The file was shortened after it was opened.
    if (static_cast<uint64_t>(got) != count) return past_the_end(error);
    return true;
}
