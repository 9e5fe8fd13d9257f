// The replays spread over worker processes. The stand-in holds one installed machine per process,
// so each worker is a process of its own: worker w of N replays the descriptions w, w + N, ...,
// and the rows are read back from the workers in turn, which gives them in input order with a
// few rows in flight at most.
#pragma once

#include "decision_row.h"
#include "machine_list.h"

#include <functional>
#include <string>
#include <vector>

// What a worker does with one description: its row, and its log written where asked.
typedef std::function<DecisionRow(const Description&)> ReplayStep;
// Takes each row in input order; false stops the run.
typedef std::function<bool(const DecisionRow&)> RowSink;

// Runs every description through `replay` in `workers` processes (in this one for 1) and hands
// the rows to `sink` in order. An error text when a worker could not be started or ended before
// its last row (a crash); empty otherwise.
std::string ReplayInWorkers(const std::vector<Description>& descriptions, int workers,
                            const ReplayStep& replay, const RowSink& sink);
