// Run-length decoder: after Threshold[s] + 1 equal symbols in a row a run
// length (number of extra copies) follows in the coded stream.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

using TPutByteProc = void (*)(std::uint8_t value);
using TGetSymbolFunc = std::uint8_t (*)();
using TGetRunLengthFunc = std::uint32_t (*)();

class TRLE {
public:
    static constexpr std::uint32_t MaxRunLimit = 0xFFFFF;
    static constexpr std::uint8_t StatusNoCount = 156;
    static constexpr std::uint8_t StatusBadMaxRun = 157;
    // A run would have carried the output past count; it was cut at count.
    static constexpr std::uint8_t StatusRunCut = 158;

    std::uint8_t Flags = 0;
    std::uint8_t Status = 0;
    std::uint16_t Threshold[256] = {};
    TPutByteProc OnPut;
    TGetSymbolFunc OnGetSymbol;
    TGetRunLengthFunc OnGetRunLength;

    // maxRun: the largest run length the owner's source delivers, 1 to
    // MaxRunLimit; outside that range Status is StatusBadMaxRun. Decode uses
    // run lengths as delivered.
    static TRLE* Create(std::uint32_t maxRun);
    void Done() {}
    // Puts exactly count bytes through OnPut (never more, even for a damaged
    // run length, which sets StatusRunCut).
    void Decode(std::uint32_t count);

    // A literal stretch taken in bulk: takeLiterals(cur, equalRun, left)
    // may put some of the next symbols itself, exactly as the rule would one
    // by one, and returns how many; left is what count still allows.
    struct NoBulkLiterals {
        std::uint32_t operator()(std::uint8_t&, std::uint32_t&, std::uint32_t) const { return 0; }
    };

    // Decode with the three sources as inline callables: getSymbol() and
    // getRunLength() as OnGetSymbol and OnGetRunLength, putRun(symbol,
    // copies) for `copies` calls of OnPut(symbol) in a row.
    template <typename GetSymbol, typename GetRunLength, typename PutRun, typename TakeLiterals = NoBulkLiterals>
    void DecodeWith(std::uint32_t count, GetSymbol&& getSymbol, GetRunLength&& getRunLength, PutRun&& putRun,
                    TakeLiterals&& takeLiterals = {})
    {
        TProgress progress;
        if (Begin(progress, count, getSymbol))
            DecodeUpTo(progress, count, count, getSymbol, getRunLength, putRun, takeLiterals);
    }

    // DecodeWith in steps, for an owner that looks up between them: Begin,
    // then DecodeUpTo with rising limits up to count. Each step ends once
    // at least limit bytes are out; the rule is the same as in one step.
    struct TProgress {
        std::uint32_t Written = 0;
        std::uint32_t EqualRun = 0;
        std::uint8_t Cur = 0;  // the next symbol, already taken
    };
    // False when there is nothing to decode (count 0: StatusNoCount).
    template <typename GetSymbol>
    bool Begin(TProgress& progress, std::uint32_t count, GetSymbol&& getSymbol)
    {
        progress = {};
        if (count == 0) {
            Status = StatusNoCount;
            return false;
        }
        Status = 0;
        progress.Cur = getSymbol();
        return true;
    }

    template <typename GetSymbol, typename GetRunLength, typename PutRun, typename TakeLiterals = NoBulkLiterals>
    void DecodeUpTo(TProgress& progress, std::uint32_t count, std::uint32_t limit, GetSymbol&& getSymbol,
                    GetRunLength&& getRunLength, PutRun&& putRun, TakeLiterals&& takeLiterals = {})
    {
        std::uint32_t written = progress.Written;
        std::uint32_t equalRun = progress.EqualRun;
        std::uint8_t cur = progress.Cur;
        while (written < limit) {
            written += takeLiterals(cur, equalRun, count - written);
            const std::uint8_t sym = cur;
            std::uint32_t copies;  // extra + 1, cut to what count still allows
            if (Threshold[sym] == equalRun) {
                const std::uint32_t extra = getRunLength();
                const std::uint32_t left = count - written;
                if (extra < left - 1) {
                    copies = extra + 1;
                    cur = getSymbol();
                } else {
                    copies = left;
                    if (extra > left - 1)
                        Status = StatusRunCut;
                }
                equalRun = 0;
            } else {
                if (written + 1 < count)
                    cur = getSymbol();
                equalRun = (cur == sym) ? equalRun + 1 : 0;
                copies = 1;
            }
            written += copies;
            putRun(sym, copies);
        }
        progress = {written, equalRun, cur};
    }

    // The smallest threshold: fewer equal symbols in a row never end a group.
    std::uint32_t LowestThreshold() const;

    // The bulk literals of a source whose symbols are the bytes of a buffer,
    // for DecodeWith: with cur the byte src[in - 1] and equalRun its count,
    // copies whole words of 8 symbols to dst[out] on while no group can end
    // in them (below lowest), the source holds them and count leaves a
    // symbol after them; in, out, cur and equalRun end as the rule leaves them.
    static std::uint32_t TakeLiteralWords(const std::uint8_t* src, std::uint32_t srcSize, std::uint32_t& in,
                                          std::uint8_t* dst, std::uint32_t& out, std::uint8_t& cur,
                                          std::uint32_t& equalRun, std::uint32_t left, std::uint32_t lowest)
    {
        if constexpr (std::endian::native != std::endian::little)
            return 0;
        constexpr std::uint32_t Word = 8;
        std::uint32_t taken = 0;
        while (equalRun + Word < lowest && left - taken > Word && srcSize - in >= Word) {
            std::uint64_t w;
            std::memcpy(&w, src + in, Word);
            std::memcpy(dst + out, src + in - 1, Word);
            // A zero byte where a symbol equals the one before it; the top
            // zero bytes are the equal run the word ends in.
            const std::uint64_t change = w ^ (w << 8 | cur);
            equalRun = change == 0 ? equalRun + Word : static_cast<std::uint32_t>(std::countl_zero(change)) / 8;
            cur = static_cast<std::uint8_t>(w >> 56);
            in += Word;
            out += Word;
            taken += Word;
        }
        return taken;
    }

    // The bulk literals of the same source where every byte from in on is
    // zero, and past its end symbols and run lengths read as zero (noting
    // overrun): the rule then puts zeros, countBytes bytes of run length
    // after each group of Threshold[0] + 1. Puts all but the last of the
    // left symbols at dst[out] on, with cur the byte src[in - 1], here 0;
    // in, out, equalRun and overrun end as the rule leaves them.
    std::uint32_t TakeZeroTail(std::uint32_t srcSize, std::uint32_t& in, std::uint8_t* dst, std::uint32_t& out,
                               std::uint32_t& equalRun, std::uint32_t left, std::uint32_t countBytes,
                               bool& overrun) const
    {
        const std::uint32_t group = Threshold[0] + 1u;
        if (left < 2 || equalRun >= group)
            return 0;
        const std::uint32_t taken = left - 1;
        // Each symbol pulls the next; each that completes a group pulls a
        // run length first. A failed pull moves nothing, and a symbol follows
        // every run length, so a source too short is read to its end.
        const std::uint64_t groups = (std::uint64_t{equalRun} + taken) / group;
        const std::uint64_t demand = taken + groups * countBytes;
        if (demand > srcSize - in) {
            overrun = true;
            in = srcSize;
        } else {
            in += static_cast<std::uint32_t>(demand);
        }
        std::memset(dst + out, 0, taken);
        out += taken;
        equalRun = static_cast<std::uint32_t>((std::uint64_t{equalRun} + taken) % group);
        return taken;
    }

private:
    TRLE();
};
