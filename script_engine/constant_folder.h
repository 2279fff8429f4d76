#pragma once

#include "script_engine/syntax_tree.h"

namespace zelvo::script {

// Replaces an expression node whose operands are constants by a smaller tree. The parser
// folds each expression child when it builds the parent, so the tree is folded bottom-up
// without any recursion here. Errors of the value operations propagate as OrvException;
// the node is then left as it was.
class ConstantFolder {
public:
    explicit ConstantFolder(Tree& tree) : tree_(tree) {}
    Node* fold(Node* node);

private:
    Tree& tree_;
};

} // namespace zelvo::script
