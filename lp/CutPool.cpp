#include "lp/CutPool.h"

#include <algorithm>
#include <mutex>
#include <stdexcept>

namespace atsp {

std::vector<std::uint32_t> cutSide(std::span<const std::uint32_t> cities, std::size_t cityCount) {
    for (std::size_t k = 0; k < cities.size(); ++k) {
        if (cities[k] >= cityCount) {
            throw std::invalid_argument("a cut's city is out of range");
        }
        if (k > 0 && cities[k] <= cities[k - 1]) {
            throw std::invalid_argument("a cut's cities are not sorted and distinct");
        }
    }
    if (cities.empty() || cities.size() == cityCount) {
        return {};
    }
    const std::size_t rest = cityCount - cities.size();
    const bool keepSet = cities.size() < rest || (cities.size() == rest && cities.front() == 0);
    if (keepSet) {
        return {cities.begin(), cities.end()};
    }
    std::vector<std::uint32_t> complement;
    complement.reserve(rest);
    std::size_t next = 0;
    for (std::uint32_t city = 0; city < cityCount; ++city) {
        if (next < cities.size() && cities[next] == city) {
            ++next;
        } else {
            complement.push_back(city);
        }
    }
    return complement;
}

std::size_t CutSideHash::operator()(const std::vector<std::uint32_t>& side) const {
    std::uint64_t hash = 0x9E3779B97F4A7C15u ^ side.size();
    for (const std::uint32_t city : side) {
        hash = (hash ^ city) * 0x100000001B3u;
        hash ^= hash >> 29;
    }
    return static_cast<std::size_t>(hash);
}

CutPool::CutPool(std::size_t cityCount) : cityCount_(cityCount) {}

std::size_t CutPool::size() const {
    std::shared_lock lock(mutex_);
    return sides_.size();
}

std::size_t CutPool::add(std::span<const SubtourCut> cuts) {
    // Normal forms first, outside the lock: that is most of the work.
    std::vector<std::vector<std::uint32_t>> sides;
    sides.reserve(cuts.size());
    for (const SubtourCut& cut : cuts) {
        std::vector<std::uint32_t> side = cutSide(cut.cities, cityCount_);
        if (side.size() >= 2) {
            sides.push_back(std::move(side));
        }
    }
    const std::size_t words = (cityCount_ + 63) / 64;
    std::unique_lock lock(mutex_);
    std::size_t added = 0;
    for (std::vector<std::uint32_t>& side : sides) {
        if (known_.contains(side)) {
            continue;
        }
        std::vector<std::uint64_t> bits(words, 0);
        for (const std::uint32_t city : side) {
            bits[city / 64] |= std::uint64_t{1} << (city % 64);
        }
        known_.insert(side);
        sides_.push_back(std::move(side));
        members_.push_back(std::move(bits));
        ++added;
    }
    return added;
}

std::vector<SubtourCut> CutPool::violated(std::span<const SupportArc> support, double tolerance,
                                          std::size_t maxCount) const {
    // The support by tail, loops, nonpositive values and foreign cities
    // dropped.
    std::vector<std::uint32_t> start(cityCount_ + 1, 0);
    for (const SupportArc& arc : support) {
        if (arc.tail < cityCount_ && arc.head < cityCount_ && arc.tail != arc.head &&
            arc.value > 0) {
            ++start[arc.tail + 1];
        }
    }
    for (std::size_t city = 0; city < cityCount_; ++city) {
        start[city + 1] += start[city];
    }
    std::vector<std::uint32_t> heads(start.back());
    std::vector<double> values(start.back());
    std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
    for (const SupportArc& arc : support) {
        if (arc.tail < cityCount_ && arc.head < cityCount_ && arc.tail != arc.head &&
            arc.value > 0) {
            heads[fill[arc.tail]] = arc.head;
            values[fill[arc.tail]++] = arc.value;
        }
    }

    std::vector<SubtourCut> found;
    {
        std::shared_lock lock(mutex_);
        for (std::size_t cut = 0; cut < sides_.size(); ++cut) {
            const std::vector<std::uint64_t>& bits = members_[cut];
            double outflow = 0;
            for (const std::uint32_t tail : sides_[cut]) {
                for (std::uint32_t arc = start[tail]; arc < start[tail + 1]; ++arc) {
                    const std::uint32_t head = heads[arc];
                    if ((bits[head / 64] >> (head % 64) & 1u) == 0) {
                        outflow += values[arc];
                    }
                }
            }
            if (outflow < 1 - tolerance) {
                found.push_back({sides_[cut], outflow});
            }
        }
    }
    std::sort(found.begin(), found.end(), [](const SubtourCut& a, const SubtourCut& b) {
        if (a.outflow != b.outflow) {
            return a.outflow < b.outflow;
        }
        if (a.cities.size() != b.cities.size()) {
            return a.cities.size() < b.cities.size();
        }
        return a.cities < b.cities;
    });
    if (found.size() > maxCount) {
        found.resize(maxCount);
    }
    return found;
}

}  // namespace atsp
