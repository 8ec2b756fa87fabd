/* The checksum half of the warm-start reference: zlib's crc32, started from
 * 0, over every file named on the command line, read in large pieces.
 * Prints one line per file (CRC and size), so nothing is computed for
 * nothing; exits 1 when a file cannot be read.
 *   crc_files FILE... */
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>
#include <zlib.h>

static unsigned char piece[1 << 20];

int main(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        int fd = open(argv[i], O_RDONLY);
        if (fd < 0) {
            perror(argv[i]);
            return 1;
        }
        uLong crc = crc32(0, Z_NULL, 0);
        unsigned long long size = 0;
        ssize_t got;
        while ((got = read(fd, piece, sizeof piece)) > 0) {
            crc = crc32(crc, piece, (uInt)got);
            size += (unsigned long long)got;
        }
        close(fd);
        if (got < 0) {
            perror(argv[i]);
            return 1;
        }
        printf("%08lx %llu %s\n", crc, size, argv[i]);
    }
    return 0;
}
