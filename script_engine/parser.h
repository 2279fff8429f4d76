#pragma once

#include <functional>
#include <string>
#include <vector>

#include "script_engine/constant_folder.h"
#include "script_engine/lexer.h"
#include "script_engine/syntax_tree.h"

namespace zelvo::script {

// Reads the token stream and builds the syntax tree, folding the constant parts of each
// expression as it goes. Recursive descent with one token of lookahead that is fetched
// only when a decision needs it, so that every node records the same line as a table
// parser would: the line of the last token read when the node is built.
//
// Syntax errors are reported as "Line %d: syntax error" and the parser recovers at three
// points: inside a statement list after the next ';', inside a for header after the next
// ')', at the top level by skipping to the end. After an error no further message is
// reported until three tokens have been accepted.
class Parser {
public:
    using Report = std::function<void(const std::string&)>;

    Parser(Lexer& lexer, Tree& tree, Report report);

    // Parses the whole input; returns the root (null when nothing was built).
    Node* parse();
    int errors() const { return errors_; }

    static constexpr int kMaxNesting = 256;
    static constexpr int kMaxHeight = 1000;
    static constexpr size_t kMaxNodes = 250000;

private:
    struct SyntaxError {};
    struct Abort {};
    class DepthGuard;

    int peek();
    void accept();
    void skip();
    void expect(int token);
    [[noreturn]] void syntaxError();
    [[noreturn]] void fatal(const char* message);
    void recoverStatement();

    Node* make(NodeKind kind, Node* c0 = nullptr, Node* c1 = nullptr, Node* c2 = nullptr,
               Node* c3 = nullptr);
    Node* fold(Node* node);
    Node* chain(NodeKind kind, const std::vector<Node*>& items);

    Node* parseItem();
    Node* parseVarDecl();
    Node* parseFunction();
    Node* parseBlock();
    Node* parseStatement();
    Node* parseStatementBody();
    Node* parseFor();
    Node* parseExpression();
    Node* parseAssignment();
    Node* parseConditional(bool* prefix);
    Node* parseBinary(int minPrecedence, bool* prefix);
    Node* parseUnary(bool* prefix);
    Node* parsePrefix();
    Node* parsePostfix();
    Node* parsePrimary();
    Node* makeIdentifier();
    Node* makeConstant(int token);

    Lexer& lexer_;
    Tree& tree_;
    ConstantFolder folder_;
    Report report_;
    int token_ = 0;
    bool havePeek_ = false;
    int errFlag_ = 0;
    int errors_ = 0;
    int depth_ = 0;
};

} // namespace zelvo::script
