/*
 * stack_protector.c - the stack protector's guard and its failure, for the
 * Windows program (compiled with -fstack-protector-strong).
 *
 * GCC's own runtime for this, libssp, seeds the guard with advapi32's
 * CryptGenRandom: an import that the program has no other use for. Here the
 * C runtime's rand_s gives the guard the same randomness (RtlGenRandom)
 * without it. This file is compiled without the protector: it sets the
 * guard up, before any protected function runs.
 */
#define _CRT_RAND_S
#include <io.h>
#include <stdint.h>
#include <stdlib.h>

/* A fixed guard until the seed, never zero; its low byte stays zero, as a
   string overflow then stops at the guard rather than copying past it. */
uintptr_t __stack_chk_guard = (uintptr_t)0x5EED5100u;

__attribute__((constructor(101))) static void SeedStackGuard(void)
{
    unsigned int random;
    if (rand_s(&random) == 0 && (random & ~0xFFu) != 0)
        __stack_chk_guard = (uintptr_t)(random & ~0xFFu);
}

__attribute__((noreturn)) void __stack_chk_fail(void)
{
    static const char message[] = "*** stack smashing detected ***: terminated\n";
    _write(2, message, sizeof message - 1);
    abort();
}
