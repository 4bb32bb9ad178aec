// placeholder until the assignment-problem unit lands
