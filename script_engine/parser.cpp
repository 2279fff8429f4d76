#include "script_engine/parser.h"

#include <climits>
#include <cstdint>

#include "platform/hex_digit.h"
#include "script_engine/orv_exception.h"
#include "script_engine/tokens.h"

namespace zelvo::script {
namespace {

// A decimal or hexadecimal constant; values above 2147483647 become 2147483647.
int32_t convertNumber(const char* digits, size_t n, int base)
{
    int64_t value = 0;
    for (size_t i = 0; i < n; ++i) {
        value = value * base + platform::HexDigitValue(digits[i]);
        if (value > INT32_MAX)
            return INT32_MAX;
    }
    return static_cast<int32_t>(value);
}

// Escape processing of the characters between the quotes of a literal.
std::string processEscapes(const char* p, size_t n)
{
    std::string out;
    out.reserve(n);
    size_t i = 0;
    while (i < n) {
        char c = p[i++];
        if (c != '\\' || i >= n) {
            out.push_back(c);
            continue;
        }
        char e = p[i++];
        switch (e) {
        case 'a': out.push_back('\a'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'x': {
            unsigned v = 0;
            while (i < n && platform::HexDigitValue(p[i]) >= 0)
                v = (v * 16 + static_cast<unsigned>(platform::HexDigitValue(p[i++]))) & 0xFF;
            out.push_back(static_cast<char>(v));
            break;
        }
        default:
            if (e >= '0' && e <= '7') {
                unsigned v = static_cast<unsigned>(e - '0');
                while (i < n && p[i] >= '0' && p[i] <= '7')
                    v = (v * 8 + static_cast<unsigned>(p[i++] - '0')) & 0xFF;
                out.push_back(static_cast<char>(v));
            } else {
                // \v and every other escaped character stand for themselves.
                out.push_back(e);
            }
            break;
        }
    }
    return out;
}

bool isAssignOperator(int t)
{
    return t == '=' || (t >= tkAddAssign && t <= tkOrAssign);
}

bool isExpressionStart(int t)
{
    switch (t) {
    case tkIdent: case tkDec: case tkHex: case tkChar: case tkString:
    case '(': case '+': case '-': case '~': case '!': case tkInc: case tkDec2:
        return true;
    default:
        return false;
    }
}

// Binding strength of binary operators, 0 = loosest; -1 for other tokens.
int precedence(int t)
{
    switch (t) {
    case tkOrOr: return 0;
    case tkAndAnd: return 1;
    case '|': return 2;
    case '^': return 3;
    case '&': return 4;
    case tkEq: case tkNe: return 5;
    case '<': case '>': case tkLe: case tkGe: return 6;
    case tkShl: case tkShr: return 7;
    case '+': case '-': return 8;
    case '*': case '/': case '%': return 9;
    default: return -1;
    }
}

} // namespace

// Bounds the recursion of the parser (and with it of every later walk of the tree).
class Parser::DepthGuard {
public:
    explicit DepthGuard(Parser& p) : p_(p)
    {
        if (++p_.depth_ > kMaxNesting)
            p_.fatal("nesting too deep");
    }
    ~DepthGuard() { --p_.depth_; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;

private:
    Parser& p_;
};

Parser::Parser(Lexer& lexer, Tree& tree, Report report)
    : lexer_(lexer), tree_(tree), folder_(tree), report_(std::move(report))
{
}

int Parser::peek()
{
    if (!havePeek_) {
        token_ = lexer_.next();
        havePeek_ = true;
    }
    return token_;
}

void Parser::accept()
{
    havePeek_ = false;
    if (errFlag_ > 0)
        --errFlag_;
}

void Parser::skip()
{
    havePeek_ = false;
}

void Parser::expect(int token)
{
    if (peek() != token)
        syntaxError();
    accept();
}

void Parser::syntaxError()
{
    if (errFlag_ == 0) {
        report_(formatMessage("Line %d: %s", lexer_.line(), "syntax error"));
        ++errors_;
    }
    errFlag_ = 3;
    throw SyntaxError{};
}

void Parser::fatal(const char* message)
{
    report_(formatMessage("Line %d: %s", lexer_.line(), message));
    ++errors_;
    throw Abort{};
}

void Parser::recoverStatement()
{
    while (peek() != ';') {
        if (peek() == tkEnd)
            throw Abort{};
        skip();
    }
    accept();
}

Node* Parser::make(NodeKind kind, Node* c0, Node* c1, Node* c2, Node* c3)
{
    if (tree_.size() >= kMaxNodes)
        fatal("program too large");
    Node* n = tree_.make(kind, lexer_.line(), c0, c1, c2, c3);
    if (n->height > kMaxHeight)
        fatal("expression too complex");
    return n;
}

Node* Parser::fold(Node* node)
{
    try {
        return folder_.fold(node);
    } catch (const OrvException& e) {
        report_(limitMessage(formatMessage("Line %d: ", lexer_.line()) + e.message()));
        ++errors_;
        return node;
    }
}

// A right-leaning list of the items, built from its end as a right-recursive rule does.
Node* Parser::chain(NodeKind kind, const std::vector<Node*>& items)
{
    Node* rest = nullptr;
    int count = 0;
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        Node* item = *it;
        if (kind == NodeKind::Arg || kind == NodeKind::Comma)
            item = fold(item);
        if (kind == NodeKind::Comma && !rest) {
            rest = item;
            continue;
        }
        rest = make(kind, item, rest);
        rest->count = ++count;
    }
    return rest;
}

Node* Parser::parse()
{
    std::vector<Node*> items;
    try {
        do {
            try {
                items.push_back(parseItem());
            } catch (const SyntaxError&) {
                // Top-level recovery: nothing can follow but the end of the input.
                while (peek() != tkEnd)
                    skip();
                break;
            }
        } while (peek() != tkEnd);
    } catch (const Abort&) {
        return nullptr;
    }
    try {
        return chain(NodeKind::DeclList, items);
    } catch (const Abort&) {
        return nullptr;
    }
}

Node* Parser::parseItem()
{
    if (peek() == tkVar)
        return parseVarDecl();
    return parseFunction();
}

Node* Parser::makeIdentifier()
{
    if (peek() != tkIdent)
        syntaxError();
    Node* id = make(NodeKind::Identifier);
    id->name.assign(lexer_.text(), lexer_.textLength());
    accept();
    return id;
}

Node* Parser::parseVarDecl()
{
    expect(tkVar);
    std::vector<Node*> items;
    for (;;) {
        Node* id = makeIdentifier();
        Node* init = nullptr;
        if (peek() == '=') {
            accept();
            Node* value = parseConditional(nullptr);
            init = make(NodeKind::Initializer, fold(value));
        }
        items.push_back(make(NodeKind::VarDecl, id, init));
        if (peek() != ',')
            break;
        accept();
    }
    expect(';');
    return chain(NodeKind::VarList, items);
}

Node* Parser::parseFunction()
{
    if (peek() == tkVoid)
        accept();
    Node* name = makeIdentifier();
    expect('(');
    std::vector<Node*> params;
    if (peek() == tkVoid) {
        accept();
    } else if (peek() != ')') {
        for (;;) {
            params.push_back(makeIdentifier());
            if (peek() != ',')
                break;
            accept();
        }
    }
    expect(')');
    Node* paramList = chain(NodeKind::Param, params);
    Node* body = parseBlock();
    return make(NodeKind::Function, name, paramList, body);
}

Node* Parser::parseBlock()
{
    expect('{');
    std::vector<Node*> decls;
    std::vector<Node*> statements;
    while (peek() == tkVar) {
        try {
            decls.push_back(parseVarDecl());
        } catch (const SyntaxError&) {
            // The error becomes an (erroneous) statement, so the declarations are over.
            recoverStatement();
            break;
        }
    }
    while (peek() != '}') {
        Node* s = parseStatement();
        if (s)
            statements.push_back(s);
    }
    Node* declList = chain(NodeKind::LocalDeclList, decls);
    Node* statementList = chain(NodeKind::StatementList, statements);
    accept();
    return make(NodeKind::Block, declList, statementList);
}

Node* Parser::parseStatement()
{
    DepthGuard guard(*this);
    try {
        return parseStatementBody();
    } catch (const SyntaxError&) {
        recoverStatement();
        return nullptr;
    }
}

Node* Parser::parseStatementBody()
{
    switch (peek()) {
    case '{':
        return parseBlock();
    case tkIf: {
        accept();
        expect('(');
        Node* cond = parseExpression();
        expect(')');
        Node* then = parseStatement();
        Node* otherwise = nullptr;
        if (peek() == tkElse) {
            accept();
            otherwise = parseStatement();
        }
        return make(NodeKind::If, cond, then, otherwise);
    }
    case tkWhile: {
        accept();
        expect('(');
        Node* cond = parseExpression();
        expect(')');
        Node* body = parseStatement();
        return make(NodeKind::While, cond, body);
    }
    case tkDo: {
        accept();
        Node* body = parseStatement();
        expect(tkWhile);
        expect('(');
        Node* cond = parseExpression();
        expect(')');
        expect(';');
        return make(NodeKind::Do, body, cond);
    }
    case tkFor:
        return parseFor();
    case tkBreak:
        accept();
        expect(';');
        return make(NodeKind::Break);
    case tkContinue:
        accept();
        expect(';');
        return make(NodeKind::Continue);
    case tkReturn: {
        accept();
        Node* value = nullptr;
        if (peek() != ';')
            value = parseExpression();
        expect(';');
        return make(NodeKind::Return, value);
    }
    case ';':
        accept();
        return nullptr;
    default:
        if (!isExpressionStart(peek()))
            syntaxError();
        Node* e = parseExpression();
        expect(';');
        return e;
    }
}

Node* Parser::parseFor()
{
    accept();
    expect('(');
    Node* init = nullptr;
    Node* cond = nullptr;
    Node* step = nullptr;
    try {
        if (peek() != ';')
            init = parseExpression();
        expect(';');
        if (peek() != ';')
            cond = parseExpression();
        expect(';');
        if (peek() != ')')
            step = parseExpression();
        expect(')');
    } catch (const SyntaxError&) {
        while (peek() != ')') {
            if (peek() == tkEnd)
                throw Abort{};
            skip();
        }
        accept();
        parseStatement();
        return nullptr;
    }
    Node* body = parseStatement();
    return make(NodeKind::For, init, cond, step, body);
}

Node* Parser::parseExpression()
{
    std::vector<Node*> items;
    items.push_back(parseAssignment());
    while (peek() == ',') {
        accept();
        items.push_back(parseAssignment());
    }
    if (items.size() == 1)
        return items[0];
    return chain(NodeKind::Comma, items);
}

Node* Parser::parseAssignment()
{
    DepthGuard guard(*this);
    bool prefix = false;
    Node* target = parseConditional(&prefix);
    if (!isAssignOperator(peek()))
        return target;
    // Only a prefix-expr may stand left of an assignment operator.
    if (!prefix)
        syntaxError();
    int op = peek();
    accept();
    Node* value = parseAssignment();
    Node* n = make(NodeKind::Assign, fold(target), fold(value));
    n->op = op;
    return n;
}

Node* Parser::parseConditional(bool* prefix)
{
    Node* cond = parseBinary(0, prefix);
    if (peek() != '?')
        return cond;
    if (prefix)
        *prefix = false;
    DepthGuard guard(*this);
    accept();
    Node* ifTrue = parseConditional(nullptr);
    expect(':');
    Node* ifFalse = parseConditional(nullptr);
    return make(NodeKind::Conditional, fold(cond), fold(ifTrue), fold(ifFalse));
}

Node* Parser::parseBinary(int minPrecedence, bool* prefix)
{
    Node* left = parseUnary(prefix);
    for (;;) {
        int op = peek();
        int p = precedence(op);
        if (p < minPrecedence)
            return left;
        if (prefix)
            *prefix = false;
        accept();
        Node* right = parseBinary(p + 1, nullptr);
        NodeKind kind = (op == tkOrOr || op == tkAndAnd) ? NodeKind::Logical : NodeKind::Binary;
        left = make(kind, fold(left), fold(right));
        left->op = op;
    }
}

Node* Parser::parseUnary(bool* prefix)
{
    int op = peek();
    if (op == '+' || op == '-' || op == '~' || op == '!') {
        if (prefix)
            *prefix = false;
        DepthGuard guard(*this);
        accept();
        Node* operand = parseUnary(nullptr);
        if (op == '+')
            return operand;
        Node* n = make(NodeKind::Unary, fold(operand));
        n->op = op;
        return n;
    }
    if (prefix)
        *prefix = true;
    return parsePrefix();
}

Node* Parser::parsePrefix()
{
    int op = peek();
    if (op != tkInc && op != tkDec2)
        return parsePostfix();
    DepthGuard guard(*this);
    accept();
    Node* operand = parsePrefix();
    Node* n = make(NodeKind::PreInc, fold(operand));
    n->op = op;
    return n;
}

Node* Parser::parsePostfix()
{
    Node* e = parsePrimary();
    while (peek() == tkInc || peek() == tkDec2) {
        int op = peek();
        accept();
        e = make(NodeKind::PostInc, fold(e));
        e->op = op;
    }
    return e;
}

Node* Parser::makeConstant(int token)
{
    const char* text = lexer_.text();
    size_t n = lexer_.textLength();
    Node* c = make(NodeKind::Constant);
    switch (token) {
    case tkDec:
        c->value = intValue(convertNumber(text, n, 10));
        break;
    case tkHex:
        c->value = intValue(convertNumber(text + 2, n - 2, 16));
        break;
    case tkChar: {
        std::string chars = processEscapes(text + 1, n - 2);
        c->value = intValue(chars.empty() ? 0 : static_cast<int8_t>(static_cast<unsigned char>(chars[0])));
        break;
    }
    default: {
        std::string chars = processEscapes(text + 1, n - 2);
        size_t end = chars.find('\0');
        if (end != std::string::npos)
            chars.resize(end);
        try {
            setString(c->value, chars.data(), chars.size());
        } catch (const OrvException& e) {
            fatal(e.message().c_str());
        }
        break;
    }
    }
    accept();
    return c;
}

Node* Parser::parsePrimary()
{
    int t = peek();
    switch (t) {
    case tkIdent: {
        Node* id = makeIdentifier();
        if (peek() != '(')
            return id;
        accept();
        std::vector<Node*> args;
        if (peek() != ')') {
            for (;;) {
                args.push_back(parseAssignment());
                if (peek() != ',')
                    break;
                accept();
            }
        }
        expect(')');
        Node* argList = chain(NodeKind::Arg, args);
        return make(NodeKind::Call, id, argList);
    }
    case '(': {
        accept();
        Node* e = parseExpression();
        expect(')');
        return e;
    }
    case tkDec:
    case tkHex:
    case tkChar:
    case tkString:
        return makeConstant(t);
    default:
        syntaxError();
    }
}

} // namespace zelvo::script
