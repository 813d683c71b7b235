#pragma once
// What the statistics and the fitness scaling read and write of a population:
// each member's raw and scaled fitness, nothing else. The engine's records
// hold them among their other fields; the view reaches them through two
// accessors made for the record type, so this folder needs no engine header.

namespace velmora {

class FitnessView {
  public:
    // records[0 .. size-1]; Record has double members raw_fitness and
    // scaled_fitness. The records must outlive the view.
    template <class Record>
    FitnessView(Record* records, int size)
        : records_(records),
          size_(size),
          raw_([](void* r, int j) -> double& { return static_cast<Record*>(r)[j].raw_fitness; }),
          scaled_([](void* r, int j) -> double& {
              return static_cast<Record*>(r)[j].scaled_fitness;
          }) {}

    int size() const { return size_; }
    double& raw(int j) const { return raw_(records_, j); }
    double& scaled(int j) const { return scaled_(records_, j); }

  private:
    void* records_;
    int size_;
    double& (*raw_)(void*, int);
    double& (*scaled_)(void*, int);
};

}  // namespace velmora
