#include "CRCs.h"

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#include <wmmintrin.h>
#endif

TCRC* TCRC::Create()
{
    return new TCRC;
}

std::uint32_t TCRC::SlicedUpdate(std::uint32_t c, const std::uint8_t* data, std::size_t length)
{
    const auto& t = CrcSliceTables;
    while (length >= 8) {
        const std::uint32_t lo = c ^ (std::uint32_t(data[0]) | std::uint32_t(data[1]) << 8 |
                                      std::uint32_t(data[2]) << 16 | std::uint32_t(data[3]) << 24);
        c = t[7][lo & 0xFFu] ^ t[6][(lo >> 8) & 0xFFu] ^ t[5][(lo >> 16) & 0xFFu] ^ t[4][lo >> 24] ^
            t[3][data[4]] ^ t[2][data[5]] ^ t[1][data[6]] ^ t[0][data[7]];
        data += 8;
        length -= 8;
    }
    while (length-- > 0)
        c = CrcTable[(c ^ *data++) & 0xFFu] ^ (c >> 8);
    return c;
}

#if defined(__x86_64__) || defined(__i386__)
namespace {

// x^e modulo the polynomial, bit-reflected and times x, as the multiplier
// that moves 64 bits of the reflected register e - 32 bits further on.
constexpr std::uint64_t FoldConstant(unsigned e)
{
    std::uint64_t r = 1;
    for (unsigned i = 0; i < e; ++i) {
        r <<= 1;
        if (r & 0x100000000u)
            r ^= 0x104C11DB7u;
    }
    std::uint64_t reflected = 0;
    for (unsigned i = 0; i < 32; ++i)
        reflected |= ((r >> i) & 1u) << (31 - i);
    return reflected << 1;
}

// Carries 16 bytes x forward over distance bits (the low half multiplied by
// the constant for distance + 32, the high half by that for distance - 32).
template <unsigned Distance>
[[gnu::target("pclmul,sse2")]] inline __m128i Fold(__m128i x)
{
    // Constant variables, so that the compiler computes them whatever the optimisation.
    static constexpr std::uint64_t Low = FoldConstant(Distance + 32);
    static constexpr std::uint64_t High = FoldConstant(Distance - 32);
    const __m128i k = _mm_set_epi64x(static_cast<long long>(High), static_cast<long long>(Low));
    return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

[[gnu::target("pclmul,sse2")]] inline __m128i Load(const std::uint8_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

}  // namespace

bool TCRC::CanFold()
{
    static const bool can = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
    }();
    return can;
}

// The accumulator goes into the first four bytes; four lanes of 16 bytes
// are carried over 64 bytes at a time, then folded into one, 16 bytes at a
// time; what is left, 16 bytes of register and the tail, takes the tables
// from an accumulator of 0.
[[gnu::target("pclmul,sse2")]] std::uint32_t TCRC::FoldedUpdate(std::uint32_t c, const std::uint8_t* data,
                                                                 std::size_t length)
{
    if (length < 64)
        return SlicedUpdate(c, data, length);
    __m128i x0 = _mm_xor_si128(Load(data), _mm_cvtsi32_si128(static_cast<int>(c)));
    __m128i x1 = Load(data + 16);
    __m128i x2 = Load(data + 32);
    __m128i x3 = Load(data + 48);
    data += 64;
    length -= 64;
    while (length >= 64) {
        x0 = _mm_xor_si128(Fold<512>(x0), Load(data));
        x1 = _mm_xor_si128(Fold<512>(x1), Load(data + 16));
        x2 = _mm_xor_si128(Fold<512>(x2), Load(data + 32));
        x3 = _mm_xor_si128(Fold<512>(x3), Load(data + 48));
        data += 64;
        length -= 64;
    }
    __m128i x = _mm_xor_si128(Fold<128>(x0), x1);
    x = _mm_xor_si128(Fold<128>(x), x2);
    x = _mm_xor_si128(Fold<128>(x), x3);
    while (length >= 16) {
        x = _mm_xor_si128(Fold<128>(x), Load(data));
        data += 16;
        length -= 16;
    }
    std::uint8_t rest[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rest), x);
    return SlicedUpdate(SlicedUpdate(0, rest, sizeof rest), data, length);
}
#else
bool TCRC::CanFold()
{
    return false;
}

std::uint32_t TCRC::FoldedUpdate(std::uint32_t c, const std::uint8_t* data, std::size_t length)
{
    return SlicedUpdate(c, data, length);
}
#endif

void TCRC::UpdateRange(const std::uint8_t* data, std::size_t length)
{
    Accumulator = CanFold() ? FoldedUpdate(Accumulator, data, length) : SlicedUpdate(Accumulator, data, length);
}

std::string CrcToHex(std::uint32_t value)
{
    static constexpr char HexDigits[] = "0123456789ABCDEF";
    std::string text(8, '0');
    for (std::size_t i = 8; i-- > 0;) {
        text[i] = HexDigits[value & 0xFu];
        value >>= 4;
    }
    return text;
}
