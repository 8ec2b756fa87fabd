#include "launcher/state.h"

#include <cstdlib>
#include <new>

LauncherState launcher;

void reset_launcher_state() {
    for (size_t i = 0; i < launcher.known_dirs_count; ++i) std::free(launcher.known_dirs[i]);
    ZSTD_freeDCtx(launcher.decode_context);
    std::free(launcher.decode_window.dst);
    std::free(launcher.attached_index.frames);
    // A fresh object in the same place: every field zero, as at process start.
    ::new (static_cast<void*>(&launcher)) LauncherState();
}
