// Chromosome packing and field access.

#include "engine/individual.hpp"

#include <cstddef>

#include "support/errors.hpp"
#include "support/format.hpp"

namespace velmora {

namespace {

// The low `bits` bits set, 1 <= bits <= 32; a shift by 32 is undefined, so the
// full word is spelled out.
std::uint32_t low_mask(int bits) {
    return bits >= UINTSIZE ? 0xFFFFFFFFu : ((std::uint32_t{1} << bits) - 1u);
}

void check_range(int i, int j) {
    if (j < i) {
        throw EngineFault("Error in ithruj2int: j < i\n");
    }
    if (static_cast<unsigned>(j - i + 1) > static_cast<unsigned>(UINTSIZE)) {
        throw EngineFault("Error in ithruj2int: j-i+1 > UINTSIZE\n");
    }
}

// First and last bit of field n, after the caller has checked n.
int field_first_bit(int n, const ChromosomeLayout& layout) {
    return n == 0 ? 1 : layout.field_ends[n - 1] + 1;
}

// n is never negative from a correct caller; a negative n would index before
// field_ends, so it is refused with the same message as one past the end.
void check_field(const char* operation, int n, const ChromosomeLayout& layout) {
    if (n >= layout.numfields || n < 0 || static_cast<std::size_t>(n) >= layout.field_ends.size()) {
        throw EngineFault(strprintf(" Error in call to %s, n (= %d) >= nbroffields (= %d)",
                                    operation, n, layout.numfields));
    }
}

// Bits needed for a field of `size` codes: the smallest b in 1..16 with
// 2^b >= size, else 17.
int field_width(int size) {
    for (int b = 1; b <= 16; ++b) {
        if ((1 << b) >= size) {
            return b;
        }
    }
    return 17;
}

}  // namespace

void compute_field_layout(ChromosomeLayout& layout) {
    const auto numfields = static_cast<std::size_t>(layout.numfields);
    layout.field_ends.resize(numfields);
    int total = 0;
    for (std::size_t k = 0; k < numfields; ++k) {
        total += field_width(layout.field_sizes[k]);
        layout.field_ends[k] = total;
    }
    layout.lchrom = total;
    layout.chromsize = layout.lchrom / UINTSIZE + (layout.lchrom % UINTSIZE != 0 ? 1 : 0);
}

std::uint32_t ithruj2int(int i, int j, const std::uint32_t* chrom) {
    check_range(i, j);
    const int wi = (i - 1) / UINTSIZE;
    const int wj = (j - 1) / UINTSIZE;
    const int bi = i - UINTSIZE * wi;
    const int bj = j - UINTSIZE * wj;
    if (wi == wj) {
        return (chrom[wi] >> (bi - 1)) & low_mask(j - i + 1);
    }
    // Two words: bi >= 2 and bj <= 31 here, so every shift is below 32.
    const std::uint32_t low = chrom[wi] >> (bi - 1);
    const std::uint32_t high = chrom[wj] & low_mask(bj);
    return low | (high << (33 - bi));
}

void int2ithruj(int i, int j, std::uint32_t value, std::uint32_t* chrom) {
    check_range(i, j);
    const int wi = (i - 1) / UINTSIZE;
    const int wj = (j - 1) / UINTSIZE;
    const int bi = i - UINTSIZE * wi;
    const int bj = j - UINTSIZE * wj;
    if (wi == wj) {
        const std::uint32_t mask = low_mask(j - i + 1) << (bi - 1);
        chrom[wi] = (chrom[wi] & ~mask) | (value << (bi - 1));
        return;
    }
    chrom[wj] = (chrom[wj] & ~low_mask(bj)) | (value >> (33 - bi));
    const std::uint32_t mask = low_mask(33 - bi) << (bi - 1);
    chrom[wi] = (chrom[wi] & ~mask) | (value << (bi - 1));
}

std::uint32_t getfield(int n, const ChromosomeLayout& layout, const std::uint32_t* chrom) {
    check_field("getfield", n, layout);
    return ithruj2int(field_first_bit(n, layout), layout.field_ends[n], chrom);
}

void putfield(int n, const ChromosomeLayout& layout, std::uint32_t value, std::uint32_t* chrom) {
    check_field("putfield", n, layout);
    int2ithruj(field_first_bit(n, layout), layout.field_ends[n], value, chrom);
}

}  // namespace velmora
