// The option table: every row reaches the commands' help and the JSON echo
// of the parameters, the bounds in a row are the ones the command line
// enforces, and the echo shows each kind of field as scripts read it.

#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <utility>

#include "app/run_config.hpp"
#include "model/definition.hpp"
#include "model/problem.hpp"
#include "options/bindings.hpp"
#include "test_helpers.hpp"

namespace velmora {
namespace {

using testing::CommandResult;
using testing::contains;
using testing::read_file;
using testing::run_cli;
using testing::shell_quote;
using testing::TempDir;

const std::string sample = shell_quote(testing::sample_series());

std::string whole(double value) {
    return std::to_string(static_cast<long long>(value));
}

// text after one character (appending keeps GCC's -Wrestrict quiet).
std::string after(char first, std::string_view text) {
    std::string out(1, first);
    out.append(text);
    return out;
}

// The help line of an option, from its name to the next option.
std::string help_entry(const std::string& help, std::string_view name) {
    const auto start = help.find("\n  " + std::string(name) + " ");
    if (start == std::string::npos) {
        return {};
    }
    return help.substr(start, help.find("\n  --", start + 1) - start);
}

// Rows of one command, each name once.
TEST(OptionTable, EveryCommandNamesEachOptionOnceAndEachJsonKeyOnce) {
    for (const unsigned command : {options::kRun, options::kFit}) {
        std::set<std::string_view> names;
        std::set<std::string_view> keys;
        for (const options::OptionRow* row : options::all_rows) {
            if (!row->on(command)) {
                continue;
            }
            EXPECT_TRUE(names.insert(row->name).second) << row->name;
            EXPECT_FALSE(row->json_key.empty()) << row->name;
            EXPECT_TRUE(keys.insert(row->json_key).second) << row->json_key;
            EXPECT_EQ(row->name.substr(0, 2), "--") << row->name;
            EXPECT_FALSE(row->help.empty()) << row->name;
        }
    }
    for (const options::OptionRow* row : options::all_rows) {
        EXPECT_NE(row->where, 0U) << row->name;
        const bool bounded = row->check == options::ParserCheck::range ||
                             row->check == options::ParserCheck::whole_number ||
                             row->check == options::ParserCheck::non_negative;
        if (bounded) {
            ASSERT_TRUE(row->bounds.has_value()) << row->name;
        }
    }
}

TEST(OptionTable, EveryRowOfACommandIsInItsHelpWithTheRowsTextAndDefault) {
    TempDir dir;
    for (const auto& [command, place] :
         {std::pair{"run", options::kRun}, std::pair{"fit", options::kFit}}) {
        const CommandResult help = run_cli(std::string(command) + " --help", dir);
        ASSERT_EQ(help.status, 0);
        // Every option of the help is a row of the table.
        for (std::size_t at = help.out.find("\n  --"); at != std::string::npos;
             at = help.out.find("\n  --", at + 1)) {
            const std::size_t start = at + 3;
            const std::string name =
                help.out.substr(start, help.out.find_first_of(" \n", start) - start);
            bool found = false;
            for (const options::OptionRow* row : options::all_rows) {
                found = found || (row->on(place) && row->name == name);
            }
            EXPECT_TRUE(found) << command << " " << name;
        }
        for (const options::OptionRow* row : options::all_rows) {
            if (!row->on(place)) {
                continue;
            }
            const std::string entry = help_entry(help.out, row->name);
            ASSERT_FALSE(entry.empty()) << command << " " << row->name;
            // The help wraps nothing: the row's text stands whole, a choice's
            // list of names in the place of its "{}".
            const std::string text(row->help);
            const std::size_t hole = text.find("{}");
            EXPECT_TRUE(contains(entry, text.substr(0, hole))) << entry;
            if (hole != std::string::npos) {
                EXPECT_TRUE(contains(entry, text.substr(hole + 2))) << entry;
            }
            if (!row->type_name.empty()) {
                EXPECT_TRUE(contains(entry, after(' ', row->type_name))) << entry;
            }
            // Fields hold the row's default: the help shows it.
            if (row->show_default && row->kind == options::Kind::integer &&
                row->check != options::ParserCheck::whole_number) {
                const std::string shown = after('=', whole(row->default_number));
                EXPECT_TRUE(contains(entry, shown + ' ') || contains(entry, shown + '\n')) << entry;
            }
            if (row->show_default && !row->default_text.empty()) {
                EXPECT_TRUE(contains(entry, after('=', row->default_text))) << entry;
            }
        }
    }
}

TEST(OptionTable, EveryRowOfACommandIsEchoedUnderParameters) {
    TempDir dir;
    const CommandResult run =
        run_cli("run --course-file " + sample +
                    " --n-oss 200 --min-oss-reg 20 --popsize 10 --maxgen 2 --seed 3 "
                    "--selection TOURNAMENT --tourneysize 3 --scalemult 1.3 --scaling-window 4 "
                    "--no-cache --no-refine --workdir out --json run.json",
                dir);
    ASSERT_EQ(run.status, 0) << run.err;
    const auto run_json = nlohmann::json::parse(read_file(dir / "run.json"))["parameters"];
    const CommandResult fit =
        run_cli("fit --course-file " + sample +
                    " --component 1 --lag 2 --regimes 2 --positions 100 --seed 9 --workdir fit "
                    "--json fit.json",
                dir);
    ASSERT_EQ(fit.status, 0) << fit.err;
    const auto fit_json = nlohmann::json::parse(read_file(dir / "fit.json"))["parameters"];
    for (const auto& [parameters, place] :
         {std::pair{run_json, options::kRun}, std::pair{fit_json, options::kFit}}) {
        std::size_t rows = 0;
        for (const options::OptionRow* row : options::all_rows) {
            if (row->on(place)) {
                ++rows;
                EXPECT_TRUE(parameters.contains(std::string(row->json_key))) << row->json_key;
            }
        }
        EXPECT_EQ(parameters.size(), rows) << parameters.dump();
    }
    // As scripts have read them: the choice by its name, the float as typed,
    // the window as a whole number, the switches as what stays on.
    EXPECT_EQ(run_json["selection"], "tournament");
    EXPECT_EQ(run_json["tourneysize"], 3);
    EXPECT_EQ(run_json["scalemult"].get<double>(), 1.3);
    EXPECT_TRUE(run_json["scaling_window"].is_number_integer());
    EXPECT_EQ(run_json["scaling_window"], 4);
    EXPECT_EQ(run_json["cache"], false);
    EXPECT_EQ(run_json["refine"], false);
    EXPECT_EQ(run_json["seed"], 3);
    EXPECT_EQ(run_json["min_oss_reg"], 20);
    EXPECT_EQ(run_json["workdir"], "out");
    EXPECT_EQ(run_json["forecast"], 0);
    EXPECT_EQ(fit_json["component"], 1);
    EXPECT_TRUE(fit_json["type_model"].is_null());
    EXPECT_EQ(fit_json["positions"], nlohmann::json({100}));
    EXPECT_EQ(fit_json["seed"], 9);
    EXPECT_EQ(fit_json["min_oss_reg"], 50);
    EXPECT_GT(fit_json["n_oss"].get<int>(), 200);
}

// A value one past a bound is refused by the parser and names the option; a
// value at the bound passes the parser (the run then stops at a later check
// that names another term, here the largest order).
TEST(OptionTable, TheCommandLineEnforcesTheRowsBounds) {
    TempDir dir;
    for (const options::OptionRow* row : options::all_rows) {
        if (row->check == options::ParserCheck::none || !row->bounds) {
            continue;
        }
        const std::string command = row->on(options::kRun) ? "run" : "fit";
        const auto attempt = [&](double value, const std::string& also) {
            return run_cli(command + " --course-file " + sample + also + " " +
                               std::string(row->name) + " " + whole(value),
                           dir);
        };
        // A refusal names the option first, as "--seed: ...".
        std::string refusal(row->name);
        refusal += ':';
        const bool top = std::isfinite(row->bounds->high);
        for (const double inside : {row->bounds->low, top ? row->bounds->high : 1.0}) {
            const CommandResult r = attempt(inside, " --m 9");
            EXPECT_EQ(r.status, 2) << row->name << " " << inside;
            EXPECT_FALSE(contains(r.err, refusal)) << r.err;
        }
        const CommandResult below = attempt(row->bounds->low - 1, " --m 9");
        EXPECT_EQ(below.status, 2) << row->name;
        EXPECT_TRUE(contains(below.err, refusal)) << below.err;
        if (!top) {
            continue;
        }
        // Past the top, a row checked later is refused before any search.
        const bool later = row->check == options::ParserCheck::non_negative;
        const CommandResult above = attempt(row->bounds->high + 1, later ? "" : " --m 9");
        EXPECT_EQ(above.status, 2) << row->name;
        EXPECT_TRUE(contains(above.err, refusal)) << above.err;
        EXPECT_FALSE(std::filesystem::exists(dir / "Output.txt")) << row->name;
    }
}

// The model's own limits are the rows' bounds.
TEST(OptionTable, TheModelsLimitsAreTheRowsBounds) {
    for (int m = -1; m <= 6; ++m) {
        EXPECT_EQ(order_allowed(m), m >= options::low_int(options::max_order) &&
                                        m <= options::high_int(options::max_order))
            << m;
    }
    EXPECT_EQ(kMaxOrder, 4);
    EXPECT_EQ(kMinRegimeObservations, options::low_int(options::min_obs_per_regime));
    EXPECT_EQ(kMinObservations, options::low_int(options::n_obs));
    EXPECT_EQ(max_n_oss, options::high_int(options::n_obs));
    EXPECT_EQ(options::dialog_range_message(options::max_order),
              "Please enter an integer between 1 and 4.");
}

TEST(OptionTable, TheEchoShowsEachKindOfField) {
    RunConfig config;
    config.scalemult = 1.1f;
    config.scaling_window = 7.9;  // the run reads 7
    config.crossover_choice = 2;
    config.scaling_method = 99;  // no such row: no name
    config.model.include = Include::trend;
    config.model.criterion = Criterion::hq;
    options::Bindings bound;
    bind_search_options(bound, config);
    bind_problem_options(bound, config);
    bool no_cache = false;
    std::optional<int> seed;
    bound.bind(options::no_cache, no_cache);
    bound.bind(options::run_seed, seed);
    nlohmann::json echo = bound.parameters_json();
    EXPECT_EQ(echo["scalemult"].get<double>(), 1.1);
    EXPECT_EQ(echo["scaling_window"], 7);
    EXPECT_EQ(echo["crossover"], "uniform");
    EXPECT_EQ(echo["scaling"], "");
    EXPECT_EQ(echo["include"], "trend");
    EXPECT_EQ(echo["criterion"], "hq");
    EXPECT_EQ(echo["cache"], true);
    EXPECT_TRUE(echo["seed"].is_null());
    EXPECT_EQ(echo["columns"], nlohmann::json::array());
    // The echo reads the fields when asked, not when bound.
    config.n_oss = 321;
    seed = 5;
    no_cache = true;
    echo = bound.parameters_json();
    EXPECT_EQ(echo["n_oss"], 321);
    EXPECT_EQ(echo["seed"], 5);
    EXPECT_EQ(echo["cache"], false);
    ASSERT_NE(bound.find(options::popsize), nullptr);
    EXPECT_EQ(bound.find(options::no_refine), nullptr);
}

// A choice named exactly is set; any other name is refused with the list,
// before anything is read.
TEST(OptionTable, ChoicesOfTheModelAreSetByTheirNamesOnly) {
    TempDir dir;
    const CommandResult wrong = run_cli("fit --course-file " + sample + " --include Const", dir);
    EXPECT_EQ(wrong.status, 2);
    EXPECT_TRUE(contains(wrong.err, "Const is not one of none, const, trend or both")) << wrong.err;
    const CommandResult fit =
        run_cli("fit --course-file " + sample +
                    " --include both --criterion bic --component 1 --lag 1 --regimes 2 "
                    "--positions 100 --json fit.json",
                dir);
    ASSERT_EQ(fit.status, 0) << fit.err;
    const auto parameters = nlohmann::json::parse(read_file(dir / "fit.json"))["parameters"];
    EXPECT_EQ(parameters["include"], "both");
    EXPECT_EQ(parameters["criterion"], "bic");
}

// The definition's messages name the model's terms; the command line puts
// the flag of the term in front.
TEST(ModelDefinition, FaultsNameTheTermAndTheCommandLineItsFlag) {
    ModelDefinition model;
    EXPECT_FALSE(validate(model, 100, 3).has_value());
    model.min_obs_per_regime = 1;
    auto fault = validate(model, 100, 3);
    ASSERT_TRUE(fault.has_value());
    EXPECT_EQ(fault->term, ModelTerm::regime_size);
    EXPECT_EQ(term_row(fault->term).name, "--min-oss-reg");
    model.max_order = 5;  // checked before the regimes' size
    fault = validate(model, 100, 3);
    ASSERT_TRUE(fault.has_value());
    EXPECT_EQ(fault->term, ModelTerm::order);
    EXPECT_EQ(fault->message, "The largest autoregressive order must be between 1 and 4 (got 5)");
    EXPECT_FALSE(contains(fault->message, "--"));
    EXPECT_EQ(validate(ModelDefinition{}, 29, 3)->term, ModelTerm::few_observations);
    EXPECT_EQ(validate(ModelDefinition{}, 100, 1)->term, ModelTerm::components);
    EXPECT_EQ(validate(ModelDefinition{}, 100, 3, 99)->term, ModelTerm::many_observations);

    TempDir dir;
    const CommandResult fit = run_cli(
        "fit --course-file " + sample + " --m 5 --component 1 --lag 1 --regimes 2 --positions 1",
        dir);
    EXPECT_EQ(fit.status, 2);
    EXPECT_TRUE(contains(fit.err, "--m: " + fault->message)) << fit.err;
    // A search words it as its run log always has.
    const CommandResult run = run_cli("run --course-file " + sample + " --m 5", dir);
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(contains(run.err, "Max order VAR must be between 1 and 4 (m = 5)")) << run.err;
}

}  // namespace
}  // namespace velmora
