#pragma once

#include <memory>
#include <string>
#include <vector>

#include "script_engine/script_value.h"

namespace zelvo::script {

enum class NodeKind {
    DeclList,       // item, rest
    VarList,        // item, rest
    VarDecl,        // identifier, initializer
    Initializer,    // expression
    Function,       // identifier, parameters, body
    Param,          // identifier, rest
    Block,          // declarations, statements
    LocalDeclList,  // declaration, rest
    StatementList,  // statement, rest
    If,             // condition, then, else
    While,          // condition, body
    Do,             // body, condition
    For,            // initialisation, condition, step, body
    Break,
    Continue,
    Return,         // expression
    Comma,          // left, right
    Assign,         // target, value; op
    Conditional,    // condition, if-true, if-false
    Logical,        // left, right; op
    Binary,         // left, right; op
    Unary,          // operand; op
    PreInc,         // operand; op
    PostInc,        // operand; op
    Call,           // identifier, arguments
    Arg,            // expression, rest; count
    Constant,       // value
    Identifier,     // name
};

// A syntax-tree node. The tree's nodes are owned by the Tree that made them, so dropping
// a tree never recurses however long its lists are.
struct Node {
    NodeKind kind;
    int line = 0;
    int op = 0;     // token code of the operator
    int count = 0;  // ArgNode: arguments from this one to the end of the list
    int height = 1; // nesting depth below this node, list links not counted
    Node* child[4] = {nullptr, nullptr, nullptr, nullptr};
    std::string name;
    ScriptValue value = intValue(0);

    Node(NodeKind k, int ln) : kind(k), line(ln) {}
    ~Node() { releaseValue(value); }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    // Lists are right-leaning chains; their links add no depth that a walk recurses on.
    bool isList() const
    {
        return kind == NodeKind::DeclList || kind == NodeKind::VarList || kind == NodeKind::Param
            || kind == NodeKind::LocalDeclList || kind == NodeKind::StatementList
            || kind == NodeKind::Comma || kind == NodeKind::Arg;
    }
};

// Owner of all nodes of one compilation.
class Tree {
public:
    Node* make(NodeKind kind, int line, Node* c0 = nullptr, Node* c1 = nullptr,
               Node* c2 = nullptr, Node* c3 = nullptr);
    size_t size() const { return nodes_.size(); }
    void clear() { nodes_.clear(); }

private:
    std::vector<std::unique_ptr<Node>> nodes_;
};

} // namespace zelvo::script
