#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "script_engine/instruction.h"
#include "script_engine/script_value.h"
#include "script_engine/symbol_table.h"
#include "script_engine/syntax_tree.h"

namespace zelvo::script {

// Walks the syntax tree once, in source order, and writes the machine program into the
// code array, the initial values of global variables into the stack and the string
// literals into the data area. Messages go out as "Error: %s" and are counted.
class CodeGen {
public:
    using Report = std::function<void(const std::string&)>;

    // code: kCodeCapacity instructions; stack: kStackSize values; data: kDataCapacity bytes.
    CodeGen(Instruction* code, ScriptValue* stack, char* data, Report report);

    // Defines a host function as a global symbol; call in list order (index 0 first).
    void defineExternal(const char* name);
    // Writes the start-up code, then the program, then resolves every label.
    void generate(Node* root);

    int errors() const { return errors_; }
    int codeSize() const { return codeSize_; }
    int dataSize() const { return dataSize_; }
    int globals() const { return globals_; }

    static constexpr int kMaxLoopNesting = 50;

private:
    struct Label {
        int address = -1;
        std::vector<int> fixups;
    };

    void error(const std::string& text);
    int emit(int opcode, int operand = 0);
    int emitJump(int opcode, int label);
    int newLabel();
    void place(int label);
    void defineOrReport(const std::string& name, SymbolKind kind, int value);

    void gen(Node* n, bool address = false);
    void genNode(Node* n, bool address);
    void genFunction(Node* n);
    void genVarDecl(Node* n);
    void genLoopBody(Node* body, int breakLabel, int continueLabel);
    void genIdentifier(Node* n, bool address);
    void genCall(Node* n);

    Instruction* code_;
    ScriptValue* stack_;
    char* data_;
    Report report_;
    SymbolTable symbols_;
    std::vector<Label> labels_;
    std::vector<std::pair<int, int>> loops_; // (break label, continue label)
    int line_ = 0;
    int codeSize_ = 0;
    int dataSize_ = 0;
    int globals_ = 0;
    int params_ = 0;
    int locals_ = 0;
    int externals_ = 0;
    int level_ = 0;
    int returnLabel_ = -1;
    int errors_ = 0;
    bool codeFull_ = false;
    bool dataFull_ = false;
    bool lineTooLarge_ = false;
};

} // namespace zelvo::script
