// velmora-charts: draws the desktop program's charts of a run or a fit into
// files, without a display. `velmora --charts DIR` writes what to draw as
// JSON and runs this program; the charts come from the same pages as in the
// window, so a chart saved from the command line looks as it does there.
//
//   velmora-charts INPUT.json DIR
//
// Writes SVG and PNG files into DIR and lists them on standard output, one
// per line; exits with 1 and a message on standard error when the input
// cannot be read or a file cannot be written.

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QString>

#include <cmath>
#include <cstdio>
#include <exception>
#include <fstream>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "chart_view.hpp"
#include "forecast_tab.hpp"
#include "girf_tab.hpp"
#include "regimes_tab.hpp"
#include "results_tab.hpp"
#include "search_tab.hpp"

namespace {

using nlohmann::json;
using namespace velmora;
using namespace velmora::gui;

double number(const json& value) {
    return value.is_number() ? value.get<double>() : std::numeric_limits<double>::quiet_NaN();
}

std::vector<double> numbers(const json& values) {
    std::vector<double> out;
    for (const json& v : values) {
        out.push_back(number(v));
    }
    return out;
}

using Table = std::vector<std::vector<double>>;
using Table3 = std::vector<Table>;

Table table(const json& rows) {
    Table out;
    for (const json& row : rows) {
        out.push_back(numbers(row));
    }
    return out;
}

Table3 table3(const json& blocks) {
    Table3 out;
    for (const json& block : blocks) {
        out.push_back(table(block));
    }
    return out;
}

ForecastErrors errors(const json& e) {
    ForecastErrors out;
    out.rmse = table(e.at("rmse"));
    out.mae = table(e.at("mae"));
    out.rmse_all = numbers(e.at("rmse_all"));
    out.mae_all = numbers(e.at("mae_all"));
    return out;
}

// The run's outcome as far as the pages need it, from the document.
struct Input {
    RunOutcome outcome;
    std::vector<RunProgress> generations;
    int maxgen = 0;
};

Input read_input(const json& doc) {
    Input in;
    RunOutcome& o = in.outcome;
    o.status = RunOutcome::Status::completed;
    const json& s = doc.at("series");
    SeriesInfo info;
    info.file = s.value("file", std::string());
    info.component_names = s.at("names").get<std::vector<std::string>>();
    info.has_names = !info.component_names.empty();
    info.row_labels = s.at("labels").get<std::vector<std::string>>();
    info.label_name = s.value("label_name", std::string());
    if (s.contains("external_columns")) {
        info.file_columns = s.at("file_columns").get<std::vector<int>>();
        info.external_columns = s.at("external_columns").get<std::vector<int>>();
        info.external_names = s.at("external_names").get<std::vector<std::string>>();
    }
    const json& values = s.at("values");
    const int rows = static_cast<int>(values.size());
    const int k = rows > 0 ? static_cast<int>(values[0].size()) : 0;
    auto run_series = std::make_shared<RunSeries>();
    run_series->k = k;
    auto all_rows = std::make_shared<double_matrix>(1, std::max(rows, 1), 1, std::max(k, 1));
    for (int t = 1; t <= rows; ++t) {
        for (int c = 1; c <= k; ++c) {
            const double v =
                number(values[static_cast<std::size_t>(t - 1)][static_cast<std::size_t>(c - 1)]);
            (*all_rows)[t][c] = v;
        }
    }
    info.rows_read = rows;

    const json& a = doc.at("analysis");
    AnalysisResult& analysis = o.analyses.analysis;
    analysis.fit_rows = a.value("fit_rows", rows);
    analysis.rows = a.value("rows", rows);
    analysis.seed = a.value("seed", std::uint64_t{0});
    // The pages draw the series the model was fitted on, as after a run.
    run_series->n_oss = std::min(rows, analysis.fit_rows > 0 ? analysis.fit_rows : rows);
    for (int t = 1; t <= run_series->n_oss; ++t) {
        for (int c = 1; c <= k; ++c) {
            run_series->values.push_back((*all_rows)[t][c]);
        }
    }
    if (a.contains("forecast")) {
        const json& f = a.at("forecast");
        ForecastResult r;
        r.horizon = f.at("horizon").get<int>();
        r.paths = f.at("paths").get<int>();
        r.mean = table(f.at("mean"));
        r.median = table(f.at("median"));
        r.q05 = table(f.at("q05"));
        r.q95 = table(f.at("q95"));
        r.no_shock = table(f.at("no_shock"));
        r.regime_share = table(f.at("regime_share"));
        r.k = r.mean.empty() ? 0 : static_cast<int>(r.mean[0].size());
        analysis.forecast = std::move(r);
    }
    if (a.contains("holdout")) {
        const json& h = a.at("holdout");
        HoldoutResult r;
        r.fit_rows = h.at("fit_rows").get<int>();
        r.holdout = h.at("holdout").get<int>();
        r.horizon = h.at("horizon").get<int>();
        r.forecasts = h.at("forecasts").get<std::vector<int>>();
        r.threshold = errors(h.at("threshold"));
        r.linear = errors(h.at("linear"));
        analysis.holdout = std::move(r);
    }
    if (a.contains("girf")) {
        const json& g = a.at("girf");
        GirfResult r;
        r.horizon = g.at("horizon").get<int>();
        r.histories = g.at("histories").get<int>();
        r.repetitions = g.at("repetitions").get<int>();
        r.k = k;
        for (const json& item : g.at("regimes")) {
            GirfRegime regime;
            regime.regime = item.at("regime").get<int>();
            regime.times_available = item.value("times_available", 0);
            if (item.contains("mean")) {
                regime.mean = table3(item.at("mean"));
                regime.q05 = table3(item.at("q05"));
                regime.q95 = table3(item.at("q95"));
            }
            r.regimes.push_back(std::move(regime));
        }
        analysis.girf = std::move(r);
    }
    o.analyses.rows_read = all_rows;

    // The series the model was fitted on keeps the labels of its rows.
    SeriesInfo fitted = info;
    if (fitted.row_labels.size() > static_cast<std::size_t>(run_series->n_oss)) {
        fitted.row_labels.resize(static_cast<std::size_t>(run_series->n_oss));
    }
    run_series->info = fitted;
    o.result.series = fitted;
    o.series = run_series;
    o.config.n_oss = run_series->n_oss;
    o.config.n_comp = k;

    const json& m = doc.at("model");
    if (!m.is_null()) {
        FittedModel model;
        model.status = EstimateStatus::estimated;
        ModelStructure st;
        st.threshold_variables = m.at("threshold_variables").get<int>();
        const auto components = m.at("components").get<std::vector<int>>();
        const auto lags = m.at("lags").get<std::vector<int>>();
        const int regimes = m.at("regimes").get<int>();
        if (st.threshold_variables == 0) {
            // The linear VAR: no threshold variable to chart.
        } else if (st.threshold_variables == 1) {
            st.one.which_serie = components.at(0);
            st.one.threshold_lag = lags.at(0);
            st.one.n_regime = regimes;
        } else {
            st.two.which_serie1 = components.at(0);
            st.two.which_serie2 = components.at(1);
            st.two.Ritardo1 = lags.at(0);
            st.two.Ritardo2 = lags.at(1);
            st.two.n_regime = regimes;
            st.two.type_model = m.value("type_model", 0);
        }
        model.given = st;
        model.used = st;
        model.n_regime = regimes;
        model.m = m.at("order").get<int>();
        model.k = k;
        model.n_oss = m.value("n_oss", run_series->n_oss);
        const auto thresholds = numbers(m.at("thresholds"));
        for (std::size_t i = 0; i < thresholds.size() && i < 3; ++i) {
            model.thresholds[i] = thresholds[i];
        }
        model.threshold_variable = numbers(m.at("threshold_variable"));
        model.threshold_variable2 = numbers(m.at("threshold_variable2"));
        model.regime_of_time = m.at("regime_of_time").get<std::vector<int>>();
        StructureSummary summary;
        summary.structure = st;
        summary.model = std::move(model);
        if (m.value("refined", false)) {
            o.result.best = summary;
            RefinedModel refined;
            refined.model = std::move(summary);
            o.result.refined = std::move(refined);
        } else {
            o.result.best = std::move(summary);
        }
        o.result.best_codes = {0};  // a model to show
    }

    const json& search = doc.at("search");
    if (!search.is_null()) {
        in.maxgen = search.at("maxgen").get<int>();
        for (const json& g : search.at("generations")) {
            RunProgress p;
            p.replication = g.at(0).get<int>();
            p.generation = g.at(1).get<int>();
            p.maxgen = in.maxgen;
            p.best_criterion = number(g.at(2));
            p.mean_criterion = number(g.at(3));
            p.best_fitness = number(g.at(4));
            in.generations.push_back(p);
        }
        o.generations = in.generations.empty() ? 0 : in.generations.back().generation;
    }
    o.config.maxgen = in.maxgen;
    return in;
}

// A file name's part from a component's name: letters, digits, '-' and '_'.
QString slug(const QString& name) {
    QString out;
    for (const QChar c : name) {
        out += c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_')
                   ? c
                   : QLatin1Char('_');
    }
    return out.isEmpty() ? QStringLiteral("component") : out;
}

class Writer {
  public:
    explicit Writer(QDir dir) : dir_(std::move(dir)) {}

