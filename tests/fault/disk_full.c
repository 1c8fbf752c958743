// SPDX-License-Identifier: GPL-3.0-or-later
/* A disk that fills up, for whole commands under test (LD_PRELOAD=libveld_disk_full.so).
 *
 *   VELD_DISK_FULL_AFTER=N       the process may write N bytes in all to regular files; the write that
 *                                crosses the limit writes what still fits and every later one fails
 *                                with ENOSPC, as on a file system that has just filled up
 *   VELD_DISK_FULL_REPORT=PATH   at exit, the number of bytes written to regular files goes to PATH
 *                                (to measure a run before choosing the limits)
 *   VELD_SLOW_RENAME_US=N        every rename() and link() first sleeps N microseconds (to widen the
 *                                moments at which a test can interrupt a copy-back)
 *   VELD_DISK_FULL_SPARE=NAME    writes to files of that name are neither counted nor failed (a file whose
 *                                size varies from run to run, such as a lock that holds the process id,
 *                                would otherwise move every limit a test chose from an earlier run)
 *
 * Writes to anything that is not a regular file (the terminal, pipes) are neither counted nor failed.
 * Intercepted: write, pwrite, pwrite64, writev, copy_file_range, rename, link. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

static atomic_llong written;  /* bytes written to regular files so far */
static long long limit = -1;  /* -1: no limit */
static long slow_us;
static const char* spare;     /* the file name whose writes are left alone, or NULL */

__attribute__((constructor)) static void setup(void) {
  const char* v = getenv("VELD_DISK_FULL_AFTER");
  if (v && *v) limit = atoll(v);
  v = getenv("VELD_SLOW_RENAME_US");
  if (v && *v) slow_us = atol(v);
  v = getenv("VELD_DISK_FULL_SPARE");
  if (v && *v) spare = v;
}

__attribute__((destructor)) static void report(void) {
  const char* path = getenv("VELD_DISK_FULL_REPORT");
  if (!path || !*path) return;
  FILE* f = fopen(path, "w");
  if (!f) return;
  fprintf(f, "%lld\n", (long long)atomic_load(&written));
  fclose(f);
}

/* Whether fd is a file of the spared name. */
static int spared(int fd) {
  if (!spare) return 0;
  char link[64], path[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, path, sizeof path - 1);
  if (n <= 0) return 0;
  path[n] = '\0';
  const char* name = strrchr(path, '/');
  return strcmp(name ? name + 1 : path, spare) == 0;
}

/* A regular file whose writes are counted (and failed past the limit). */
static int regular(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && !spared(fd);
}

/* How many of n bytes may be written now: n, fewer at the limit, -1 (errno ENOSPC) past it. */
static long long grant(int fd, long long n) {
  if (n <= 0 || !regular(fd)) return n;
  if (limit < 0) {
    atomic_fetch_add(&written, n);
    return n;
  }
  long long before = atomic_load(&written);
  for (;;) {
    long long room = limit - before;
    if (room <= 0) {
      errno = ENOSPC;
      return -1;
    }
    long long take = n < room ? n : room;
    if (atomic_compare_exchange_weak(&written, &before, before + take)) return take;
  }
}

#define REAL(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

ssize_t write(int fd, const void* buf, size_t n) {
  long long g = grant(fd, (long long)n);
  if (g < 0) return -1;
  return REAL(write)(fd, buf, (size_t)g);
}

ssize_t pwrite(int fd, const void* buf, size_t n, off_t offset) {
  long long g = grant(fd, (long long)n);
  if (g < 0) return -1;
  return REAL(pwrite)(fd, buf, (size_t)g, offset);
}

ssize_t pwrite64(int fd, const void* buf, size_t n, off64_t offset) {
  long long g = grant(fd, (long long)n);
  if (g < 0) return -1;
  return REAL(pwrite64)(fd, buf, (size_t)g, offset);
}

ssize_t writev(int fd, const struct iovec* iov, int count) {
  long long n = 0;
  for (int i = 0; i < count; ++i) n += (long long)iov[i].iov_len;
  long long g = grant(fd, n);
  if (g < 0) return -1;
  if (g == n) return REAL(writev)(fd, iov, count);
  /* Only part fits: write that part from the first buffers. */
  ssize_t done = 0;
  for (int i = 0; i < count && g > 0; ++i) {
    size_t take = iov[i].iov_len < (size_t)g ? iov[i].iov_len : (size_t)g;
    ssize_t r = REAL(write)(fd, iov[i].iov_base, take);
    if (r < 0) return done > 0 ? done : -1;
    done += r;
    g -= r;
    if ((size_t)r < take) break;
  }
  return done;
}

ssize_t copy_file_range(int in, loff_t* in_off, int out, loff_t* out_off, size_t n, unsigned flags) {
  if (limit >= 0 && regular(out)) {
    /* The grant is taken after the copy, for the bytes the kernel actually copied. */
    long long room = limit - atomic_load(&written);
    if (room <= 0) {
      errno = ENOSPC;
      return -1;
    }
    if ((long long)n > room) n = (size_t)room;
  }
  ssize_t r = REAL(copy_file_range)(in, in_off, out, out_off, n, flags);
  if (r > 0 && regular(out)) atomic_fetch_add(&written, r);
  return r;
}

static void pause_a_while(void) {
  if (slow_us <= 0) return;
  struct timespec t = {slow_us / 1000000, (slow_us % 1000000) * 1000};
  nanosleep(&t, NULL);
}

int rename(const char* from, const char* to) {
  pause_a_while();
  return REAL(rename)(from, to);
}

int link(const char* from, const char* to) {
  pause_a_while();
  return REAL(link)(from, to);
}
