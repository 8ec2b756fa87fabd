/* The trivial program plus the two shell32 calls that every launcher makes
 * (splitting its command line, asking for the local application data
 * folder). Started under Wine beside the trivial program, it shows what
 * loading shell32, and with it user32 and gdi32, costs a process there. */
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

int main(void) {
    int count = 0;
    wchar_t **args = CommandLineToArgvW(GetCommandLineW(), &count);
    wchar_t folder[MAX_PATH];
    HRESULT found = SHGetFolderPathW(NULL, CSIDL_LOCAL_APPDATA, NULL, 0, folder);
    return args != NULL && SUCCEEDED(found) ? 0 : 1;
}
