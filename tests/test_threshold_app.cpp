#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/run_driver.hpp"
#include "app/threshold_app.hpp"
#include "model/structure_key.hpp"
#include "model_test_helpers.hpp"
#include "output/run_summary.hpp"

namespace velmora {
namespace {

using testing::ProblemFixture;
using testing::random_series;

// The layout the engine derives from the application's field sizes.
ChromosomeLayout layout_for(const std::array<int, kNumFields>& sizes) {
    ChromosomeLayout layout;
    layout.numfields = kNumFields;
    layout.field_sizes.assign(sizes.begin(), sizes.end());
    compute_field_layout(layout);
    return layout;
}

struct Member {
    std::vector<std::uint32_t> chrom;
    individual ind;
};

Member make_member(const ChromosomeLayout& layout, const FieldCodes& codes) {
    Member m;
    m.chrom.assign(static_cast<std::size_t>(layout.chromsize), 0u);
    for (int i = 0; i < kNumFields; ++i) {
        putfield(i, layout, codes[static_cast<std::size_t>(i)], m.chrom.data());
    }
    return m;
}

class ThresholdAppTest : public ::testing::Test {
  protected:
    ProblemFixture fx{random_series(300, 3, 19), 300, 3, 2, 20};
    ChromosomeLayout layout = layout_for(structure_field_sizes(300));
};

TEST_F(ThresholdAppTest, HooksSetFlagsAndFieldSizes) {
    ThresholdApp app(fx.problem);
    EngineParams params;
    params.stochastic_fitness = 7;
    params.elitist = 0;
    app.app_init(params);
    EXPECT_EQ(params.stochastic_fitness, 0);
    EXPECT_EQ(params.elitist, 1);
    std::vector<int> sizes(16, -1);
    app.app_set_field_sizes(sizes);
    const std::vector<int> want{2, 2, 2, 2, 4, 300, 300, 300, 300, 300, 2, 4, 4, 6, 6, 6};
    EXPECT_EQ(sizes, want);
    EXPECT_EQ(app.app_data_size(), 0);
}

TEST_F(ThresholdAppTest, ObjectiveScoresEachMemberWithItsEstimate) {
    // The smallest value of component 1 as the threshold leaves regime 1
    // nearly empty: fitness 0.
    std::uint32_t lowest = 1;
    for (int t = 1; t < 300; ++t) {
        if (fx.serie[t][1] < fx.serie[static_cast<int>(lowest)][1]) {
            lowest = static_cast<std::uint32_t>(t);
        }
    }
    const std::vector<FieldCodes> all{
        {0, 1, 0, 0, 2, 40, 200, 0, 0, 0, 0, 0, 0, 2, 0, 0},
        {1, 0, 1, 0, 0, 0, 0, 0, 150, 0, 1, 3, 0, 0, 3, 1},
        {0, 0, 0, 0, 0, lowest, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    };
    std::vector<Member> members;
    for (const auto& c : all) {
        members.push_back(make_member(layout, c));
    }
    std::vector<individual*> batch;
    for (auto& m : members) {
        m.ind.chrom = m.chrom.data();
        m.ind.raw_fitness = -1.0;
        batch.push_back(&m.ind);
    }
    ThresholdApp app(fx.problem, 1, false);
    app.objfunc(batch, layout);
    EstimationWorkspace ws(fx.problem);
    for (std::size_t i = 0; i < all.size(); ++i) {
        const CriterionResult r = estimate_criterion(fx.problem, ws, decode_structure(all[i]));
        EXPECT_EQ(members[i].ind.raw_fitness, fitness_from_criterion(r.criterion)) << i;
    }
    EXPECT_EQ(members[2].ind.raw_fitness, 0.0);
    EXPECT_GT(members[0].ind.raw_fitness, 0.0);
    EXPECT_EQ(app.estimations(), 3);
    EXPECT_EQ(app.estimations_saved(), 0);
}

TEST_F(ThresholdAppTest, FinalReportAppendsToTheMatchingFilesOnly) {
    fx.problem.result_dir = testing::fresh_directory("final_report");
    ThresholdApp app(fx.problem);
    // codify[0] = 0 and codify[4] = 0: two regimes, threshold from field 5.
    Member best = make_member(layout, {0, 0, 1, 1, 0, 77, 5, 6, 1, 1, 1, 1, 0, 1, 1, 1});
    best.ind.chrom = best.chrom.data();
    best.ind.raw_fitness = 0.5;
    app.app_final_report(best.ind, layout);
    const auto out = testing::read_lines(fx.problem.result_dir / "OutputThresholdUnivariate.txt");
    ASSERT_GE(out.size(), 3u);
    EXPECT_EQ(out[1], "Number of Regime = 2 ");
    EXPECT_EQ(out[2], "Threshold Variable: Component= 1\t Lag =2");
    EXPECT_FALSE(std::filesystem::exists(fx.problem.result_dir / "OutputThresholdBivariate.txt"));
    EXPECT_EQ(best.ind.raw_fitness, 0.5);
    EXPECT_EQ(app.estimations(), 0);
}

TEST_F(ThresholdAppTest, SummaryDescribesTheEstimate) {
    const ModelStructure s = decode_structure({0, 1, 0, 0, 2, 40, 200, 0, 0, 0, 0, 0, 0, 2, 0, 0});
    const StructureSummary summary = summarize_structure(fx.problem, s);
    EXPECT_EQ(summary.model.status, EstimateStatus::estimated);
    EXPECT_EQ(summary.fitness, fitness_from_criterion(summary.criterion));
    const int total = summary.model.observations(1) + summary.model.observations(2) +
                      summary.model.observations(3);
    EXPECT_EQ(total, 300 - 3);  // t from max(m, lag) + 1 = 4
    const std::string text = format_structure_summary(summary);
    EXPECT_NE(text.find("component 2 at lag 3, 3 regimes"), std::string::npos) << text;
    EXPECT_NE(text.find("Criterion: "), std::string::npos);
}

// A population-sized batch of random structures, with repeats and with
// members that differ only in fields their structure does not use.
std::vector<FieldCodes> mixed_batch(int n_oss, int count, unsigned seed) {
    std::mt19937 gen(seed);
    const auto sizes = structure_field_sizes(n_oss);
    std::vector<FieldCodes> out;
    for (int i = 0; i < count; ++i) {
        FieldCodes c{};
        for (int f = 0; f < kNumFields; ++f) {
            c[static_cast<std::size_t>(f)] = static_cast<std::uint32_t>(
                gen() % static_cast<unsigned>(sizes[static_cast<std::size_t>(f)]));
        }
        out.push_back(c);
        if (i % 5 == 0) {
            out.push_back(c);  // an exact repeat
        }
        if (i % 7 == 0) {
            FieldCodes twin = c;
            twin[12] = (twin[12] + 1) % 4;  // field 12 is never used
            out.push_back(twin);
        }
    }
    return out;
}

struct Batch {
    std::vector<Member> members;
    std::vector<individual*> pointers;
    Batch(const ChromosomeLayout& layout, const std::vector<FieldCodes>& all) {
        for (const auto& c : all) {
            members.push_back(make_member(layout, c));
        }
        for (auto& m : members) {
            m.ind.chrom = m.chrom.data();
            pointers.push_back(&m.ind);
        }
    }
};

bool same_bits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST_F(ThresholdAppTest, FitnessesDoNotDependOnThreadsOrCache) {
    const auto all = mixed_batch(300, 60, 4);
    // Two generations: the second batch repeats part of the first, so the
    // cache answers from one generation to the next.
    const auto second = mixed_batch(300, 30, 4);
    std::vector<double> reference;
    for (int threads : {1, 2, 4}) {
        for (bool cache : {false, true}) {
            ThresholdApp app(fx.problem, threads, cache);
            Batch first_batch(layout, all);
            Batch second_batch(layout, second);
            app.objfunc(first_batch.pointers, layout);
            app.objfunc(second_batch.pointers, layout);
            std::vector<double> got;
            for (const auto* b : {&first_batch, &second_batch}) {
                for (const auto& m : b->members) {
                    got.push_back(m.ind.raw_fitness);
                }
            }
            if (reference.empty()) {
                reference = got;
            }
            ASSERT_EQ(got.size(), reference.size());
            for (std::size_t i = 0; i < got.size(); ++i) {
                EXPECT_TRUE(same_bits(got[i], reference[i]))
                    << "member " << i << " threads " << threads << " cache " << cache;
            }
            const long long total = static_cast<long long>(got.size());
            EXPECT_EQ(app.estimations() + app.estimations_saved(), total);
            if (!cache) {
                EXPECT_EQ(app.estimations(), total);
            }
        }
    }
}

TEST_F(ThresholdAppTest, CacheEstimatesEachDistinctStructureOnce) {
    const auto all = mixed_batch(300, 40, 9);
    std::set<StructureKey> distinct;
    for (const auto& c : all) {
        distinct.insert(structure_key(fx.problem, decode_structure(c)));
    }
    ThresholdApp app(fx.problem, 2, true);
    Batch batch(layout, all);
    app.objfunc(batch.pointers, layout);
    EXPECT_EQ(app.estimations(), static_cast<long long>(distinct.size()));
    EXPECT_EQ(app.estimations_saved(), static_cast<long long>(all.size() - distinct.size()));
    EXPECT_GT(app.estimations_saved(), 0);

    // The same batch again is answered entirely from the cache.
    Batch again(layout, all);
    app.objfunc(again.pointers, layout);
    EXPECT_EQ(app.estimations(), static_cast<long long>(distinct.size()));
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_TRUE(same_bits(again.members[i].ind.raw_fitness, batch.members[i].ind.raw_fitness));
    }
}

TEST_F(ThresholdAppTest, AFailingEstimateSurfacesOnTheCallingThread) {
    // A threshold component beyond n_comp cannot come from a chromosome of
    // this layout; force one through a layout for a larger problem.
    ProblemFixture small(random_series(300, 3, 2), 300, 3, 2, 20);
    ThresholdApp app(small.problem, 2, false);
    std::vector<FieldCodes> all(6, FieldCodes{0, 1, 0, 0, 2, 40, 200, 0, 0, 0, 0, 0, 0, 2, 0, 0});
    ChromosomeLayout wide = layout_for(structure_field_sizes(1000));
    all[3][5] = 900;  // position beyond n_oss
    Batch batch(wide, all);
    EXPECT_THROW(app.objfunc(batch.pointers, wide), std::invalid_argument);
    // The pool stays usable.
    all[3][5] = 41;
    Batch fine(wide, all);
    EXPECT_NO_THROW(app.objfunc(fine.pointers, wide));
}

std::string file_text(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(FastSearch, WholeRunIsIdenticalForAnyThreadCountWithAndWithoutCache) {
    RunConfig config;
    config.course_file = std::string(VELMORA_SOURCE_DIR) + "/data/eustockmarkets_returns.txt";
    config.n_oss = 400;
    config.n_comp = 4;
    config.model.max_order = 2;
    config.model.min_obs_per_regime = 30;
    config.popsize = 20;
    config.maxgen = 6;
    config.pmutation = 0.05;
    std::string reference_files;
    RunResult reference;
    bool first = true;
    for (int threads : {1, 2, 4}) {
        for (bool cache : {true, false}) {
            NullConsole console;
            RunOptions options;
            options.workdir = testing::fresh_directory("fast_search_" + std::to_string(threads) +
                                                       (cache ? "_cache" : "_nocache"));
            options.seed = 321;
            options.threads = threads;
            options.cache = cache;
            options.console = &console;
            const RunResult r = run_search(config, options);
            std::string files;
            for (const char* name :
                 {"Output.txt", "OutputThresholdUnivariate.txt",
                  "PredictionThresholdUnivariate.txt", "ResidualThresholdUnivariate.txt",
                  "OutputThresholdBivariate.txt", "PredictionThresholdBivariate.txt",
                  "ResidualThresholdBivariate.txt"}) {
                files += std::string(name) + "\n" + file_text(options.workdir / name);
            }
            EXPECT_EQ(r.nevals, r.estimations + r.estimations_saved)
                << threads << " threads, cache " << cache;
            if (!cache) {
                EXPECT_EQ(r.estimations_saved, 0);
            }
            if (first) {
                reference = r;
                reference_files = files;
                first = false;
                EXPECT_TRUE(r.reported);
                continue;
            }
            EXPECT_EQ(r.nevals, reference.nevals) << threads << " threads, cache " << cache;
            EXPECT_EQ(r.best_codes, reference.best_codes);
            EXPECT_TRUE(same_bits(r.best_fitness, reference.best_fitness));
            EXPECT_TRUE(files == reference_files) << threads << " threads, cache " << cache;
        }
    }
    EXPECT_GT(reference.estimations_saved, 0);
}

}  // namespace
}  // namespace velmora
