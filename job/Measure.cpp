#include "job/Measure.h"

#include <algorithm>
#include <cmath>

void Measure::add(double sample, double weight) {
    if (!std::isfinite(sample) || sample < 0.0 || !std::isfinite(weight) || !(weight > 0.0) ||
        !(m_memory > 0.0)) {
        return;
    }
    m_weight = std::min(m_weight + weight, m_memory);
    // The share of the new sample: its part of the weight so far, or of the memory once
    // that is full; a sample heavier than the memory replaces what was there.
    m_value += (sample - m_value) * std::min(1.0, weight / m_weight);
}

void Measure::add(const Measure& later) {
    if (later.m_weight > 0.0) {
        add(later.m_value, later.m_weight);
    }
}

std::optional<double> Measure::estimate() const {
    if (m_weight > 0.0) {
        return m_value;
    }
    return std::nullopt;
}

Measure Measure::Restored(double memory, double value, double weight) {
    Measure m(memory);
    m.add(value, std::min(weight, memory));
    return m;
}
