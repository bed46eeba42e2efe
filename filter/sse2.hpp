#pragma once

// SSE2 is there on every x86-64 processor: where it is, the few loops that
// take most of a frame work a vector at a time; elsewhere they take their
// one-at-a-time paths.
#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define VEILCAM_SSE2 1
#endif
