#include "graph/CostLattice.h"

#include <cstddef>
#include <limits>
#include <numeric>
#include <vector>

#include "graph/RowPassDeadline.h"

namespace atsp {

namespace {

// Weighted union-find over 2n nodes: tails i and heads n + j. The potential
// w(x) = offset(x) + w(root of x); an arc i -> j of cost c asks for
// w(i) - w(n + j) = c, i.e. u(i) = w(i) and v(j) = -w(n + j).
class Potentials {
  public:
    explicit Potentials(std::size_t size) : parent_(size), offset_(size, 0) {
        std::iota(parent_.begin(), parent_.end(), std::size_t{0});
    }

    // The root of x, with offset_[x] made relative to it and the path to it
    // compressed.
    std::size_t find(std::size_t x) {
        std::size_t root = x;
        std::int64_t total = 0;  // w(x) - w(root)
        while (parent_[root] != root) {
            total += offset_[root];
            root = parent_[root];
        }
        for (std::size_t node = x; parent_[node] != root && node != root;) {
            const std::size_t next = parent_[node];
            const std::int64_t own = offset_[node];
            parent_[node] = root;
            offset_[node] = total;
            total -= own;
            node = next;
        }
        return root;
    }
    std::int64_t offset(std::size_t x) const { return offset_[x]; }

    // Joins the sets of a and b (roots ra, rb) so that w(a) - w(b) = difference.
    void join(std::size_t a, std::size_t ra, std::size_t b, std::size_t rb, std::int64_t difference) {
        // w(ra) = w(a) - offset(a) and w(rb) = w(b) - offset(b), so
        // w(rb) = w(ra) + offset(a) - difference - offset(b).
        parent_[rb] = ra;
        offset_[rb] = offset_[a] - difference - offset_[b];
    }

  private:
    std::vector<std::size_t> parent_;
    std::vector<std::int64_t> offset_;
};

}  // namespace

CostLattice::CostLattice(const Graph& graph, std::chrono::steady_clock::time_point deadline) {
    const std::size_t n = graph.cityCount();
    Potentials potentials(2 * n);
    std::int64_t g = 0;
    for (Node tail = 0; tail < n; ++tail) {
        if (rowPassOutOfTime(tail, deadline)) {
            return;  // modulus 1
        }
        const auto heads = graph.successors(tail);
        const auto costs = graph.costs(tail);
        for (std::size_t k = 0; k < heads.size(); ++k) {
            const std::size_t a = tail;
            const std::size_t b = n + heads[k];
            const std::size_t ra = potentials.find(a);
            const std::size_t rb = potentials.find(b);
            if (ra != rb) {
                potentials.join(a, ra, b, rb, costs[k]);
            } else {
                // Offsets are sums of fewer than 2n costs of 32 bits: below
                // 2^48 in size for n < 2^16.
                const std::int64_t residual =
                    costs[k] - (potentials.offset(a) - potentials.offset(b));
                g = std::gcd(g, residual < 0 ? -residual : residual);
                if (g == 1) {
                    // Nothing beyond integrality, whatever the other arcs
                    // hold: the usual case, found within the first rows.
                    return;
                }
            }
        }
    }
    // K = sum of u + sum of v = sum over tails of w - sum over heads of w.
    // The roots' free values cancel where a component holds as many tails as
    // heads; where one does not, there is no tour.
    // Each potential is below 2n 2^31 <= 2^48 in size, their sum below
    // 2^65: summed in 128 bits.
    std::vector<std::int64_t> balance(2 * n, 0);
    __int128 sum = 0;
    for (std::size_t x = 0; x < 2 * n; ++x) {
        const std::size_t root = potentials.find(x);
        const bool isTail = x < n;
        balance[root] += isTail ? 1 : -1;
        sum += isTail ? potentials.offset(x) : -potentials.offset(x);
    }
    for (std::size_t x = 0; x < 2 * n; ++x) {
        if (balance[x] != 0) {
            return;  // no tour: keep modulus 1
        }
    }
    modulus_ = g;
    // With g = 0 the sum is every tour's cost: at most n 2^31 in size.
    residue_ = static_cast<std::int64_t>(g == 0 ? sum : ((sum % g) + g) % g);
}

std::int64_t CostLattice::roundUp(std::int64_t bound) const {
    if (modulus_ == 0) {
        return bound <= residue_ ? residue_ : bound;
    }
    const std::int64_t step = ((residue_ - bound % modulus_) % modulus_ + modulus_) % modulus_;
    if (bound > std::numeric_limits<std::int64_t>::max() - step) {
        return bound;
    }
    return bound + step;
}

std::int64_t CostLattice::roundDown(std::int64_t value) const {
    if (modulus_ == 0) {
        return value >= residue_ ? residue_ : value;
    }
    const std::int64_t step = ((value % modulus_ - residue_) % modulus_ + modulus_) % modulus_;
    if (value < std::numeric_limits<std::int64_t>::min() + step) {
        return value;
    }
    return value - step;
}

}  // namespace atsp
