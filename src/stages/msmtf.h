// Move-to-front decoder: list positions back to byte values.
#pragma once

#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

class Tmsmtf {
public:
    std::uint8_t PositionOf[256];  // byte value -> list position
    std::uint8_t SymbolAt[256];    // list position -> byte value

    static Tmsmtf* Create();
    void Done() {}
    void Reset();

    // Returns the byte at list position index and moves it to the front:
    // the values before it move one position back.
    std::uint8_t Decode(std::uint8_t index)
    {
        const std::uint8_t sym = MoveToFront(index);
        if (index == 0)  // a repeat, most often: the front stays
            return sym;
        // One pass over all values, free of branches so that it vectorises.
        for (unsigned s = 0; s < 256; ++s)
            PositionOf[s] = static_cast<std::uint8_t>(PositionOf[s] + (PositionOf[s] < index ? 1 : 0));
        PositionOf[sym] = 0;
        return sym;
    }

    // Decode for a caller that calls RefreshPositionOf before PositionOf is
    // read again: only SymbolAt moves.
    std::uint8_t DecodeSymbolOnly(std::uint8_t index) { return MoveToFront(index); }

    // PositionOf as the inverse of SymbolAt.
    void RefreshPositionOf()
    {
        for (unsigned p = 0; p < 256; ++p)
            PositionOf[SymbolAt[p]] = static_cast<std::uint8_t>(p);
    }

private:
    std::uint8_t MoveToFront(std::uint8_t index)
    {
        const std::uint8_t sym = SymbolAt[index];
        if (index == 0)  // a repeat, most often: the front stays
            return sym;
#if defined(__SSE2__)
        // Small indexes, the common case, without a call: from the top down,
        // 16 positions at a time move up by one, each load before the store
        // that would overlap it.
        if (index >= 64) {
            std::memmove(SymbolAt + 1, SymbolAt, index);
            SymbolAt[0] = sym;
            return sym;
        }
        unsigned head = index;
        for (; head >= 16; head -= 16) {
            const __m128i part = _mm_loadu_si128(reinterpret_cast<const __m128i*>(SymbolAt + head - 16));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(SymbolAt + head - 15), part);
        }
        // The first 16 positions in one register: shifted by one up to head,
        // those above it already moved or untouched.
        const __m128i list = _mm_loadu_si128(reinterpret_cast<const __m128i*>(SymbolAt));
        const __m128i position = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
        const __m128i moved = _mm_cmplt_epi8(position, _mm_set1_epi8(static_cast<char>(head + 1)));
        const __m128i shifted = _mm_or_si128(_mm_slli_si128(list, 1), _mm_cvtsi32_si128(sym));
        const __m128i result = _mm_or_si128(_mm_and_si128(moved, shifted), _mm_andnot_si128(moved, list));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(SymbolAt), result);
#else
        std::memmove(SymbolAt + 1, SymbolAt, index);
        SymbolAt[0] = sym;
#endif
        return sym;
    }
};
