#include "fake_os.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

FakeOs state;

// Argument arrays handed out to the logic live until the next reset.
std::vector<std::unique_ptr<char16_t[]>> arg_storage;
std::vector<std::unique_ptr<char16_t*[]>> array_storage;

char16_t** to_array(const std::vector<std::u16string>& args) {
    auto array = std::make_unique<char16_t*[]>(args.size() + 1);
    for (size_t i = 0; i < args.size(); ++i) {
        auto copy = std::make_unique<char16_t[]>(args[i].size() + 1);
        std::memcpy(copy.get(), args[i].c_str(), (args[i].size() + 1) * sizeof(char16_t));
        array[i] = copy.get();
        arg_storage.push_back(std::move(copy));
    }
    array[args.size()] = nullptr;
    char16_t** result = array.get();
    array_storage.push_back(std::move(array));
    return result;
}

// Writes `text` cut to `capacity` units (NUL included); returns the length written.
size_t put(const std::u16string& text, char16_t* out, size_t capacity) {
    if (capacity == 0) return 0;
    size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
    std::memcpy(out, text.data(), n * sizeof(char16_t));
    out[n] = 0;
    return n;
}

std::u16string parent_of(const std::u16string& path) {
    size_t cut = path.rfind(u'\\');
    return cut == std::u16string::npos ? std::u16string() : path.substr(0, cut);
}

bool is_drive(const std::u16string& path) { return path.size() == 2 && path[1] == u':'; }

struct FakeFile {
    std::u16string path;
};

// Files still open when a test ends (a fatal path leaves them so, as the end
// of a process would close them) are closed by the next reset.
std::set<FakeFile*> live_files;

FakeChild* as_child(ChildHandle handle) {
    size_t index = reinterpret_cast<uintptr_t>(handle) - 1;
    return index < state.children.size() ? &state.children[index] : nullptr;
}

}  // namespace

FakeOs& fake_os() { return state; }

void fake_reset() {
    for (FakeFile* file : live_files) delete file;
    live_files.clear();
    state = FakeOs{};
    arg_storage.clear();
    array_storage.clear();
}

void fake_process_end() {
    for (FakeFile* file : live_files) delete file;
    live_files.clear();
    state.open_handles = 0;
    state.open_reads = 0;
    state.locks_held = 0;
}

bool fake_is_dir(const std::u16string& path) { return is_drive(path) || state.dirs.count(path) > 0; }

char16_t** os_runtime_args(int* count) {
    *count = static_cast<int>(state.runtime_args.size());
    return to_array(state.runtime_args);
}

void os_restrict_dll_search() { ++state.dll_restrictions; }

size_t os_get_env(const char16_t* name, char16_t* value, size_t capacity) {
    auto it = state.env.find(name);
    if (it == state.env.end() || it->second.empty()) return 0;
    if (it->second.size() + 1 > capacity) return it->second.size() + 1;
    return put(it->second, value, capacity);
}

bool os_set_env(const char16_t* name, const char16_t* value) {
    if (value == nullptr)
        state.env.erase(name);
    else
        state.env[name] = value;
    return true;
}

uint32_t os_process_id() { return state.pid; }

uint64_t os_system_time() {
    ++state.system_time_reads;
    return state.system_time;
}

uint64_t os_performance_counter() { return state.counter; }

size_t os_module_path(char16_t* out, size_t capacity) {
    ++state.module_path_calls;
    if (!state.module_path) return 0;
    return put(*state.module_path, out, capacity);
}

void os_temp_dir(char16_t* out, size_t capacity) {
    if (state.temp_dir && state.temp_dir->size() < capacity) put(*state.temp_dir, out, capacity);
}

bool os_known_folder(KnownFolder which, char16_t* out, size_t capacity) {
    ++state.known_folder_calls;
    const auto& folder = which == KnownFolder::profile ? state.profile : state.local_app_data;
    if (!folder || folder->size() > 259) return false;
    put(*folder, out, capacity);
    return true;
}

