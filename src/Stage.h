// A stage owned by the reader: Done, then freed.
#pragma once

#include <memory>

template <typename T>
struct TStageRelease {
    void operator()(T* stage) const
    {
        stage->Done();
        delete stage;
    }
};
template <typename T>
using TStage = std::unique_ptr<T, TStageRelease<T>>;
