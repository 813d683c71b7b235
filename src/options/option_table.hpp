#pragma once
// Every option of `velmora run`, `velmora fit` and the parameter dialog,
// declared once. The command line builds its options from these rows (help,
// default, placeholder, range check), the JSON summaries echo them under
// "parameters", and the dialog takes its labels and bounds from them, so an
// option is added by adding a row (and binding it to the field it fills).
//
// The structs that hold the values take their defaults from the rows, so a
// default shown by the help is the one a run uses.

#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <string_view>

namespace velmora::options {

enum class Kind {
    integer,  // a whole number (also when held as a double)
    real,     // a floating-point number
    text,     // a file name or other text
    list,     // comma separated values
    toggle,   // a flag without a value
    choice,   // one name of a fixed list
};

// How the command line refuses a value outside a row's bounds while parsing
// (none: the value is checked later, with a message that names the term). A
// choice is matched either ignoring case with the parser's own message
// (member) or exactly, refused as "X is not one of ..." (one_of).
enum class ParserCheck { none, range, whole_number, non_negative, unsigned_64, member, one_of };

struct Bounds {
    double low = -std::numeric_limits<double>::infinity();
    double high = std::numeric_limits<double>::infinity();
    constexpr bool allows(double value) const { return value >= low && value <= high; }
};

// Where an option appears.
inline constexpr unsigned kRun = 1U;
inline constexpr unsigned kFit = 2U;
inline constexpr unsigned kDialog = 4U;

struct OptionRow {
    std::string_view name;  // the command line's flag, "--popsize"
    Kind kind = Kind::integer;
    double default_number = 0.0;    // numbers and toggles
    std::string_view default_text;  // text and choices
    std::optional<Bounds> bounds;
    ParserCheck check = ParserCheck::none;
    // A choice's help shows its list of names where the text holds "{}".
    std::string_view help;
    std::string_view json_key;      // the key under "parameters"
    std::string_view dialog_label;  // empty: no label of its own in the dialog
    unsigned where = kRun | kFit;
    std::string_view type_name;  // the help's placeholder; empty: from the value's type
    bool show_default = true;
    // A toggle that turns something off ("--no-cache") is echoed as what
    // stays on ("cache": true when the flag is absent).
    bool echo_negated = false;
    // Text that names a column by its name or number echoes a whole number
    // as a number ("--component 3" as 3, "--component VIX" as "VIX").
    bool echo_numbers = false;
    int count = 0;  // values a list takes exactly; 0: any number

