// Every field of a fitted model, in declaration order: a field added to
// FittedModel must be added here too, or a model computed on another MPI
// rank arrives without it (the round-trip test compares the bytes again).

#include "model/fitted_model.hpp"
#include "support/executor.hpp"

namespace velmora {

namespace {

void write_int(ByteWriter& out, long long value) {
    out.u64(static_cast<std::uint64_t>(value));
}

int read_int(ByteReader& in) {
    return static_cast<int>(static_cast<long long>(in.u64()));
}

template <std::size_t N>
void write_array(ByteWriter& out, const std::array<double, N>& values) {
    out.doubles(values);
}

template <std::size_t N>
std::array<double, N> read_array(ByteReader& in) {
    const std::vector<double> values = in.doubles();
    std::array<double, N> out{};
    if (values.size() != N) {
        throw std::invalid_argument("A fitted model's bytes hold an array of another size");
    }
    std::copy(values.begin(), values.end(), out.begin());
    return out;
}

void write_regime(ByteWriter& out, const RegimeFit& fit) {
    write_int(out, fit.observations);
    out.ints(fit.times);
    out.doubles(fit.phi);
    out.doubles(fit.deterministic);
    out.doubles(fit.zz_inverse);
    out.doubles(fit.fitted);
    out.doubles(fit.residuals);
    out.doubles(fit.covariance);
}

RegimeFit read_regime(ByteReader& in) {
    RegimeFit fit;
    fit.observations = read_int(in);
    fit.times = in.ints();
    fit.phi = in.doubles();
    fit.deterministic = in.doubles();
    fit.zz_inverse = in.doubles();
    fit.fitted = in.doubles();
    fit.residuals = in.doubles();
    fit.covariance = in.doubles();
    return fit;
}

}  // namespace

void write_structure(ByteWriter& out, const ModelStructure& s) {
    const std::vector<int> values = {s.threshold_variables,
                                     s.one.which_serie,
                                     s.one.n_regime,
                                     s.one.pos_threshold[0],
                                     s.one.pos_threshold[1],
                                     s.one.pos_threshold[2],
                                     s.one.threshold_lag,
                                     s.two.which_serie1,
                                     s.two.which_serie2,
                                     s.two.pos_thres_1,
                                     s.two.pos_thres_2,
                                     s.two.n_regime,
                                     s.two.type_model,
                                     s.two.Ritardo1,
                                     s.two.Ritardo2,
                                     s.orders[0],
                                     s.orders[1],
                                     s.orders[2],
                                     s.orders[3]};
    out.ints(values);
}

ModelStructure read_structure(ByteReader& in) {
    const std::vector<int> v = in.ints();
    if (v.size() != 19) {
        throw std::invalid_argument("A structure's bytes hold another number of fields");
    }
    ModelStructure s;
    s.threshold_variables = v[0];
    s.one.which_serie = v[1];
    s.one.n_regime = v[2];
    s.one.pos_threshold = {v[3], v[4], v[5]};
    s.one.threshold_lag = v[6];
    s.two.which_serie1 = v[7];
    s.two.which_serie2 = v[8];
    s.two.pos_thres_1 = v[9];
    s.two.pos_thres_2 = v[10];
    s.two.n_regime = v[11];
    s.two.type_model = v[12];
    s.two.Ritardo1 = v[13];
    s.two.Ritardo2 = v[14];
    s.orders = {v[15], v[16], v[17], v[18]};
    return s;
}

void write_fitted_model(ByteWriter& out, const FittedModel& m) {
    write_int(out, static_cast<int>(m.status));
    write_int(out, m.order_reached);
    write_int(out, m.failed_regime);
    write_structure(out, m.given);
    write_structure(out, m.used);
    write_int(out, m.n_oss);
    write_int(out, m.k);
    out.ints(m.external_columns);
    write_int(out, m.m);
    out.ints(std::vector<int>(m.orders.begin(), m.orders.end()));
    write_int(out, static_cast<int>(m.include));
    write_int(out, m.trend_origin);
    write_int(out, m.n_regime);
    write_array(out, m.thresholds);
    out.doubles(m.threshold_variable);
    out.doubles(m.threshold_variable2);
    write_int(out, static_cast<long long>(m.passes.size()));
    for (const std::vector<RegimeFit>& pass : m.passes) {
        write_int(out, static_cast<long long>(pass.size()));
        for (const RegimeFit& fit : pass) {
            write_regime(out, fit);
        }
    }
    out.doubles(m.overall_covariance);
    write_array(out, m.regime_aic);
    out.f64(m.aic_total);
    out.f64(m.criterion);
    write_int(out, static_cast<int>(m.criterion_kind));
    out.f64(m.classic_criterion);
    out.ints(m.regime_of_time);
}

FittedModel read_fitted_model(ByteReader& in) {
    FittedModel m;
    m.status = static_cast<EstimateStatus>(read_int(in));
    m.order_reached = read_int(in);
    m.failed_regime = read_int(in);
    m.given = read_structure(in);
    m.used = read_structure(in);
    m.n_oss = read_int(in);
    m.k = read_int(in);
    m.external_columns = in.ints();
    m.m = read_int(in);
    const std::vector<int> orders = in.ints();
    if (orders.size() != m.orders.size()) {
        throw std::invalid_argument("A fitted model's bytes hold another number of orders");
    }
    std::copy(orders.begin(), orders.end(), m.orders.begin());
    m.include = static_cast<Include>(read_int(in));
    m.trend_origin = read_int(in);
    m.n_regime = read_int(in);
    m.thresholds = read_array<3>(in);
    m.threshold_variable = in.doubles();
    m.threshold_variable2 = in.doubles();
    m.passes.resize(in.u64());
    for (std::vector<RegimeFit>& pass : m.passes) {
        pass.resize(in.u64());
        for (RegimeFit& fit : pass) {
            fit = read_regime(in);
        }
    }
    m.overall_covariance = in.doubles();
    m.regime_aic = read_array<4>(in);
    m.aic_total = in.f64();
    m.criterion = in.f64();
    m.criterion_kind = static_cast<Criterion>(read_int(in));
    m.classic_criterion = in.f64();
    m.regime_of_time = in.ints();
    return m;
}

}  // namespace velmora
