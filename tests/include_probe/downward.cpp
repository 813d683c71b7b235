// Compiled with the model folder's include path only: the model sees itself,
// numeric and support, so this file compiles.
#include "model/problem.hpp"
#include "numeric/arrays.hpp"
#include "support/errors.hpp"

int main() {
    return 0;
}
