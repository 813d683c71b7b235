#pragma once
// The user's choices for a run, as the parameter dialog holds them, and the
// one validation both front ends call.

#include <string>

namespace velmora {

struct RunConfig {
    int selection_choice = 0;  // 0 Roulette Wheel, 1 Stochastic Remainder, 2 Tournament, 3 SUS
    int tourneysize = 0;
    int crossover_choice = 0;  // 0 One Point, 1 Two Point, 2 Uniform
    int scaling_method = 0;    // 0 Linear, 1 Boltzmann, 2 AutoControl, 3 Sigma, 4 Window
    float scalemult = 1.2f;
    double beta = 0.0;
    double sigma_trunc = 0.0;
    double scaling_window = 0.0;  // a whole number held as a double
    int maxgen = 100;
    double pcross = 0.9;
    double pmutation = 0.001;
    int popsize = 50;
    int n_oss = 1000;
    int n_comp = 4;
    int min_oss_reg = 50;
    std::string course_file = "TassidiCambio.txt";
    int m = 2;
};

}  // namespace velmora
