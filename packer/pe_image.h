// Writing a Windows x64 launcher from its stub: two sections are added after
// the stub's own, the resources and then the attached data with the built-in
// texts, and the headers are made to describe them.
#pragma once

#include <string>
#include <vector>

#include "image_plan.h"
#include "pe_resources.h"

// The section that holds the attached data and the built-in texts.
inline constexpr char attached_section[] = ".attach";

// Lays out the launcher for `data` and `resources` over `stub`. False with a
// reason when the stub is not a stub this packer can write from, or when the
// image would outgrow the format's 32-bit sizes. A null `plan` only checks.
bool plan_pe_image(const std::string& stub, const BuiltinData& data, const std::vector<Resource>& resources,
                   uint32_t code_page, ImagePlan* plan, PlanFault* fault, std::string* reason);
