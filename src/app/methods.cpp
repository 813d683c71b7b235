#include "app/methods.hpp"

namespace velmora {

SelectionCode engine_selection(SelectionMethod method) {
    switch (method) {
        case SelectionMethod::roulette:
            return SelectionCode::roulette;
        case SelectionMethod::remainder:
            return SelectionCode::remainder;
        case SelectionMethod::tournament:
            return SelectionCode::tournament;
        case SelectionMethod::universal_sampling:
            return SelectionCode::universal_sampling;
    }
    return SelectionCode::roulette;  // not reached: every enumerator has a case
}

CrossoverCode engine_crossover(CrossoverMethod method) {
    switch (method) {
        case CrossoverMethod::one_point:
            return CrossoverCode::one_point;
        case CrossoverMethod::two_point:
            return CrossoverCode::two_point;
        case CrossoverMethod::uniform:
            return CrossoverCode::uniform;
    }
    return CrossoverCode::one_point;  // not reached
}

}  // namespace velmora
