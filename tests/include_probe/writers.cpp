// Compiled with the rolling evaluation's include path, which reaches every
// computing folder: none of them may see the writers, so this file must fail
// to compile.
#include "output/command_output.hpp"

int main() {
    return 0;
}
