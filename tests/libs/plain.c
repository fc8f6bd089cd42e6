/*
 * plain.c - a shared library for the registry's tests without any of the
 * entry points, which are all optional; it offers one ordinary function.
 */
int vx_plain_answer(void) { return 42; }
