#include "numeric/arrays.hpp"

#include <string>

#include "support/errors.hpp"

namespace velmora {

void fatal_numeric_error(const char* message) {
    std::string text = "Numerical Recipes run-time error...\n";
    text += message;
    text += "\n...now exiting to system...\n";
    throw NumericError(std::move(text));
}

}  // namespace velmora
