/* A malloc that refuses every request of TRELLON_TEST_MALLOC_LIMIT bytes or
 * more, preloaded into trellon by the CLI tests to run it out of memory at a
 * chosen allocation. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stddef.h>
#include <stdlib.h>

void* malloc(size_t size)
{
    static void* (*real)(size_t);
    static size_t limit = (size_t)-1;
    if (real == NULL)
    {
        const char* text = getenv("TRELLON_TEST_MALLOC_LIMIT");
        limit = text != NULL ? (size_t)strtoull(text, NULL, 10) : (size_t)-1;
        real = (void* (*)(size_t))dlsym(RTLD_NEXT, "malloc");
    }
    if (size >= limit)
    {
        errno = ENOMEM;
        return NULL;
    }
    return real(size);
}
