// Included ahead of every source of the Windows build: the few POSIX names
// the file code uses, in their Windows form. Paths are UTF-8; the program's
// manifest makes UTF-8 the process's code page, so the narrow calls of the
// C library take them as they are.
#pragma once
#ifdef _WIN32
// localtime_r and gmtime_r from the C library's headers.
#ifndef _POSIX_THREAD_SAFE_FUNCTIONS
#define _POSIX_THREAD_SAFE_FUNCTIONS 200112L
#endif
#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

// Not inherited by child processes, and never the C library's text mode:
// our files are bytes.
#ifndef O_CLOEXEC
#define O_CLOEXEC (_O_NOINHERIT | _O_BINARY)
#endif
#ifndef PATH_MAX
#define PATH_MAX 4096
#endif

// Flushes the file to the disk.
inline int fsync(int fd) {
    return _commit(fd);
}

// Windows files have no POSIX mode bits to set.
inline int fchmod(int, unsigned) {
    return 0;
}

// mkstemp with open flags: a new file "<template without XXXXXX><6 letters>".
int mkostemp(char* pathTemplate, int flags);

// The whole path of an existing file or folder.
char* realpath(const char* path, char* resolved);
#endif
