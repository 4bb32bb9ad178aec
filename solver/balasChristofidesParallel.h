// Parallel branch and bound (placeholder: reports the starting tour).
#pragma once

#include <vector>

#include "solver/Types.h"

TourResult balasChristofidesParallel(const SuccessorLists& successors, const ArcCosts& costs,
                             const std::vector<Node>* startTour);
