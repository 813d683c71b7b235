#pragma once
// The read-only description of one estimation problem: the observed series and
// the sizes every estimate of a run shares. Estimators, the objective and the
// final report all take it by const reference; nothing in it changes while a
// search is under way.

#include <climits>
#include <filesystem>
#include <optional>
#include <vector>

#include "model/criterion.hpp"
#include "model/definition.hpp"
#include "model/design.hpp"
#include "numeric/arrays.hpp"
#include "options/option_table.hpp"
#include "support/console.hpp"

namespace velmora {

struct ModelProblem {
    // Rows 1..n_oss, columns 1..n_comp; [t][k] is component k at time t.
    // Columns beyond n_comp are external threshold columns: read, lagged and
    // used only to split the regimes, never modelled.
    const double_matrix* serie_matrix = nullptr;
    int n_oss = 0;
    int n_comp = 0;
    // The threshold variables listed (--threshold-columns), as columns of
    // serie_matrix; the search codes the first two. Empty: components 1 and
    // 2 in the search, any component in the refinement.
    std::vector<int> threshold_components;
    // The file's column of each external column: the number the reports give
    // an external threshold variable.
    std::vector<int> external_columns;
    // Columns a threshold variable may name: the components and the
    // external columns.
    int threshold_columns() const {
        return serie_matrix != nullptr && serie_matrix->col_hi() > n_comp ? serie_matrix->col_hi()
                                                                          : n_comp;
    }
    // The model: its order, terms, least regime and criterion, validated
    // where the run began.
    ModelDefinition model;
    // The row number in the data read of the row before time 1: the trend of
    // time t is trend_origin + t.
    int trend_origin = 0;
    // With the information criteria the regressions start at first_row().
    int first_row() const { return model.first_row(); }
    // Each regime's order 1..m chosen by the criterion, the structures' own
    // orders ignored (an information criterion only: every order is scored
    // on the same rows). The refinement's choice, not the search's.
    bool select_orders = false;
    // The best-model report of a search (write_model_report): the replication
    // shown in the one-threshold header, the folder of the result files, and
    // where "File could not be opened\n" goes (dropped when null). The
    // estimators themselves write nothing.
    int replication = 1;
    std::filesystem::path result_dir = ".";
    Console* console = nullptr;
};

constexpr int kMaxLag = 6;

// Checks what the estimators read beyond the model's definition, which the
// run validated once where it began: a series present and as large as the
// sizes say. Throws ConfigError with a message a user can act on.
void check_series(const ModelProblem& problem);

}  // namespace velmora
