#pragma once
// One member of a population and the packing of its chromosome.
//
// A chromosome is chromsize unsigned 32-bit words. Bit p (1-based) lives in
// word (p-1)/32 at bit (p-1)%32, bit 0 being the least significant. The
// numfields fields lie end to end from bit 1; field k ends at field_ends[k].

#include <cstdint>
#include <vector>

namespace velmora {

constexpr int UINTSIZE = 32;

struct individual {
    std::uint32_t* chrom = nullptr;  // points into the engine's chrom_space
    double scaled_fitness = 0.0;
    double raw_fitness = 0.0;
    std::int32_t eval_number = 0;
    std::int32_t xsite1 = 0;
    std::int32_t xsite2 = 0;
    std::int32_t parent1 = 0;  // 1-based index in oldpop, 0 = none
    std::int32_t parent2 = 0;
    void* utility = nullptr;  // application data; Velmora's application keeps none
};

struct ChromosomeLayout {
    int numfields = 0;
    std::vector<int> field_sizes;  // alphabet size of each field (not a bit count)
    std::vector<int> field_ends;   // 1-based position of each field's last bit
    int lchrom = 0;
    int chromsize = 0;
};

// Derives field_ends, lchrom and chromsize from numfields and field_sizes
// (each size 2..131072): a field of s codes takes the smallest b in 1..16 with
// 2^b >= s bits, else 17.
void compute_field_layout(ChromosomeLayout& layout);

// Bits i..j (1-based, inclusive) as an unsigned value. Throws EngineFault with
// "Error in ithruj2int: j < i\n" or "Error in ithruj2int: j-i+1 > UINTSIZE\n".
std::uint32_t ithruj2int(int i, int j, const std::uint32_t* chrom);
// Stores value into bits i..j; the value is not masked. Same faults.
void int2ithruj(int i, int j, std::uint32_t value, std::uint32_t* chrom);

// Code of field n (0-based). n >= numfields throws EngineFault with
// " Error in call to getfield, n (= %d) >= nbroffields (= %d)".
std::uint32_t getfield(int n, const ChromosomeLayout& layout, const std::uint32_t* chrom);
// Same for putfield, with the putfield message.
void putfield(int n, const ChromosomeLayout& layout, std::uint32_t value, std::uint32_t* chrom);

}  // namespace velmora
