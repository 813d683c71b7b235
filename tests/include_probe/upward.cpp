// Compiled with the model folder's include path only: the model must not see
// the run's configuration, so this file must fail to compile.
#include "app/run_config.hpp"
#include "model/problem.hpp"

int main() {
    return 0;
}