size_t os_full_path(const char16_t* path, char16_t* out, size_t capacity) {
    if (state.full_path_fails) return 0;
    std::u16string text(path);
    if (text.size() + 1 > capacity) return text.size() + 1;
    return put(text, out, capacity);
}

DirResult os_create_dir(const char16_t* path) {
    std::u16string dir(path);
    state.created_dirs.push_back(dir);
    if (state.create_dir_fails.count(dir)) {
        state.last_error = 5;
        return DirResult::failed;
    }
    if (fake_is_dir(dir) || state.files.count(dir)) {
        state.last_error = 183;  // ERROR_ALREADY_EXISTS
        return DirResult::already_exists;
    }
    if (!fake_is_dir(parent_of(dir))) {
        state.last_error = 3;  // ERROR_PATH_NOT_FOUND
        return DirResult::failed;
    }
    state.dirs.insert(dir);
    return DirResult::created;
}

FileHandle os_open_for_write(const char16_t* path) {
    std::u16string file(path);
    if (state.open_fails.count(file) || fake_is_dir(file)) {
        state.last_error = 5;
        return nullptr;
    }
    auto busy = state.in_use.find(file);
    if (busy != state.in_use.end() && busy->second > 0) {
        --busy->second;
        state.last_error = 32;   // ERROR_SHARING_VIOLATION
        return nullptr;
    }
    if (!fake_is_dir(parent_of(file))) {
        state.last_error = 3;
        return nullptr;
    }
    state.files[file].clear();
    state.opened_for_write.push_back(file);
    ++state.open_handles;
    FakeFile* handle = new FakeFile{file};
    live_files.insert(handle);
    return handle;
}

bool os_write_file(FileHandle file, const void* data, uint32_t size, uint32_t* written) {
    int index = state.writes++;
    if (index == state.fail_write_at) {
        state.last_error = state.write_error;
        *written = 0;
        return false;
    }
    uint32_t count = index == state.short_write_at && size > 0 ? size - 1 : size;
    state.files[static_cast<FakeFile*>(file)->path].append(static_cast<const char*>(data), count);
    *written = count;
    return true;
}

void os_close_file(FileHandle file) {
    --state.open_handles;
    live_files.erase(static_cast<FakeFile*>(file));
    delete static_cast<FakeFile*>(file);
}

namespace {

struct FakeRead {
    const unsigned char* data;
    uint64_t size;
    uint64_t position;
};

}  // namespace

ReadHandle os_open_for_read(const char16_t* path) {
    auto memory = state.memory_files.find(path);
    const unsigned char* data = nullptr;
    uint64_t size = 0;
    if (memory != state.memory_files.end()) {
        data = memory->second.data;
        size = memory->second.size;
    } else {
        auto it = state.files.find(path);
        if (it == state.files.end() || state.unreadable.count(path)) return nullptr;
        data = reinterpret_cast<const unsigned char*>(it->second.data());
        size = it->second.size();
    }
    ++state.open_reads;
    return new FakeRead{data, size, 0};
}

bool os_read_file(ReadHandle file, void* buffer, uint32_t capacity, uint32_t* got) {
    state.read_sizes.push_back(capacity);
    auto* read = static_cast<FakeRead*>(file);
    uint64_t left = read->size - read->position;
    uint32_t count = left < capacity ? static_cast<uint32_t>(left) : capacity;
    std::memcpy(buffer, read->data + read->position, count);
    read->position += count;
    *got = count;
    return true;
}

void os_close_read(ReadHandle file) {
    --state.open_reads;
    delete static_cast<FakeRead*>(file);
}

uint32_t os_processor_count() { return state.processors; }

ThreadHandle os_start_thread(void (*body)(void*), void* argument) {
    if (state.thread_start_fails) return nullptr;
    ++state.threads_started;
    body(argument);
    return &state;
}

