// The one 16-byte vector type of the shared interfaces: key entries, blocks and the mixing's
// 128-bit result. Each architecture's own register type, so that its fast forms pass values
// without conversion; the portable forms only copy its bytes.
#pragma once

#if defined(__x86_64__)
#include <emmintrin.h>
using vec128 = __m128i;
#elif defined(__aarch64__)
#include <arm_neon.h>
using vec128 = uint8x16_t;
#else
#error "zantu-solver builds for x86-64 and aarch64"
#endif

static_assert(sizeof(vec128) == 16 && alignof(vec128) == 16, "a key entry is 16 aligned bytes");
