#include "write_launcher.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <utility>
#include <vector>

#include "elf_image.h"
#include "fd_io.h"
#include "host.h"
#include "image_plan.h"
#include "pe_image.h"
#include "resources.h"
#include "utf8.h"

namespace {

const size_t copy_buffer_size = 1 << 20;

bool write_failed(const OutputFile& output, std::string* error) {
    *error = "cannot write '" + printable(output.destination()) + "': " + error_text(errno);
    return false;
}

// Writes the plan, copying the block from `block`, and fills in the
// checksum over everything written.
bool write_plan(const ImagePlan& plan, int block, const std::string& block_path, OutputFile* output,
                std::string* error) {
    ImageChecksum checksum;
    checksum.add(plan.head.data(), plan.head.size());
    if (!write_fully(output->fd(), plan.head.data(), plan.head.size())) return write_failed(*output, error);
    // No larger than the block, and not cleared: a small launcher's block
    // is a few pages, and every fresh page is a fault.
    const size_t buffer_size = static_cast<size_t>(std::min<uint64_t>(plan.block_size, copy_buffer_size));
    const std::unique_ptr<char[]> buffer(new char[buffer_size == 0 ? 1 : buffer_size]);
    for (uint64_t left = plan.block_size; left > 0;) {
        const size_t want = left < buffer_size ? static_cast<size_t>(left) : buffer_size;
        const ssize_t got = read_fully(block, buffer.get(), want);
        if (got != static_cast<ssize_t>(want)) {
            *error = "cannot read block '" + printable(block_path) + "': " +
                     (got < 0 ? error_text(errno) : "it became shorter while it was read");
            return false;
        }
        checksum.add(buffer.get(), want);
        if (!write_fully(output->fd(), buffer.get(), want)) return write_failed(*output, error);
        left -= want;
    }
    checksum.add(plan.tail.data(), plan.tail.size());
    if (!write_fully(output->fd(), plan.tail.data(), plan.tail.size())) return write_failed(*output, error);
    if (plan.checksum_at != 0) {
        std::string field(4, '\0');
        const uint32_t sum = checksum.finish(plan.head.size() + plan.block_size + plan.tail.size());
        for (int i = 0; i < 4; ++i) field[i] = static_cast<char>(sum >> (8 * i) & 0xFF);
        if (!write_fully_at(output->fd(), field.data(), 4, plan.checksum_at)) return write_failed(*output, error);
    }
    return true;
}

// Lays out the launcher for a block of `block_size` bytes; a null `plan`
// only checks that it can be.
bool plan(const LauncherParts& parts, uint64_t block_size, ImagePlan* plan, std::string* error) {
    const BuiltinData data = lay_out_builtin_data(block_size, parts.identity);
    PlanFault fault;
    std::string reason;
    const bool planned = parts.target->has_resources
                             ? plan_pe_image(parts.stub.bytes, data, parts.resources, resource_code_page, plan, &fault,
                                             &reason)
                             : plan_elf_image(parts.stub.bytes, data, plan, &fault, &reason);
    if (!planned) {
        *error = fault == PlanFault::too_big ? reason
                                             : "the " + parts.target->name + " launcher stub '" +
                                                   printable(parts.stub.path) + "' is unusable: " + reason;
    }
    return planned;
}

}  // namespace

bool prepare_launcher_from(const LauncherTarget& target, const Identity& identity, Stub stub, LauncherParts* parts,
                           std::string* error) {
    parts->target = &target;
    parts->identity = identity;
    parts->stub = std::move(stub);
    if (target.has_resources && !launcher_resources(identity, &parts->resources, error)) return false;
    return plan(*parts, 0, nullptr, error);
}

bool prepare_launcher(const LauncherTarget& target, const Identity& identity, LauncherParts* parts,
                      std::string* error) {
    Stub stub;
    return read_stub(target, &stub, error) && prepare_launcher_from(target, identity, std::move(stub), parts, error);
}

bool write_launcher(const LauncherParts& parts, const std::string& block_path, OutputFile* output,
                    std::string* error) {
    const int block = open_for_reading(block_path);
    uint64_t size = 0;
    if (block < 0 || !file_size(block, &size)) {
        *error = "cannot read block '" + printable(block_path) + "': " + error_text(errno);
        if (block >= 0) close_file(block);
        return false;
    }
    ImagePlan image;
    const bool written = plan(parts, size, &image, error) && write_plan(image, block, block_path, output, error);
    close_file(block);
    return written;
}
