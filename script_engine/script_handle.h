#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "script_engine/instruction.h"
#include "script_engine/orvscript.h"
#include "script_engine/script_value.h"

namespace zelvo::script {
class Parser;
class Lexer;
class CodeGen;
} // namespace zelvo::script

// A registered host function. The name and signature are the caller's strings.
struct HostFunction {
    const char* name;
    const char* signature;
    ScriptHostFunc function;
    HostFunction* next;
};

// The engine instance: callbacks, host functions, the compiled program and the machine.
struct ScriptHandle {
    ScriptOpFunc opFunc = nullptr;
    ScriptLineFunc lineFunc = nullptr;
    ScriptStdinFunc stdinFunc = nullptr;
    ScriptStdoutFunc stdoutFunc = nullptr;
    ScriptErrorFunc errorFunc = nullptr;

    // Exist only while ScriptCompile runs.
    zelvo::script::Parser* parser = nullptr;
    zelvo::script::Lexer* lexer = nullptr;
    zelvo::script::CodeGen* codeGen = nullptr;

    HostFunction* hostFunctions = nullptr; // newest first
    // Records in hostFunctions, and how many there were when the program was compiled:
    // functions added later sit in front of the compiled indices and are skipped.
    int32_t functionCount = 0;
    int32_t compiledFunctionCount = 0;

    zelvo::script::Instruction* code = nullptr;  // kCodeCapacity instructions
    zelvo::script::ScriptValue* stack = nullptr; // kStackSize values
    char* data = nullptr;                        // kDataCapacity bytes

    int32_t pc = 0;
    int32_t sp = 0;
    int32_t bp = 0;
    zelvo::script::ScriptValue a = zelvo::script::intValue(0);
    zelvo::script::ScriptValue b = zelvo::script::intValue(0);
    int32_t argCount = 0;
    int32_t stackLimit = 0;
    int32_t stackTop = zelvo::script::kStackSize - 1;
    int32_t codeSize = 0;
    int32_t dataSize = 0;

    // Shared string bodies of the literals in data, made on first use, by offset.
    std::vector<zelvo::script::StrBody*> literals;
    // Streams opened by fopen, by handle; handles are never reused.
    std::map<int32_t, std::FILE*> files;
    int32_t nextFileHandle = 1;

    bool running = false;
    // Set while ScriptCompile works: the error callback may be called then, and a call
    // back into the instance must not touch the program under construction.
    bool compiling = false;
    bool closePending = false;
    bool inHostCall = false;
    // An error noticed inside an export called by a host function (which must not
    // throw); the machine raises it when the host function returns.
    const char* pendingError = nullptr;
};

namespace zelvo::script {

// Sends a message to the error callback, if there is one.
void reportError(ScriptHandle* h, const std::string& message);

// Drops the compiled program: code, stack (releasing every value), data, literals.
void dropProgram(ScriptHandle* h);

} // namespace zelvo::script
