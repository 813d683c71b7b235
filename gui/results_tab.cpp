#include "results_tab.hpp"

#include <algorithm>

#include "data/series.hpp"

namespace velmora::gui {

std::shared_ptr<const RunSeries> make_run_series(const LoadedSeries& series, int rows) {
    auto out = std::make_shared<RunSeries>();
    out->n_oss = std::min(rows, series.n_oss());
    out->k = series.n_comp();
    out->info = series.info;
    out->values.reserve(static_cast<std::size_t>(out->n_oss) * static_cast<std::size_t>(out->k));
    for (int t = 1; t <= out->n_oss; ++t) {
        for (int c = 1; c <= out->k; ++c) {
            out->values.push_back(series.serie[t][c]);
        }
    }
    return out;
}

QString missing_analysis_reason(const RunOutcome& outcome, bool asked, const QString& what) {
    if (!asked) {
        return {};
    }
    const RunResult& r = outcome.result;
    switch (outcome.status) {
        case RunOutcome::Status::failed:
            return QObject::tr("The run failed before the %1.").arg(what);
        case RunOutcome::Status::stopped:
            return r.refinement_stopped
                       ? QObject::tr(
                             "The run was stopped during the refinement, before the "
                             "reported model and its %1.")
                             .arg(what)
                       : QObject::tr(
                             "The run was stopped before its search ended, so before "
                             "the %1.")
                             .arg(what);
        case RunOutcome::Status::completed:
            break;
    }
    const FittedModel& reported = r.refined ? r.refined->model.model : r.best.model;
    if (!reported.estimated()) {
        return QObject::tr("The reported model could not be estimated: no %1.").arg(what);
    }
    if (outcome.analyses.analysis.stopped) {
        return QObject::tr("Stop ended the %1 early.").arg(what);
    }
    return {};
}

QString component_name(const SeriesInfo& info, int c) {
    return QString::fromStdString(info.component(c));
}

}  // namespace velmora::gui
