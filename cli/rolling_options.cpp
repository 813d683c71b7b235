#include "cli/rolling_options.hpp"

namespace velmora::cli {

void bind_rolling_options(options::Bindings& bindings, rolling::RollingRequest& request) {
    bindings.bind(options::rolling, request.origins);
    bindings.bind(options::rolling_window, request.window);
    bindings.bind(options::rolling_csv, request.csv);
}

void prepare_rolling(rolling::RollingRequest& request, const AnalysisRequest& analysis, int rows) {
    request.horizon = analysis.forecast > 0 ? analysis.forecast : 1;
    request.paths = analysis.paths;
    rolling::validate_rolling(request, rows);
}

}  // namespace velmora::cli
