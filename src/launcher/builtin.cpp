#include "launcher/builtin.h"

#include "launcher/image_descriptor.h"
#include "platform/platform.h"

namespace {

// A stub that was never filled in carries no text: it reads as empty.
const char16_t* builtin_text(const BuiltinPlace& place) {
    if (place.offset == 0) return u"";
    return reinterpret_cast<const char16_t*>(os_image_base() + place.offset);
}

}  // namespace

const unsigned char* launcher_attached_data() { return os_image_base() + os_image_descriptor()->attached_data.offset; }

uint64_t launcher_attached_size() {
    const ImageDescriptor* descriptor = os_image_descriptor();
    return descriptor->attached_data.offset == 0 ? 0 : descriptor->attached_data.length;
}

const char16_t* launcher_unpack_spec() { return builtin_text(os_image_descriptor()->unpack_spec); }
const char16_t* launcher_company() { return builtin_text(os_image_descriptor()->company); }
const char16_t* launcher_product() { return builtin_text(os_image_descriptor()->product); }
const char16_t* launcher_version() { return builtin_text(os_image_descriptor()->version); }
