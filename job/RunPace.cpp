#include "job/RunPace.h"

#include <algorithm>
#include <cmath>

namespace {

// A step shows its own pace once this much of it is done, after this long.
constexpr int kTilesForPace = 2;
constexpr double kPartForPace = 0.05;
constexpr qint64 kMsForPace = 500;
// Without tiles to weigh them against, outputs count this many a second.
constexpr double kUnitsPerSecondAlone = 10.0;

} // namespace

RunPace::RunPace(std::vector<RunPlan> plan, qint64 nowMs) : m_plan(std::move(plan)) {
    if (m_plan.empty()) {
        m_plan.emplace_back();
    }
    double tiles = 0;
    double tileSeconds = 0;
    for (const RunPlan& p : m_plan) {
        tiles += p.tiles;
        tileSeconds += p.tileSeconds;
    }
    m_unitsPerSecond = tiles > 0 && tileSeconds > 0 ? tiles / tileSeconds : kUnitsPerSecondAlone;
    double units = tiles;
    for (const RunPlan& p : m_plan) {
        for (const TimedOutput& o : p.outputs) {
            units += unitsOf(o.seconds);
        }
    }
    m_maximum = static_cast<int>(std::lround(std::min(units, 1e9)));
    m_stepMs = nowMs;
}

int RunPace::maximum() const {
    return m_maximum;
}

int RunPace::value() const {
    double units = m_tiles;
    for (int s = 0; s < m_sheet; ++s) {
        for (const TimedOutput& o : m_plan[size_t(s)].outputs) {
            units += unitsOf(o.seconds);
        }
    }
    const std::vector<TimedOutput>& outputs = m_plan[size_t(m_sheet)].outputs;
    for (int i = 0; i < m_output; ++i) {
        units += unitsOf(outputs[size_t(i)].seconds);
    }
    if (m_output >= 0) {
        units += m_part * unitsOf(outputs[size_t(m_output)].seconds);
    }
    return std::clamp(static_cast<int>(std::lround(units)), 0, m_maximum);
}

int RunPace::tilesBefore(int sheet) const {
    int tiles = 0;
    for (int s = 0; s < sheet; ++s) {
        tiles += m_plan[size_t(s)].tiles;
    }
    return tiles;
}

void RunPace::beginStep(qint64 nowMs) {
    m_stepMs = nowMs;
    m_stepTiles = m_tiles;
}

void RunPace::tilesReported(int count) {
    m_tiles = std::max(0, count);
}

void RunPace::sheetStarted(int index, qint64 nowMs) {
    if (index < 0 || index >= static_cast<int>(m_plan.size())) {
        return;
    }
    m_sheet = index;
    m_output = -1;
    m_part = 0.0;
    beginStep(nowMs);
}

void RunPace::outputStep(const QString& key, double part, qint64 nowMs) {
    const std::vector<TimedOutput>& outputs = m_plan[size_t(m_sheet)].outputs;
    const auto it = std::find_if(outputs.begin(), outputs.end(),
                                 [&key](const TimedOutput& o) { return o.key == key; });
    if (it == outputs.end()) {
        return;
    }
    const auto index = static_cast<int>(it - outputs.begin());
    if (index != m_output) {
        m_output = index;
        beginStep(nowMs);
    }
    m_part = std::clamp(part, 0.0, 1.0);
}

qint64 RunPace::secondsLeft(qint64 nowMs) const {
    const RunPlan& plan = m_plan[size_t(m_sheet)];
    const double elapsed = double(std::max<qint64>(0, nowMs - m_stepMs)) / 1000.0;
    const bool longEnough = nowMs - m_stepMs >= kMsForPace;
    double left = 0.0;
    size_t next = 0;
    if (m_output < 0) {
        const int done = std::clamp(m_tiles - tilesBefore(m_sheet), 0, plan.tiles);
        const int doneInStep = m_tiles - m_stepTiles;
        const int toCome = plan.tiles - done;
        left = doneInStep >= kTilesForPace && longEnough
                   ? elapsed * toCome / doneInStep
                   : plan.tileSeconds * toCome / std::max(1, plan.tiles);
    } else {
        const double seconds = plan.outputs[size_t(m_output)].seconds;
        left = m_part >= kPartForPace && longEnough
                   ? elapsed * (1.0 - m_part) / m_part
                   : std::max(0.0, std::min(seconds * (1.0 - m_part), seconds - elapsed));
        next = size_t(m_output) + 1;
    }
    for (size_t i = next; i < plan.outputs.size(); ++i) {
        left += plan.outputs[i].seconds;
    }
    for (size_t s = size_t(m_sheet) + 1; s < m_plan.size(); ++s) {
        left += m_plan[s].tileSeconds;
        for (const TimedOutput& o : m_plan[s].outputs) {
            left += o.seconds;
        }
    }
    return std::llround(std::ceil(left));
}
