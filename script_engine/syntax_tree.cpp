#include "script_engine/syntax_tree.h"

#include <algorithm>

namespace zelvo::script {

Node* Tree::make(NodeKind kind, int line, Node* c0, Node* c1, Node* c2, Node* c3)
{
    auto node = std::make_unique<Node>(kind, line);
    node->child[0] = c0;
    node->child[1] = c1;
    node->child[2] = c2;
    node->child[3] = c3;
    int deepest = 0;
    for (Node* c : node->child)
        if (c)
            deepest = std::max(deepest, c->height);
    node->height = node->isList() ? std::max(deepest, 1) : deepest + 1;
    nodes_.push_back(std::move(node));
    return nodes_.back().get();
}

} // namespace zelvo::script