    void save(ChartView* view, const QString& stem) {
        // The size the pictures read well at; the page's own layout is not
        // shown.
        view->resize(900, 520);
        // Without an event loop, what a page replaced when it redrew (axes,
        // legend entries) waits for deletion and layout in the queue.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        for (const char* suffix : {".svg", ".png"}) {
            const QString path = dir_.filePath(stem + QString::fromLatin1(suffix));
            if (!view->save(path)) {
                throw std::runtime_error("Chart file " + path.toStdString() +
                                         " could not be written");
            }
            std::printf("%s\n", path.toLocal8Bit().constData());
        }
    }

  private:
    QDir dir_;
};

int draw(const std::string& input_path, const QString& directory) {
    std::ifstream file(input_path);
    if (!file) {
        throw std::runtime_error("Chart input " + input_path + " could not be opened");
    }
    const json doc = json::parse(file);
    Input in = read_input(doc);
    if (!QDir().mkpath(directory)) {
        throw std::runtime_error("Chart folder " + directory.toStdString() +
                                 " could not be created");
    }
    Writer writer{QDir(directory)};
    const RunOutcome& outcome = in.outcome;

    if (!in.generations.empty()) {
        SearchTab search;
        search.run_started(outcome.config);
        search.add_generations(in.generations);
        search.run_finished(outcome);
        writer.save(search.chart_view(), QStringLiteral("search-course"));
    }
    if (!outcome.result.best_codes.empty()) {
        RegimesTab regimes;
        regimes.run_finished(outcome);
        const int threshold_charts = outcome.result.best.structure.threshold_variables;
        const auto& charts = regimes.charts();
        for (int i = 0; i < static_cast<int>(charts.size()); ++i) {
            // The threshold variables' charts first, then each component's.
            const int c = i - threshold_charts + 1;
            writer.save(charts[static_cast<std::size_t>(i)],
                        c >= 1 ? QStringLiteral("regimes-component-%1-%2")
                                     .arg(c)
                                     .arg(slug(component_name(outcome.result.series, c)))
                        : threshold_charts == 1 ? QStringLiteral("regimes")
                                                : QStringLiteral("regimes-%1").arg(i + 1));
        }
    }
    const AnalysisResult& analysis = outcome.analyses.analysis;
    if (analysis.forecast) {
        ForecastTab forecast;
        forecast.run_finished(outcome);
        for (int c = 1; c <= analysis.forecast->k; ++c) {
            forecast.component_chooser()->setCurrentIndex(c - 1);
            writer.save(forecast.chart_view(),
                        QStringLiteral("forecast-%1-%2")
                            .arg(c)
                            .arg(slug(component_name(outcome.result.series, c))));
        }
    }
    if (analysis.girf) {
        GirfTab girf;
        girf.run_finished(outcome);
        for (int shock = 1; shock <= analysis.girf->k; ++shock) {
            girf.shock_chooser()->setCurrentIndex(shock - 1);
            for (std::size_t c = 0; c < girf.charts().size(); ++c) {
                writer.save(girf.charts()[c], QStringLiteral("girf-shock-%1-response-%2")
                                                  .arg(shock)
                                                  .arg(static_cast<int>(c) + 1));
            }
        }
    }
    return 0;
}

}  // namespace

// Qt's own notes (a missing runtime directory under a bare environment, say)
// are not the user's concern; failures are reported by this program.
static void quiet_handler(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    }
}

int main(int argc, char** argv) {
    // No display is needed: the charts are drawn into files.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    if (argc != 3) {
        std::fprintf(stderr, "Usage: velmora-charts INPUT.json DIR\n");
        return 2;
    }
    qInstallMessageHandler(quiet_handler);
    QApplication app(argc, argv);
    try {
        return draw(argv[1], QString::fromLocal8Bit(argv[2]));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