void os_join_thread(ThreadHandle) { ++state.threads_joined; }

void* os_allocate_window(size_t size) { return std::malloc(size); }
void os_free_window(void* memory) { std::free(memory); }

void os_release_pages(const void* data, uint64_t size) {
    state.released.emplace_back(static_cast<const unsigned char*>(data), size);
}

uint32_t os_last_error() { return state.last_error; }

void os_error_text(uint32_t code, char* out, size_t capacity) {
    auto it = state.error_texts.find(code);
    std::string text = it == state.error_texts.end() ? std::string() : it->second;
    std::snprintf(out, capacity, "%s", text.c_str());
}

char16_t** os_split_command_line(int* count) {
    if (state.split_fails) return nullptr;
    *count = static_cast<int>(state.command_line_args.size());
    return to_array(state.command_line_args);
}

ChildHandle os_start_child(const char16_t* application, const ChildCommand& command) {
    if (state.start_fails) {
        state.last_error = state.start_error;
        return nullptr;
    }
    if (state.on_start) state.on_start();
    FakeChild child;
    child.env = state.env;
    child.application = application;
    child.command_line = command.command_line;
    if (!state.children.empty()) {
        // a test configures the child before the start
        FakeChild& planned = state.children.back();
        if (planned.application.empty()) {
            child.ends_in_time = planned.ends_in_time;
            child.exit_code_readable = planned.exit_code_readable;
            child.exit_code = planned.exit_code;
            child.wait_fails = planned.wait_fails;
            planned = child;
            return reinterpret_cast<ChildHandle>(state.children.size());
        }
    }
    state.children.push_back(child);
    return reinterpret_cast<ChildHandle>(state.children.size());
}

bool os_wait_child(ChildHandle handle, uint32_t timeout_ms) {
    if (state.on_wait) state.on_wait(handle, timeout_ms);
    FakeChild* child = as_child(handle);
    ++child->waits;
    if (child->wait_fails) return false;
    return timeout_ms == wait_forever || child->ends_in_time || child->terminated_with.has_value();
}

bool os_child_exit_code(ChildHandle handle, uint32_t* code) {
    FakeChild* child = as_child(handle);
    if (!child->exit_code_readable) return false;
    *code = child->terminated_with ? *child->terminated_with : child->exit_code;
    return true;
}

void os_terminate_child(ChildHandle handle, uint32_t exit_code) { as_child(handle)->terminated_with = exit_code; }

void os_close_child(ChildHandle handle) { ++as_child(handle)->closes; }

bool os_add_ctrl_handler(bool (*handler)(uint32_t)) {
    if (state.add_ctrl_handler_fails) return false;
    state.ctrl_handler = handler;
    return true;
}

void os_hold_thread() { ++state.holds; }

LockResult os_lock_dir(const char16_t* dir, const char16_t* key, uint32_t timeout_ms, DirLock* lock) {
    state.lock_dirs.emplace_back(dir);
    state.lock_keys.emplace_back(key);
    state.lock_timeouts.push_back(timeout_ms);
    state.lock_dir_existed.push_back(fake_is_dir(dir));
    state.opened_before_lock.push_back(state.opened_for_write.size());
    if (state.on_lock) state.on_lock();
    if (state.lock_fails) return LockResult::failed;
    if (state.lock_times_out) return LockResult::timed_out;
    ++state.locks_held;
    *lock = &state;
    return LockResult::acquired;
}

void os_unlock_dir(DirLock) { --state.locks_held; }

bool os_in_use_error(uint32_t code) { return code == 32 || code == 33 || code == 1224; }

void os_sleep(uint32_t milliseconds) { state.sleeps.push_back(milliseconds); }

bool os_file_size(const char16_t* path, uint64_t* size) {
    auto it = state.files.find(path);
    if (it == state.files.end()) return false;
    *size = it->second.size();
    return true;
}
