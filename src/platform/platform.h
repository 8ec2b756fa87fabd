// The few operating-system services the launcher needs, named in its own
// words. The logic in src/launcher, src/payload, src/child and src/paths calls
// only these (plus zstd, zlib and the C library); win32/ and posix/ implement
// them, and tests/fake/ fakes them for the unit tests.
//
// Text crosses this boundary as NUL-terminated UTF-16 (char16_t). On Windows
// it goes to the W functions unchanged; on POSIX it is converted to UTF-8 at
// the boundary.
#pragma once

#include <cstddef>
#include <cstdint>

// Each system's own terms: `path_separator`, which paths inside the logic
// use; the error numbers of the conditions the logic reports itself; and
// `ChildCommand`, the form in which a program receives its arguments. The
// build chooses the header (win32/ or posix/system_terms.h) by include path.
#include "system_terms.h"

// ---- start-up -------------------------------------------------------------

// The C runtime's wide argument vector as built at process start.
// `count` receives the number of elements.
char16_t** os_runtime_args(int* count);

// Take the current directory out of the DLL search order (no-op on POSIX).
void os_restrict_dll_search();

// The address at which the image's first byte is mapped, and the descriptor
// of what the packer built into it (launcher/image_descriptor.h).
struct ImageDescriptor;
const unsigned char* os_image_base();
const ImageDescriptor* os_image_descriptor();

// ---- environment ----------------------------------------------------------

// Reads a variable into `value` (capacity in units, NUL included). Returns
// the length without NUL when it fits; the capacity needed (NUL included,
// so always >= capacity) when it does not; 0 when unset or empty.
size_t os_get_env(const char16_t* name, char16_t* value, size_t capacity);

// Sets a variable, or removes it when `value` is null. True on success.
bool os_set_env(const char16_t* name, const char16_t* value);

// ---- identity and time ----------------------------------------------------

uint32_t os_process_id();

// Current UTC time in 100-nanosecond intervals since 1601-01-01.
uint64_t os_system_time();

// A high-resolution counter value.
uint64_t os_performance_counter();

// ---- paths ----------------------------------------------------------------

// The launcher's own executable path written to `out`, cut to fit
// `capacity` units (NUL included). Returns the length written without NUL,
// 0 on failure. Asks the system on every call.
size_t os_module_path(char16_t* out, size_t capacity);

// The user's temporary directory, with a trailing separator, written to
// `out` (capacity NUL included). Writes nothing when it cannot be had or
// does not fit; the caller ignores the result.
void os_temp_dir(char16_t* out, size_t capacity);

enum class KnownFolder { profile, local_app_data };

// A known folder of the user, at most 259 units, into `out` (capacity
// >= 260). False when the system cannot name it.
bool os_known_folder(KnownFolder which, char16_t* out, size_t capacity);

// Makes `path` absolute and normal. Returns the length without NUL when it
// fits in `capacity`; the capacity needed when it does not; 0 on failure.
size_t os_full_path(const char16_t* path, char16_t* out, size_t capacity);

// ---- files and directories ------------------------------------------------

enum class DirResult { created, already_exists, failed };
DirResult os_create_dir(const char16_t* path);

using FileHandle = void*;

// Creates or truncates `path` for writing, shared for writing only.
// Null on failure (the reason is in os_last_error()).
FileHandle os_open_for_write(const char16_t* path);

// One write of `size` bytes. False on failure; `written` receives the count
// the system reports.
bool os_write_file(FileHandle file, const void* data, uint32_t size, uint32_t* written);

void os_close_file(FileHandle file);

// ---- memory ---------------------------------------------------------------

// Says that the launcher will not read [data, data + size) again (decoded
// attached data): the whole pages inside
// it may leave the process's resident memory. They stay mapped and read back
// unchanged if touched, so this is only ever a hint. For read-only memory
// that the system can read back from a file; never fails.
void os_release_pages(const void* data, uint64_t size);

// Memory for a decoder, its window above all: written once through from
// start to end, so where the system can back a large block with large pages
// it does (a page fault for each 2 MiB rather than each 4 KiB). Null when the
// memory cannot be had; os_free_window takes null too.
void* os_allocate_window(size_t size);
void os_free_window(void* memory);

