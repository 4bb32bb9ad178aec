// placeholder until the assignment-problem unit lands
#include "AssignmentProblem/AssignmentProblem.h"
