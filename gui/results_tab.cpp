#include "results_tab.hpp"

#include <exception>

#include "data/series.hpp"

namespace velmora::gui {

std::shared_ptr<const RunSeries> load_run_series(const RunConfig& config) {
    try {
        const double_matrix serie =
            read_course_file(config.course_file, config.n_oss, config.n_comp);
        auto series = std::make_shared<RunSeries>();
        series->n_oss = config.n_oss;
        series->k = config.n_comp;
        series->values.reserve(static_cast<std::size_t>(config.n_oss) *
                               static_cast<std::size_t>(config.n_comp));
        for (int t = 1; t <= config.n_oss; ++t) {
            for (int c = 1; c <= config.n_comp; ++c) {
                series->values.push_back(serie[t][c]);
            }
        }
        return series;
    } catch (const std::exception&) {
        return nullptr;
    }
}

QString component_name(const SeriesInfo& info, int c) {
    return QString::fromStdString(info.component(c));
}

}  // namespace velmora::gui