// The last system error code of this thread.
uint32_t os_last_error();

// The system's English (United States) text for an error code, NUL-terminated
// in `out`, trailing line breaks included as the system gives them. Empty
// when the system has no text.
void os_error_text(uint32_t code, char* out, size_t capacity);

// ---- the child process ----------------------------------------------------

// The launcher's command line split by the system's rules (on POSIX: the
// argument vector it was started with). The array lives until the process
// ends. Null when the split fails.
char16_t** os_split_command_line(int* count);

using ChildHandle = void*;

// Starts `application` with `command` (its arguments, in this system's
// form), the launcher's standard handles, environment and current directory,
// inheriting handles. Closes the child's thread handle. Null on failure (the
// reason in os_last_error()).
ChildHandle os_start_child(const char16_t* application, const ChildCommand& command);

inline constexpr uint32_t wait_forever = 0xFFFFFFFFu;

// True when the child has ended within `timeout_ms`.
bool os_wait_child(ChildHandle child, uint32_t timeout_ms);

// False when the exit code cannot be read.
bool os_child_exit_code(ChildHandle child, uint32_t* code);

void os_terminate_child(ChildHandle child, uint32_t exit_code);
void os_close_child(ChildHandle child);

// Console control events as the handler sees them.
enum : uint32_t {
    ctrl_c_event = 0,
    ctrl_break_event = 1,
    ctrl_close_event = 2,
    ctrl_logoff_event = 5,
    ctrl_shutdown_event = 6,
};

// Registers `handler` for console control events; it runs on a thread of the
// system's. A handler returning false passes the event on to the system's
// default handling, which ends the launcher. On POSIX, SIGINT, SIGHUP and
// SIGTERM arrive as events 0, 2 and 6. True on success.
bool os_add_ctrl_handler(bool (*handler)(uint32_t event));

// Blocks the calling thread for good: the process ends around it. The
// console control handler uses it to keep its event from reaching the
// system's default handling while the main sequence ends the launcher.
void os_hold_thread();

// ---- the unpack lock ------------------------------------------------------

using DirLock = void*;

enum class LockResult { acquired, timed_out, failed };

// Waits up to `timeout_ms` for this process to hold the lock that every
// launcher of this user takes before it writes into the directory `dir`,
// which exists. `key` names the lock on systems whose locks live in a
// namespace of names rather than on the directory itself (Windows: a mutex
// in the session's namespace); it is short ASCII text derived from `dir`. A
// lock whose last holder ended without releasing it counts as taken.
// `lock` receives the lock only when the result is `acquired`.
LockResult os_lock_dir(const char16_t* dir, const char16_t* key, uint32_t timeout_ms, DirLock* lock);
void os_unlock_dir(DirLock lock);

// True when an open failed with `code` because another process has the file
// open or mapped in a way that forbids it: a conflict that lasts only while
// another launcher checks the file.
bool os_in_use_error(uint32_t code);

void os_sleep(uint32_t milliseconds);

// The size of an existing regular file; false when `path` names nothing or
// something else. Needs no access to the file's contents.
bool os_file_size(const char16_t* path, uint64_t* size);

// ---- reading existing files -------------------------------------------------

using ReadHandle = void*;

// Opens an existing regular file for reading, shared for reading, writing and
// deleting, so that a file a running program holds can still be checked.
// Null when `path` names nothing, something other than a regular file, or a
// file that cannot be opened (on POSIX also one that another launcher is
// writing: it is not to be read half written).
ReadHandle os_open_for_read(const char16_t* path);

// Reads the next bytes, at most `capacity`; `got` receives the count, 0 at the
// end of the file. False when the read fails.
bool os_read_file(ReadHandle file, void* buffer, uint32_t capacity, uint32_t* got);

void os_close_read(ReadHandle file);

// ---- threads ----------------------------------------------------------------

// The processors this process may run on, at least 1.
uint32_t os_processor_count();

using ThreadHandle = void*;

// Runs body(argument) on a new thread. Null when no thread can be started.
ThreadHandle os_start_thread(void (*body)(void*), void* argument);

// Waits until the thread has ended, then releases it.
void os_join_thread(ThreadHandle thread);
