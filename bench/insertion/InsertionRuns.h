#pragma once

#include <benchmark/benchmark.h>

#include <QString>

#include "insertion/TextInsertionTypes.h"

namespace tessvale::bench {

struct InsertionRunFigures
{
    int runs = 0;
    int exactRuns = 0;
    // Time spent inside the insertions only.
    double seconds = 0;
};

// For every iteration of state: starts a fresh text-field target (a helper program that reports what
// its field holds), waits until it has the keyboard focus, inserts text with driver through the whole
// service (activation, focus restore, readiness, the driver) and checks what arrived. Needs a desktop.
InsertionRunFigures runInsertions(
    benchmark::State& state, TextInsertionDriver driver, const QString& targetProgram, const QString& text);

} // namespace tessvale::bench
