// The launcher's own image: the linker's symbol for where it is mapped, and the descriptor, empty in the
// stub, that the packer fills in.
#include "launcher/image_descriptor.h"
#include "platform/platform.h"

extern "C" const unsigned char __ImageBase[];

__attribute__((section(".zembra"), used)) const ImageDescriptor image_descriptor = empty_image_descriptor;

const unsigned char* os_image_base() { return __ImageBase; }
const ImageDescriptor* os_image_descriptor() {
    // The packer fills the descriptor in after the link: the compiler must
    // not read the empty one's values into the code.
    const ImageDescriptor* descriptor = &image_descriptor;
    asm("" : "+r"(descriptor));
    return descriptor;
}
