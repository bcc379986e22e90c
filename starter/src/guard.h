// The guard around the main application: a C++ exception that leaves it,
// thrown by code of either Windows compiler, ends it with a result of 1.
#pragma once

typedef int (*GuardedFn)(void *context);

// Returns fn(context), or 1 when a C++ exception unwound out of it: one of
// this compiler's runtime or the Microsoft compiler's (exception code
// 0xE06D7363). Hardware faults and other structured exceptions pass on to
// the process's handlers, as without the guard.
int callGuarded(GuardedFn fn, void *context);
