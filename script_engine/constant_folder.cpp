#include "script_engine/constant_folder.h"

#include "script_engine/operators.h"
#include "script_engine/tokens.h"
#include "script_engine/value_ops.h"

namespace zelvo::script {
namespace {

bool isConstant(const Node* n)
{
    return n && n->kind == NodeKind::Constant;
}

// Holds a temporary value and releases it whatever happens.
struct TempValue {
    ScriptValue v = intValue(0);
    ~TempValue() { releaseValue(v); }
};

} // namespace

Node* ConstantFolder::fold(Node* node)
{
    if (!node)
        return node;
    switch (node->kind) {
    case NodeKind::Binary: {
        if (!isConstant(node->child[0]) || !isConstant(node->child[1]))
            return node;
        TempValue result;
        copyValue(result.v, node->child[0]->value);
        binaryOperation(binaryOpcode(node->op), result.v, node->child[1]->value);
        Node* constant = tree_.make(NodeKind::Constant, node->line);
        moveValue(constant->value, result.v);
        return constant;
    }
    case NodeKind::Unary: {
        Node* operand = node->child[0];
        if (!isConstant(operand))
            return node;
        TempValue result;
        copyValue(result.v, operand->value);
        unaryOperation(unaryOpcode(node->op), result.v);
        moveValue(operand->value, result.v);
        return operand;
    }
    case NodeKind::Conditional:
        if (!isConstant(node->child[0]))
            return node;
        return integerValue(node->child[0]->value) != 0 ? node->child[1] : node->child[2];
    case NodeKind::Logical: {
        if (!isConstant(node->child[0]))
            return node;
        int32_t left = integerValue(node->child[0]->value);
        if (node->op == tkAndAnd) {
            if (left != 0)
                return node->child[1];
        } else if (left == 0) {
            return node->child[1];
        }
        Node* constant = tree_.make(NodeKind::Constant, node->line);
        constant->value = intValue(node->op == tkAndAnd ? 0 : 1);
        return constant;
    }
    default:
        return node;
    }
}

} // namespace zelvo::script
