#pragma once
// Refinement of a structure the genetic search found: a descent over
// thresholds and neighbouring structures that stops when no move improves the
// criterion. Every step it takes is confirmed by the estimator, so the
// result's criterion is exactly what estimate_criterion (and `velmora fit`)
// gives for it, and it is never worse than the start's.
//
// Moves, in this order each round:
//  - each threshold of the current structure over every split of its
//    threshold variable, the others fixed (threshold_sweep.hpp);
//  - the neighbouring structures: another component (any of the series) or
//    lag (1..6) of a threshold variable, one regime more or fewer (2..4), the
//    other type_model, one threshold variable instead of two and back; each
//    with its thresholds swept again. Neighbours are screened with one sweep
//    round each, the most promising descended fully, the best confirmed.
// A descent ends in the basin it starts in, so besides the start it also
// descends from a few other structures (RefineOptions) and keeps the best.
// The least observations per regime hold for every candidate, as in the search.
//
// With an information criterion every candidate is scored on the same rows,
// so the linear VAR (one regime, the same deterministic terms) is a
// candidate too: when its criterion is below the best threshold model's, it
// is the result.

#include <atomic>
#include <functional>
#include <vector>

#include "model/estimate.hpp"
#include "model/problem.hpp"
#include "model/structure.hpp"
#include "support/executor.hpp"

namespace velmora {

// Where a refinement stands: the descents finished of all it makes, and the
// steps and criterion of the one under way on the calling thread.
struct RefineProgress {
    int descents_done = 0;
    int descents = 0;
    int steps = 0;
    double criterion = 0.0;
};

struct RefineOptions {
    int threads = 1;         // neighbours screened in parallel; the result does not depend on it
    int max_steps = 100;     // accepted steps at most
    int shortlist = 4;       // neighbours descended fully after screening
    int screen_stride = 12;  // neighbours are screened on every screen_stride-th split
    // Further descents, besides the one from the start: these structures,
    // and the scan_starts best two-regime models of one threshold variable
    // over every component and lag. The best descent wins.
    std::vector<ModelStructure> extra_starts;
    int scan_starts = 2;
    // The columns that may serve as threshold variables (beyond n_comp:
    // external ones); empty: every component of the series. The start's own
    // are kept whatever this says.
    std::vector<int> threshold_components;
    // Score the linear VAR beside the threshold models (only with an
    // information criterion: the classic one does not compare them on the
    // same rows).
    bool linear_candidate = true;
    // Checked between the moves: once set, the refinement ends without a
    // result (RefineResult::stopped).
    const std::atomic<bool>* stop = nullptr;
    // Told of each neighbourhood examined, from the calling thread only.
    std::function<void(const RefineProgress&)> progress;
    // Shares the descents out (over processes, say); null: this process's
    // threads. The result is the same either way.
    TaskExecutor* executor = nullptr;
};

struct RefineResult {
    ModelStructure start;
    double start_criterion = 0.0;  // exact; 0.0 when the start is not estimable
    ModelStructure structure;      // the refined structure
    double criterion = 0.0;        // exact; equals start_criterion when nothing improved
    FittedModel estimate;          // of the refined structure
    // The best threshold model found, and its criterion: the refined
    // structure itself unless the linear VAR won.
    ModelStructure best_threshold;
    double best_threshold_criterion = 0.0;
    double linear_criterion = 0.0;  // 0.0 when the linear VAR was not scored
    bool linear_won() const { return is_linear(structure); }
    int steps = 0;             // accepted moves
    int rounds = 0;            // neighbourhoods examined, over all descents
    int starts = 1;            // descents made
    long long candidates = 0;  // splits screened
    long long exact_estimates = 0;
    bool stopped = false;  // options.stop ended it: structure and estimate are not set
    double improvement() const { return start_criterion - criterion; }
};

// Throws std::invalid_argument when options.threads < 1.
RefineResult refine(const ModelProblem& problem, const ModelStructure& start,
                    const RefineOptions& options = {});

// The structures one step away from s (thresholds at their starting values,
// not yet swept), in a fixed order, whose threshold variables are among
// `components` (empty: any). Exposed for tests.
std::vector<ModelStructure> neighbour_structures(const ModelProblem& problem,
                                                 const ModelStructure& s,
                                                 const std::vector<int>& components = {});

}  // namespace velmora
