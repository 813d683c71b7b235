#pragma once
// The test classes, each run through QTest::qExec by test_main.cpp.

#include <functional>
#include <vector>

namespace velmora::gui::test {

using Suite = std::function<int(int, char**)>;

int run_exchange_tests(int argc, char** argv);
int run_parameter_dialog_tests(int argc, char** argv);
int run_main_window_tests(int argc, char** argv);
int run_real_run_tests(int argc, char** argv);
int run_locale_tests(int argc, char** argv);
int run_results_tabs_tests(int argc, char** argv);
int run_model_analysis_tests(int argc, char** argv);
int run_run_outcomes_tests(int argc, char** argv);
int run_charts_tests(int argc, char** argv);
int run_option_rows_tests(int argc, char** argv);

inline std::vector<Suite> suites() {
    return {run_exchange_tests,       run_parameter_dialog_tests, run_main_window_tests,
            run_real_run_tests,       run_locale_tests,           run_results_tabs_tests,
            run_model_analysis_tests, run_run_outcomes_tests,     run_charts_tests,
            run_option_rows_tests};
}

}  // namespace velmora::gui::test
