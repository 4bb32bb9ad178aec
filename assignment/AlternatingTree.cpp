// The bound checks must survive Release builds, which define NDEBUG.
#undef NDEBUG
#include "assignment/AlternatingTree.h"

#include <cassert>

namespace atsp {

AlternatingTree::AlternatingTree(Node halfNodes, Node root)
    : halfNodes(halfNodes), rootNode(root), parents(halfNodes, 0), inTree(halfNodes, 0) {
    inTree[root] = 1;
}

void AlternatingTree::restart(Node root) {
    for (const Node member : members) {
        inTree[member] = 0;
        parents[member] = 0;
    }
    members.clear();
    inTree[rootNode] = 0;
    parents[rootNode] = 0;
    rootNode = root;
    inTree[root] = 1;
}

void AlternatingTree::add(Node node, Node parent) {
    assert(node < halfNodes);
    assert(parent < halfNodes);
    if (!inTree[node]) {
        members.push_back(node);
    }
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

}  // namespace atsp
