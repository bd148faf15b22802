#pragma once

// A figure the program learns from what it measures (seconds per megapixel of an output,
// bytes of a tile, the time a server takes to answer): the mean of its samples, each with a
// weight (a run's figure by its megapixels, an answer time by the turns it stands for). Up
// to `memory` of weight it is the plain weighted mean; beyond it the older samples fade, so
// that it follows a machine or a server that changes.

#include <optional>

class Measure {
public:
    explicit constexpr Measure(double memory = 16.0) : m_memory(memory) {}

    // A sample that is not a finite number of at least 0, or has no weight, is left out.
    void add(double sample, double weight = 1.0);
    // The samples of another measure of the same figure, taken after this one's.
    void add(const Measure& later);
    // Nothing until a sample was added.
    std::optional<double> estimate() const;
    // The weight behind the estimate: at most the memory.
    double weight() const { return m_weight; }

    // As kept between sessions: the estimate and its weight, checked as a sample is.
    static Measure Restored(double memory, double value, double weight);

private:
    double m_memory;
    double m_value = 0.0;
    double m_weight = 0.0;
};
