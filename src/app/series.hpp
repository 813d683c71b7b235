#pragma once
// Reading the course file: the observed series as serie_matrix.

#include <filesystem>

#include "numeric/arrays.hpp"

namespace velmora {

// Reads the first n_oss*n_comp numbers of the file in row order into a matrix
// with rows 1..n_oss and columns 1..n_comp ([t][k] = component k at time t).
// Surplus numbers are ignored. Throws ConfigError with
// "File %s could not be opened" when the file cannot be opened, and with a
// message naming the file and the fault when it holds too few numbers, a token
// that is not a number (by its position) or a value that is not finite.
double_matrix read_course_file(const std::filesystem::path& path, int n_oss, int n_comp);

}  // namespace velmora
