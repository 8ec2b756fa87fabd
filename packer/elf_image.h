// Writing a Linux x86-64 launcher from its stub without a linker: the
// attached data and the built-in texts are appended on a page boundary and
// mapped by a read-only loadable segment at a fresh address after the
// stub's own. The segment's program header is the stub's note header that
// the loader does not need, turned into a load header, so the table keeps
// its size and place.
#pragma once

#include <string>

#include "image_plan.h"

// Lays out the launcher for `data` over `stub`. False with a reason when the
// stub is not a stub this packer can write from. A null `plan` only checks.
bool plan_elf_image(const std::string& stub, const BuiltinData& data, ImagePlan* plan, PlanFault* fault,
                    std::string* reason);
