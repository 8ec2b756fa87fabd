/* What `zstd -d` and the crc32 helper do, built for Windows with the same
 * zstd decoder and zlib as the launcher, so that under Wine the launcher can
 * be compared with plain Windows programs doing the same work: what is left
 * between the two is ours, what both pay over the native tools is Wine's.
 *   decode FRAME OUT [FILE...]
 * decodes FRAME to OUT ("-": decode and discard), then prints zlib's crc32
 * of every FILE, read in pieces of 1 MiB. */
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <zlib.h>
#include <zstd.h>

static unsigned char in[1 << 17], out[1 << 17], piece[1 << 20];

static HANDLE open_path(const char *path, int writing) {
    return CreateFileA(path, writing ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ, NULL,
                       writing ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
}

static int decode(const char *frame, const char *target) {
    HANDLE source = open_path(frame, 0);
    HANDLE sink = strcmp(target, "-") == 0 ? NULL : open_path(target, 1);
    ZSTD_DStream *stream = ZSTD_createDStream();
    if (source == INVALID_HANDLE_VALUE || sink == INVALID_HANDLE_VALUE || stream == NULL) return 1;
    ZSTD_DCtx_setParameter(stream, ZSTD_d_windowLogMax, 31);
    DWORD got;
    size_t result = 1;
    while (ReadFile(source, in, sizeof in, &got, NULL) && got > 0) {
        ZSTD_inBuffer input = {in, got, 0};
        while (input.pos < input.size) {
            ZSTD_outBuffer output = {out, sizeof out, 0};
            result = ZSTD_decompressStream(stream, &output, &input);
            if (ZSTD_isError(result)) return 1;
            DWORD written;
            if (sink && output.pos > 0 && !WriteFile(sink, out, (DWORD)output.pos, &written, NULL)) return 1;
        }
    }
    ZSTD_freeDStream(stream);
    CloseHandle(source);
    if (sink) CloseHandle(sink);
    return result == 0 ? 0 : 1;
}

static int checksum(const char *path) {
    HANDLE file = open_path(path, 0);
    if (file == INVALID_HANDLE_VALUE) return 1;
    uLong crc = crc32(0, Z_NULL, 0);
    unsigned long long size = 0;
    DWORD got;
    while (ReadFile(file, piece, sizeof piece, &got, NULL) && got > 0) {
        crc = crc32(crc, piece, got);
        size += got;
    }
    CloseHandle(file);
    printf("%08lx %llu %s\n", crc, size, path);
    return 0;
}

int main(int argc, char **argv) {
    if (argc < 3 || decode(argv[1], argv[2]) != 0) return 1;
    for (int i = 3; i < argc; ++i)
        if (checksum(argv[i]) != 0) return 1;
    return 0;
}
