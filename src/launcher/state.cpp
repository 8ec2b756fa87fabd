#include "launcher/state.h"

PathBuffer target_dir;
PathBuffer main_exe_path;
PathBuffer entry_path;
char16_t entry_name[entry_name_capacity];
unsigned char write_chunk[write_chunk_size];
char16_t launcher_dir[launcher_dir_capacity];
PathBuffer own_module_name;
char16_t child_command_line[command_line_capacity];