    constexpr bool on(unsigned place) const { return (where & place) != 0; }
    constexpr int default_int() const { return static_cast<int>(default_number); }
};

// Each row names only what differs from the defaults above; GCC would warn
// about every field a designated initializer leaves out.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

// ---- The search (run only, and the dialog) -------------------------------

inline constexpr OptionRow selection{
    .name = "--selection",
    .kind = Kind::choice,
    .default_text = "roulette",
    .check = ParserCheck::member,
    .help =
        "How parents are chosen: roulette (roulette wheel), remainder (stochastic "
        "remainder), tournament (best of --tourneysize random members) or sus "
        "(stochastic universal sampling)",
    .json_key = "selection",
    .where = kRun | kDialog,
    .type_name = "NAME"};
inline constexpr OptionRow tourneysize{
    .name = "--tourneysize",
    .help =
        "Members competing in each tournament; with --selection tournament it must lie "
        "between 1 and the population size",
    .json_key = "tourneysize",
    .where = kRun | kDialog};
inline constexpr OptionRow crossover{
    .name = "--crossover",
    .kind = Kind::choice,
    .default_text = "one-point",
    .check = ParserCheck::member,
    .help =
        "How two parents mix their structures: one-point, two-point or uniform (exchanges "
        "happen only between whole fields)",
    .json_key = "crossover",
    .where = kRun | kDialog,
    .type_name = "NAME"};
inline constexpr OptionRow scaling{
    .name = "--scaling",
    .kind = Kind::choice,
    .default_text = "linear",
    .check = ParserCheck::member,
    .help =
        "How fitness is rescaled before selection: linear (uses --scalemult), boltzmann "
        "(uses --beta), autocontrol (automatic control of the selection pressure; needs "
        "--selection sus), sigma (sigma truncation, uses --sigma-trunc) or window (uses "
        "--scaling-window)",
    .json_key = "scaling",
    .where = kRun | kDialog,
    .type_name = "NAME"};
inline constexpr OptionRow scalemult{
    .name = "--scalemult",
    .kind = Kind::real,
    .default_number = 1.2,
    .help =
        "Linear scaling: how many times the average fitness the best member gets; must be "
        "greater than 1",
    .json_key = "scalemult",
    .where = kRun | kDialog};
inline constexpr OptionRow beta{
    .name = "--beta",
    .kind = Kind::real,
    .help =
        "Boltzmann scaling: the temperature constant, 0 or more (automatic control only "
        "logs it)",
    .json_key = "beta",
    .where = kRun | kDialog};
inline constexpr OptionRow sigma_trunc{
    .name = "--sigma-trunc",
    .kind = Kind::real,
    .help =
        "Sigma truncation: how many standard deviations below the mean fitness are cut "
        "off; must not be 0",
    .json_key = "sigma_trunc",
    .where = kRun | kDialog};
inline constexpr OptionRow scaling_window{
    .name = "--scaling-window",
    .help =
        "Window scaling: over how many generations the worst fitness is remembered, 0 or "
        "more",
    .json_key = "scaling_window",
    .where = kRun | kDialog};
inline constexpr OptionRow maxgen{
    .name = "--maxgen",
    .default_number = 100,
    .help =
        "Number of generations to breed (0 evaluates only the random start population and "
        "reports no model)",
    .json_key = "maxgen",
    .dialog_label = "Number Generation",
    .where = kRun | kDialog};
inline constexpr OptionRow pcross{.name = "--pcross",
                                  .kind = Kind::real,
                                  .default_number = 0.9,
                                  .help = "Probability that two parents are crossed (0 to 1)",
                                  .json_key = "pcross",
                                  .dialog_label = "Crossover Probability",
                                  .where = kRun | kDialog};
inline constexpr OptionRow pmutation{
    .name = "--pmutation",
    .kind = Kind::real,
    .default_number = 0.001,
    .help = "Probability that a field of a child is mutated (0 to 1)",
    .json_key = "pmutation",
    .dialog_label = "Mutation Probability",
    .where = kRun | kDialog};
inline constexpr OptionRow popsize{
    .name = "--popsize",
    .default_number = 50,
    .help =
        "Number of candidate structures in each generation (an odd number is raised by "
        "one, the least is 2)",
    .json_key = "popsize",
    .dialog_label = "Size of Population",
    .where = kRun | kDialog};
// Shown and kept by the dialog, without a part in a run.
inline constexpr OptionRow crowding{
    .name = "crowding", .dialog_label = "Crowding", .where = kDialog};
inline constexpr OptionRow incest_reduction{
    .name = "incest-reduction", .dialog_label = "Incest Reduction", .where = kDialog};

// ---- The series and the model (run, fit and the dialog) ------------------

inline constexpr OptionRow course_file{
    .name = "--course-file",
    .kind = Kind::text,
    .default_text = "TassidiCambio.txt",
    .help =
        "File holding the series: numbers separated by blanks or line ends, one time point "
        "after another; or comma, semicolon or tab separated text with an optional header "
        "row of names and an optional first column of labels (a relative name is taken from "
        "the current directory)",
    .json_key = "course_file",
    .dialog_label = "Course File",
    .where = kRun | kFit | kDialog};
inline constexpr OptionRow columns{
    .name = "--columns",
    .kind = Kind::list,
    .help =
        "Components to read, in this order: header names or 1-based column numbers of the "
        "file, comma separated (default: every column of numbers). Only components 1 and 2 "
        "can be threshold variables of the search: put the candidates first",
    .json_key = "columns",
    .type_name = "NAME,...",
    .show_default = false};
inline constexpr OptionRow threshold_columns{
    .name = "--threshold-columns",
    .kind = Kind::list,
    .help =
        "Columns that may serve as threshold variables, instead of components 1 and 2: header "
        "names or 1-based column numbers, comma separated. A column that is not a component "
        "is read only to split the regimes (an external threshold variable). The search codes "
        "the first two listed, the refinement may choose any of them",
    .json_key = "threshold_columns",
    .type_name = "NAME,...",
    .show_default = false};
// The threshold-position fields of the chromosome are at most 17 bits wide;
// a position code of 0 stands for time 30 in the one-threshold model.
inline constexpr OptionRow n_obs{
    .name = "--n-oss",
    .default_number = 1000,
    .bounds = Bounds{30, 131072},
    .help =
        "Number of observations (time points) to read from the top of the series file "
        "(default: every row of the file)",
    .json_key = "n_oss",
    .dialog_label = "Number of Observation",
    .where = kRun | kFit | kDialog,
    .show_default = false};
// The threshold variables are components 1 and 2.
inline constexpr OptionRow n_comp{
    .name = "--n-comp",
    .default_number = 4,
    .bounds = Bounds{.low = 2},
    .help =
        "Number of components: the values that make up one time point (default: the "
        "columns of the file, or those --columns picks)",
    .json_key = "n_comp",
    .dialog_label = "Number of Component",
    .where = kRun | kFit | kDialog,
    .show_default = false};
// A regime needs two observations before any coefficient can be estimated.
inline constexpr OptionRow min_obs_per_regime{
    .name = "--min-oss-reg",
    .default_number = 50,
    .bounds = Bounds{.low = 2},
    .help =
        "Least number of observations a regime must hold; a structure with a smaller "
        "regime gets fitness 0",
    .json_key = "min_oss_reg",
    .dialog_label = "Min. Obs. Reg.",
    .where = kRun | kFit | kDialog};
inline constexpr OptionRow max_order{
    .name = "--m",
    .default_number = 2,
    .bounds = Bounds{1, 4},
    .help = "Largest autoregressive order (1 to 4); every order up to it is estimated",
    .json_key = "m",
    .dialog_label = "Max Order VAR",
    .where = kRun | kFit | kDialog};
inline constexpr OptionRow include{
    .name = "--include",
    .kind = Kind::choice,
    .default_text = "none",
    .check = ParserCheck::one_of,
    .help =
        "Deterministic terms of every regime's equations: {} (const: an intercept; trend: a "
        "linear trend in the row number of the data read)",
    .json_key = "include"};
inline constexpr OptionRow criterion{
    .name = "--criterion",
    .kind = Kind::choice,
    .default_text = "classic",
    .check = ParserCheck::one_of,
    .help =
        "Criterion the search minimises and the summary reports: {} (classic: the program's "
        "own, each structure on its own rows; aic, bic, hq: ln det of the residual covariance "
        "plus 2, ln T or 2 ln ln T per estimated coefficient over T, every structure on the "
        "same rows)",
    .json_key = "criterion",
    .dialog_label = "Criterion"};
inline constexpr OptionRow workdir{
    .name = "--workdir",
    .kind = Kind::text,
    .default_text = ".",
    .help =
        "Directory for the files written, created when missing: the result files and, for "
        "a search, Output.txt (a search also opens inputonepop2.txt there when it exists, "
        "without reading it)",
    .json_key = "workdir"};

// ---- The run's own options ------------------------------------------------

inline constexpr OptionRow run_seed{
    .name = "--seed",
    .bounds = Bounds{0, 999},
    .check = ParserCheck::range,
    .help =
        "Replay a run: the casual value (0 to 999) from the \"casual=N\" line of an earlier "
        "run's Output.txt; without it the seed comes from the clock",
    .json_key = "seed",
    .where = kRun,
    .show_default = false};
inline constexpr OptionRow run_threads{
    .name = "--threads",
    .bounds = Bounds{1, 1024},
    .check = ParserCheck::whole_number,
    .help =
        "Threads that estimate candidate structures in parallel (the result does not depend "
        "on it; 1 to 1024; default: the number of cores)",
    .json_key = "threads",
    .where = kRun};
inline constexpr OptionRow no_cache{
    .name = "--no-cache",
    .kind = Kind::toggle,
    .help =
        "Estimate every candidate anew instead of reusing the criterion of a structure "
        "already estimated (slower; same result)",
    .json_key = "cache",
    .where = kRun,
    .echo_negated = true};
inline constexpr OptionRow run_json{
    .name = "--json",
    .kind = Kind::text,
    .help =
        "Also write the closing summary, with the parameters and the seed, as JSON to this "
        "file (for scripts)",
    .json_key = "json",
    .where = kRun,
    .show_default = false};
inline constexpr OptionRow run_regimes_csv{
    .name = "--regimes-csv",
    .kind = Kind::text,
    .help =
        "Also write the regimes of the reported model (the refined one when refinement "
        "ran) as CSV: one row per time with the threshold variables' values, the regime, "
        "and each component's fitted value and residual at the maximum order",
    .json_key = "regimes_csv",
    .where = kRun,
    .show_default = false};
inline constexpr OptionRow history{
    .name = "--history",
    .kind = Kind::text,
    .help =
        "Also write the course of the search as CSV to this file: one row per generation "
        "and replication with the best and mean criterion and fitness, the evaluations and "
        "estimations so far and the seconds since the start",
    .json_key = "history",
    .where = kRun,
    .show_default = false};
inline constexpr OptionRow replications{
    .name = "--replications",
    .default_number = 1,
    .bounds = Bounds{1, 1000},
    .check = ParserCheck::range,
    .help =
        "Complete searches to run, each with its own seeding, generations and "
        "last-generation report; with --seed S replication r uses the casual value (S + r "
        "- 1) mod 1000. They run side by side when --threads allows; the best of their best "
        "models is refined",
    .json_key = "replications",
    .where = kRun};
inline constexpr OptionRow no_refine{
    .name = "--no-refine",
    .kind = Kind::toggle,
    .help =
        "Report the search's best model as it is, without refining its thresholds and "
        "structure afterwards (the refined model's report goes to refined/ in --workdir)",
    .json_key = "refine",
    .where = kRun,
    .echo_negated = true};
inline constexpr OptionRow select_order{
    .name = "--select-order",
    .kind = Kind::toggle,
    .help =
        "The refinement chooses each regime's autoregressive order 1..--m by the criterion "
        "(needs --criterion aic, bic or hq, which score every order on the same rows)",
    .json_key = "select_order",
    .dialog_label = "Select orders",
    .where = kRun};

// ---- The structure that `fit` estimates ------------------------------------

inline constexpr OptionRow component{
    .name = "--component",
    .kind = Kind::text,
    .help =
        "One threshold variable: the component (1-based) whose lagged value switches the "
        "regimes; with --threshold-columns, one of the listed columns by its name or file "
        "column number",
    .json_key = "component",
    .where = kFit,
    .type_name = "INT",
    .show_default = false,
    .echo_numbers = true};
inline constexpr OptionRow lag{
    .name = "--lag",
    .help = "One threshold variable: how many steps back the component is taken (1 to 6)",
    .json_key = "lag",
    .where = kFit,
    .show_default = false};
inline constexpr OptionRow components{
    .name = "--components",
    .kind = Kind::list,
    .help =
        "Two threshold variables: the two components, e.g. 1,2; with --threshold-columns, two "
        "of the listed columns",
    .json_key = "components",
    .where = kFit,
    .show_default = false,
    .echo_numbers = true,
    .count = 2};
inline constexpr OptionRow lags{
    .name = "--lags",
    .kind = Kind::list,
    .help = "Two threshold variables: the lag of each component (1 to 6), e.g. 1,3",
    .json_key = "lags",
    .where = kFit,
    .show_default = false,
    .count = 2};
inline constexpr OptionRow type_model{
    .name = "--type-model",
    .help =
        "Two threshold variables: 0 keeps the four quadrants as four regimes; 1, 2 or 3 "
        "merge two of them into three regimes",
    .json_key = "type_model",
    .where = kFit,
    .show_default = false};
inline constexpr OptionRow regimes{
    .name = "--regimes",
    .help =
        "Number of regimes: 2 to 4 with one threshold variable, 3 or 4 with two; 1 alone "
        "fits the linear VAR",
    .json_key = "regimes",
    .where = kFit,
    .show_default = false};
inline constexpr OptionRow positions{
    .name = "--positions",
    .kind = Kind::list,
    .help =
        "Time positions (0 to n-oss - 1) whose values of the threshold variable are the "
        "thresholds: one per threshold (regimes - 1 of them) with one threshold variable, "
        "one per variable with two. 0 stands for time 30 with one threshold variable and for "
        "time 1 with two",
    .json_key = "positions",
    .where = kFit,
    .show_default = false};
inline constexpr OptionRow orders{
    .name = "--orders",
    .kind = Kind::list,
    .help =
        "Autoregressive order of each regime (1 to --m), one per regime, e.g. 2,1 (default: "
        "--m for every regime; orders below --m need --criterion aic, bic or hq)",
    .json_key = "orders",
    .where = kFit,
    .show_default = false};
inline constexpr OptionRow thresholds{
    .name = "--thresholds",
    .kind = Kind::list,
    .help =
        "Threshold values instead of --positions: each is replaced by the time position "
        "whose value of the threshold variable splits the observations the same way (the "
        "largest such value not above it, else the smallest above; the earliest time among "
        "equal values), e.g. -0.5,0.4",
    .json_key = "thresholds",
    .where = kFit,
    .show_default = false};
// Split by the fit itself, which also takes blanks between the codes.
inline constexpr OptionRow codes{
    .name = "--codes",
    .kind = Kind::text,
    .help =
        "The structure as a chromosome holds it: sixteen field codes, separated by commas "
        "or blanks as the summary of a run prints them, decoded exactly as the search "
        "decodes them",
    .json_key = "codes",
    .where = kFit,
    .show_default = false};
inline constexpr OptionRow fit_json{
    .name = "--json",
    .kind = Kind::text,
    .help =
        "Also write the fitted model as JSON to this file (for scripts): the same model "
        "object as a search's summary gives its best model, with the inference on it, under "
        "\"model\"; the series, the parameters and the files written",
    .json_key = "json",
    .where = kFit,
    .show_default = false};
inline constexpr OptionRow fit_regimes_csv{
    .name = "--regimes-csv",
    .kind = Kind::text,
    .help =
        "Also write the model's regimes as CSV: one row per time with the threshold "
        "variables' values, the regime, and each component's fitted value and residual at "
        "the maximum order",
    .json_key = "regimes_csv",
    .where = kFit,
    .show_default = false};
inline constexpr OptionRow fit_seed{
    .name = "--seed",
    .check = ParserCheck::unsigned_64,
    .help =
        "Seed of the linearity test's bootstrap and of the simulations of forecasts and "
        "impulse responses (the same seed gives the same figures)",
    .json_key = "seed",
    .where = kFit};
inline constexpr OptionRow fit_threads{
    .name = "--threads",
    .default_number = 1,
    .bounds = Bounds{1, 1024},
    .check = ParserCheck::whole_number,
    .help =
        "Threads for the bootstrap replicates and the simulations (the result does not "
        "depend on it)",
    .json_key = "threads",
    .where = kFit};

// ---- The inference on the reported model (run and fit) --------------------

// Each replicate keeps its statistic: far more than anyone needs would
// exhaust memory after the search.
inline constexpr OptionRow test_linearity{
    .name = "--test-linearity",
    .bounds = Bounds{0, 1000000},
    .check = ParserCheck::non_negative,
    .help =
        "Test the reported threshold model against the linear VAR of the same order: the "
        "likelihood ratio with a p-value from this many residual-bootstrap series of the "
        "linear VAR, on each of which the thresholds are searched again (0: no test)",
    .json_key = "test_linearity",
    .type_name = "B"};
inline constexpr OptionRow confidence{
    .name = "--confidence",
    .kind = Kind::real,
    .default_number = 0.95,
    .help =
        "Level of the confidence set of each threshold, between 0 and 1 (inverts the "
        "likelihood ratio in the threshold)",
    .json_key = "confidence"};
inline constexpr OptionRow portmanteau_lags{
    .name = "--portmanteau-lags",
    .default_number = 12,
    .bounds = Bounds{1, 1000},
    .check = ParserCheck::range,
    .help =
        "Residual autocorrelations the portmanteau test of the reported model sums (H, 1 to "
        "1000; its degrees of freedom k^2 (H - m) need H above m)",
    .json_key = "portmanteau_lags",
    .type_name = "H"};
inline constexpr OptionRow arch_lags{
    .name = "--arch-lags",
    .default_number = 5,
    .bounds = Bounds{1, 1000},
    .check = ParserCheck::range,
    .help =
        "Lags of the residuals' cross products in the ARCH-LM test of the reported model "
        "(q, 1 to 1000)",
    .json_key = "arch_lags",
    .type_name = "Q"};
inline constexpr OptionRow test_regimes{
    .name = "--test-regimes",
    .bounds = Bounds{0, 1000000},
    .check = ParserCheck::non_negative,
    .help =
        "Test the number of regimes on the reported model's threshold variable: 1 vs 2, 2 vs "
        "3 and 3 vs 4 regimes in turn, each a likelihood ratio with a p-value from this many "
        "residual-bootstrap series of the smaller model, on each of which the thresholds are "
        "searched again; the sequence stops at the first test not rejected (0: no tests)",
    .json_key = "test_regimes",
    .type_name = "B"};
inline constexpr OptionRow test_level{
    .name = "--test-level",
    .kind = Kind::real,
    .default_number = 0.05,
    .help =
        "Level of the tests of the number of regimes, between 0 and 1: a test is rejected "
        "when its p-value is at most this",
    .json_key = "test_level"};
inline constexpr OptionRow tables{
    .name = "--tables",
    .kind = Kind::text,
    .help =
        "Also write the reported model as a table for a paper, chosen by the extension: a "
        "LaTeX tabular (.tex), Markdown (.md) or CSV (.csv); coefficients with standard "
        "errors and significance stars, thresholds with their confidence sets, criteria, "
        "tests and residual diagnostics",
    .json_key = "tables",
    .type_name = "PATH",
    .show_default = false};

// ---- Forecasts, the hold-out check and impulse responses (run and fit) ----

inline constexpr OptionRow forecast{
    .name = "--forecast",
    .help =
        "Forecast H steps after the last row the model was fitted on, for every component, "
        "by simulating paths of the reported model: mean, median, 5 % and 95 % quantiles "
        "per step, and the path without shocks",
    .json_key = "forecast",
    .type_name = "H",
    .show_default = false};
inline constexpr OptionRow forecast_paths{
    .name = "--forecast-paths",
    .default_number = 2000,
    .help = "Simulated paths of a forecast (and per origin of the hold-out check)",
    .json_key = "forecast_paths",
    .type_name = "N"};
inline constexpr OptionRow forecast_csv{
    .name = "--forecast-csv",
    .kind = Kind::text,
    .help =
        "Also write the forecast as CSV: step, time, component, mean, median, q05, q95, "
        "no_shock",
    .json_key = "forecast_csv",
    .show_default = false};
inline constexpr OptionRow holdout{
    .name = "--holdout",
    .help =
        "Fit on all but the last K rows and forecast those rows from each of their origins, "
        "1 to H steps ahead (H from --forecast, else up to 10): RMSE and MAE per horizon of "
        "the threshold model and of the linear VAR of the same order",
    .json_key = "holdout",
    .type_name = "K",
    .show_default = false};
inline constexpr OptionRow girf{
    .name = "--girf",
    .help =
        "Generalized impulse responses by regime over horizons 0..H: a shock of one "
        "standard deviation to each component, orthogonalised by the Cholesky factor of the "
        "residual covariance of the history's regime",
    .json_key = "girf",
    .type_name = "H",
    .show_default = false};
inline constexpr OptionRow girf_histories{
    .name = "--girf-histories",
    .default_number = 500,
    .help = "Histories drawn from the times of each regime for the impulse responses",
    .json_key = "girf_histories",
    .type_name = "N"};
inline constexpr OptionRow girf_repetitions{.name = "--girf-repetitions",
                                            .default_number = 100,
                                            .help = "Shock sequences simulated from each history",
                                            .json_key = "girf_repetitions",
                                            .type_name = "N"};
inline constexpr OptionRow girf_csv{
    .name = "--girf-csv",
    .kind = Kind::text,
    .help =
        "Also write the impulse responses as CSV: regime, shock, horizon, component, mean, "
        "q05, q95",
    .json_key = "girf_csv",
    .show_default = false};

// ---- The rolling-origin evaluation (run and fit) ---------------------------

inline constexpr OptionRow rolling{
    .name = "--rolling",
    .bounds = Bounds{.low = 0},
    .check = ParserCheck::non_negative,
    .help =
        "Rolling-origin evaluation at the last K rows: at each, the model is estimated again "
        "on the rows before it (run: searched again; fit: the structure kept, thresholds and "
        "coefficients estimated again) and forecasts 1 to --forecast steps (default 1), "
        "beside the linear VAR estimated the same way; RMSE, MAE and a Diebold-Mariano test "
        "per horizon",
    .json_key = "rolling",
    .type_name = "K",
    .show_default = false};
inline constexpr OptionRow rolling_window{
    .name = "--rolling-window",
    .bounds = Bounds{.low = 0},
    .check = ParserCheck::non_negative,
    .help =
        "Estimate at each origin on the W rows before it (a moving window) instead of every "
        "row before it",
    .json_key = "rolling_window",
    .type_name = "W",
    .show_default = false};
inline constexpr OptionRow rolling_csv{
    .name = "--rolling-csv",
    .kind = Kind::text,
    .help =
        "Also write every origin's forecasts as CSV: one row per origin, horizon and "
        "component with the threshold model's and the linear VAR's forecast and the value "
        "that came",
    .json_key = "rolling_csv",
    .show_default = false};

// ---- Charts (run and fit) ---------------------------------------------------

inline constexpr OptionRow charts{
    .name = "--charts",
    .kind = Kind::text,
    .help =
        "Also draw the charts of the desktop program into this folder, as SVG and PNG files, "
        "without a display: the search's course, the regimes over time (one per threshold "
        "variable), the forecast fan with --forecast and the impulse responses with --girf",
    .json_key = "charts",
    .type_name = "DIR",
    .show_default = false};

#pragma GCC diagnostic pop

// Every row.
inline constexpr std::array all_rows = {
    &selection,
    &tourneysize,
    &crossover,
    &scaling,
    &scalemult,
    &beta,
    &sigma_trunc,
    &scaling_window,
    &maxgen,
    &pcross,
    &pmutation,
    &popsize,
    &crowding,
    &incest_reduction,
    &course_file,
    &columns,
    &threshold_columns,
    &n_obs,
    &n_comp,
    &min_obs_per_regime,
    &max_order,
    &include,
    &criterion,
    &workdir,
    &run_seed,
    &run_threads,
    &no_cache,
    &run_json,
    &run_regimes_csv,
    &history,
    &component,
    &lag,
    &components,
    &lags,
    &type_model,
    &regimes,
    &positions,
    &thresholds,
    &codes,
    &test_linearity,
    &confidence,
    &portmanteau_lags,
    &arch_lags,
    &test_regimes,
    &test_level,
    &tables,
    &forecast,
    &forecast_paths,
    &forecast_csv,
    &holdout,
    &girf,
    &girf_histories,
    &girf_repetitions,
    &girf_csv,
    &rolling,
    &rolling_window,
    &rolling_csv,
    &charts,
    &fit_json,
    &fit_regimes_csv,
    &fit_seed,
    &fit_threads,
    &replications,
    &no_refine,
    &select_order,
    &orders,
};

// The row's place in all_rows: a stable id for the dialog's controls.
constexpr int index_of(const OptionRow& row) {
    for (std::size_t i = 0; i < all_rows.size(); ++i) {
        if (all_rows[i] == &row) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// The bounds' ends as whole numbers, for rows of whole numbers.
constexpr int low_int(const OptionRow& row) {
    return static_cast<int>(row.bounds->low);
}
constexpr int high_int(const OptionRow& row) {
    return static_cast<int>(row.bounds->high);
}

}  // namespace velmora::options
