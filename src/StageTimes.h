// Time per pipeline stage, in a build with UNTWX_STAGE_TIMES only (process
// processor time, so that other load on the machine counts little): printed
// to standard error when the command ends. Elsewhere every call is empty.
#pragma once

#include <cstdint>
#include <ctime>

struct TStageTimes {
    enum Stage { Entropy, LinkBuild, Walk, SecondStage, BlockCRC, Stages };
#ifdef UNTWX_STAGE_TIMES
    static constexpr bool Enabled = true;
    std::clock_t Mark = 0;
    std::clock_t Spent[Stages] = {};
    // What each stage went through: symbols for the entropy phase, bytes else.
    std::uint64_t Units[Stages] = {};
    void Start() { Mark = std::clock(); }
    void Count(Stage stage, std::uint64_t units) { Units[stage] += units; }
    void Stop(Stage stage)
    {
        const std::clock_t now = std::clock();
        Spent[stage] += now - Mark;
        Mark = now;
    }
    void Report() const;
#else
    static constexpr bool Enabled = false;
    void Start() {}
    void Count(Stage, std::uint64_t) {}
    void Stop(Stage) {}
    void Report() const {}
#endif
};
