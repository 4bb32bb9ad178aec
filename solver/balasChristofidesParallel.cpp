#include "solver/balasChristofidesParallel.h"

#include "solver/StartingTour.h"

// Until the branch and bound lands the search reports its starting tour.
TourResult balasChristofidesParallel(const SuccessorLists& successors, const ArcCosts& costs,
                             const std::vector<Node>* startTour) {
    TourResult incumbent{startingTour(successors, startTour), 0};
    incumbent.cost = tourCost(successors, costs, incumbent.tour);
    if (incumbent.cost < 0) {
        incumbent.cost = -1;
    }
    return incumbent;
}
