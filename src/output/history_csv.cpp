#include "output/history_csv.hpp"

#include "support/format.hpp"

namespace velmora {

const char* HistoryCsv::header() {
    return "replication,generation,best_criterion,mean_criterion,best_fitness,mean_fitness,"
           "evaluations,estimations,seconds";
}

CsvFile& HistoryCsv::file() {
    if (!file_) {
        file_.emplace(path_, "History file");
        file_->line(header());
    }
    return *file_;
}

std::string HistoryCsv::close() {
    return file().close();
}

void HistoryCsv::add(const RunProgress& bred) {
    std::string row = strprintf("%d,%d,", bred.replication, bred.generation);
    // A population with no estimable member has no best criterion.
    row += (bred.best_fitness > 0.0 ? csv_number(bred.best_criterion) : std::string()) + ",";
    row += csv_number(bred.mean_criterion) + ",";
    row += csv_number(bred.best_fitness) + ",";
    row += csv_number(bred.mean_fitness) + ",";
    row += strprintf("%d,%lld,%.6f", bred.nevals, bred.estimations, bred.seconds);
    file().line(row);
}

}  // namespace velmora
