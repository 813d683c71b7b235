#include "engine/params.hpp"

namespace velmora {

const char* selection_name(SelectionCode code) {
    switch (code) {
        case SelectionCode::roulette:
            return "rselect.c";
        case SelectionCode::universal_sampling:
            return "suselect.c";
        case SelectionCode::tournament:
            return "tselect.c";
        case SelectionCode::remainder:
            return "stochastic_remainder";
    }
    return "rnkslect.c";
}

const char* crossover_name(CrossoverCode code) {
    switch (code) {
        case CrossoverCode::one_point:
            return "oneptx.c";
        case CrossoverCode::two_point:
            return "twoptx.c";
        case CrossoverCode::uniform:
            return "unifx.c";
    }
    return "";
}

const char* mutation_name(int mutation_code) {
    static const char* const names[] = {"bitmutat", "multimut", "scramble", "swap",
                                        "user_mutation"};
    return mutation_code >= 0 && mutation_code < 5 ? names[mutation_code] : "";
}

}  // namespace velmora
