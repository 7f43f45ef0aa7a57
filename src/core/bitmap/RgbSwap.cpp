#include "core/bitmap/RgbSwap.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define OZM_HAVE_SSSE3_PATH 1
#endif

namespace ozm {

namespace {

void SwapScalar(const std::uint8_t* src, std::uint8_t* dst, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; i += 3) {
        dst[i] = src[i + 2];
        dst[i + 1] = src[i + 1];
        dst[i + 2] = src[i];
    }
}

#ifdef OZM_HAVE_SSSE3_PATH
// Five pixels per step: 16 bytes are loaded and stored, of which 15 are finished; the 16th is
// written again by the next step or by the scalar tail.
__attribute__((target("ssse3"))) void SwapSsse3(const std::uint8_t* src, std::uint8_t* dst,
                                                std::size_t bytes) {
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    std::size_t i = 0;
    for (; i + 16 <= bytes; i += 15) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_shuffle_epi8(v, order));
    }
    SwapScalar(src + i, dst + i, bytes - i);
}

bool HaveSsse3() {
    static const bool have = __builtin_cpu_supports("ssse3");
    return have;
}
#endif

}  // namespace

void CopySwappingRedBlue(const std::uint8_t* src, std::uint8_t* dst, std::size_t pixels) {
#ifdef OZM_HAVE_SSSE3_PATH
    if (HaveSsse3()) {
        SwapSsse3(src, dst, pixels * 3);
        return;
    }
#endif
    SwapScalar(src, dst, pixels * 3);
}

}  // namespace ozm
