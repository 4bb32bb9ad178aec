// The bound checks must survive Release builds, which define NDEBUG.
#undef NDEBUG
#include "AssignmentProblem/AlternatingTree.h"

#include <cassert>

AlternatingTree::AlternatingTree(Node halfNodes, Node root)
    : halfNodes(halfNodes), rootNode(root), parents(halfNodes, 0), inTree(halfNodes, 0) {
    inTree[root] = 1;
}

void AlternatingTree::add(Node node, Node parent) {
    assert(node < halfNodes);
    assert(parent < halfNodes);
    inTree[node] = 1;
    parents[node] = parent;
}

Node AlternatingTree::parentOf(Node node) const {
    assert(node < halfNodes);
    return parents[node];
}

bool AlternatingTree::contains(Node node) const {
    assert(node < halfNodes);
    return inTree[node] != 0;
}
