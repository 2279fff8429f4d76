// The exported functions of the library. Every export catches whatever the engine
// raises, so nothing ever unwinds into the host.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "script_engine/builtins.h"
#include "script_engine/codegen.h"
#include "script_engine/lexer.h"
#include "script_engine/orv_exception.h"
#include "script_engine/orvscript.h"
#include "script_engine/parser.h"
#include "script_engine/script_handle.h"
#include "script_engine/syntax_tree.h"
#include "script_engine/vm.h"

using namespace zelvo::script;

namespace zelvo::script {

void reportError(ScriptHandle* h, const std::string& message)
{
    if (h->errorFunc)
        h->errorFunc(message.c_str());
}

void dropProgram(ScriptHandle* h)
{
    if (h->stack) {
        for (int i = 0; i < kStackSize; ++i)
            releaseValue(h->stack[i]);
        delete[] h->stack;
        h->stack = nullptr;
    }
    delete[] h->code;
    h->code = nullptr;
    delete[] h->data;
    h->data = nullptr;
    for (StrBody* body : h->literals)
        if (body && --body->refs == 0)
            freeBody(body);
    h->literals.clear();
    h->codeSize = 0;
    h->dataSize = 0;
    h->stackLimit = 0;
    h->stackTop = kStackSize - 1;
}

} // namespace zelvo::script

namespace {

void destroy(ScriptHandle* h)
{
    dropProgram(h);
    Builtins::closeFiles(h);
    while (HostFunction* f = h->hostFunctions) {
        h->hostFunctions = f->next;
        delete f;
    }
    releaseValue(h->a);
    releaseValue(h->b);
    delete h;
}

// Longest script file read; a bigger one cannot be a program of 1000 instructions and is
// refused rather than read into memory.
constexpr size_t kMaxSourceSize = 64u * 1024u * 1024u;

enum class ReadResult { Ok, Unreadable, TooLarge };

// Reads the file up to its first NUL byte, which ends the input anyway.
ReadResult readFile(const char* path, std::string& out)
{
    std::FILE* f = std::fopen(path, "rb");
    if (!f)
        return ReadResult::Unreadable;
    ReadResult result = ReadResult::Ok;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        const void* nul = std::memchr(buffer, '\0', n);
        size_t take = nul ? static_cast<size_t>(static_cast<const char*>(nul) - buffer) : n;
        if (out.size() + take > kMaxSourceSize) {
            result = ReadResult::TooLarge;
            break;
        }
        out.append(buffer, take);
        if (nul)
            break;
    }
    if (result == ReadResult::Ok && std::ferror(f))
        result = ReadResult::Unreadable;
    std::fclose(f);
    return result;
}

// Clears the instance's pointers to the compiler objects however compilation ends.
struct CompilerScope {
    ScriptHandle* h;
    ~CompilerScope()
    {
        h->parser = nullptr;
        h->lexer = nullptr;
        h->codeGen = nullptr;
    }
};

int compile(ScriptHandle* h, const char* path)
{
    std::string raw;
    switch (readFile(path, raw)) {
    case ReadResult::Unreadable:
        return 0;
    case ReadResult::TooLarge:
        reportError(h, formatMessage("Line %d: %s", 1, "script file too large"));
        return 0;
    case ReadResult::Ok:
        break;
    }
    auto report = [h](const std::string& message) { reportError(h, message); };
    CompilerScope scope{h};
    Tree tree;
    Lexer lexer(Lexer::textMode(raw));
    raw.clear();
    raw.shrink_to_fit();
    Parser parser(lexer, tree, report);
    h->lexer = &lexer;
    h->parser = &parser;
    Node* root = nullptr;
    try {
        root = parser.parse();
    } catch (const LexOverflow&) {
        reportError(h, formatMessage("Line %d: %s", lexer.line(), "Out of memory."));
        return 0;
    }
    h->parser = nullptr;
    h->lexer = nullptr;
    if (parser.errors() > 0)
        return 0;

    h->code = new (std::nothrow) Instruction[kCodeCapacity]();
    h->stack = new (std::nothrow) ScriptValue[kStackSize];
    h->data = new (std::nothrow) char[kDataCapacity]();
    if (!h->code || !h->stack || !h->data) {
        delete[] h->stack;
        h->stack = nullptr;
        dropProgram(h);
        reportError(h, "Error: Out of memory.");
        return 0;
    }
    for (int i = 0; i < kStackSize; ++i)
        h->stack[i] = intValue(0);

    CodeGen gen(h->code, h->stack, h->data, report);
    h->codeGen = &gen;
    for (HostFunction* f = h->hostFunctions; f; f = f->next)
        gen.defineExternal(f->name);
    h->compiledFunctionCount = h->functionCount;
    gen.generate(root);
    h->codeGen = nullptr;
    if (gen.errors() > 0) {
        dropProgram(h);
        return 0;
    }
    h->stackLimit = gen.globals();
    h->stackTop = kStackSize - 1;
    h->codeSize = gen.codeSize();
    h->dataSize = gen.dataSize();
    return 1;
}

const ScriptValue* argument(ScriptHandle* h, int index)
{
    if (!h || !h->inHostCall || !h->stack || index < 0 || index >= h->argCount)
        return nullptr;
    int64_t slot = static_cast<int64_t>(h->sp) + 2 + index;
    if (slot < 0 || slot > h->stackTop)
        return nullptr;
    return &h->stack[slot];
}

} // namespace

extern "C" {

ScriptHandle* ScriptInit(void)
{
    ScriptHandle* h = new (std::nothrow) ScriptHandle();
    if (!h)
        return nullptr;
    if (!Builtins::registerAll(h)) {
        destroy(h);
        return nullptr;
    }
    return h;
}

void ScriptSetErrorFunc(ScriptHandle* handle, ScriptErrorFunc func)
{
    if (handle)
        handle->errorFunc = func;
}

void ScriptSetStdoutFunc(ScriptHandle* handle, ScriptStdoutFunc func)
{
    if (handle)
        handle->stdoutFunc = func;
}

void ScriptSetStdinFunc(ScriptHandle* handle, ScriptStdinFunc func)
{
    if (handle)
        handle->stdinFunc = func;
}

void ScriptSetOpFunc(ScriptHandle* handle, ScriptOpFunc func)
{
    if (handle)
        handle->opFunc = func;
}

void ScriptSetLineFunc(ScriptHandle* handle, ScriptLineFunc func)
{
    if (handle)
        handle->lineFunc = func;
}

HostFunction* ScriptAddFunction(ScriptHandle* handle, const char* name, const char* signature,
                                ScriptHostFunc func)
{
    if (!handle || !name || !signature || !func)
        return nullptr;
    HostFunction* f = new (std::nothrow) HostFunction{name, signature, func, handle->hostFunctions};
    if (f) {
        handle->hostFunctions = f;
        ++handle->functionCount;
    }
    return f;
}

int ScriptCompile(ScriptHandle* handle, const char* path)
{
    if (!handle || !path || handle->running || handle->compiling)
        return 0;
    handle->compiling = true;
    dropProgram(handle);
    int result = 0;
    try {
        result = compile(handle, path);
    } catch (const std::bad_alloc&) {
        dropProgram(handle);
        reportError(handle, "Error: Out of memory.");
    } catch (...) {
        dropProgram(handle);
    }
    handle->compiling = false;
    // The error callback closed the instance while it was being compiled.
    if (handle->closePending) {
        destroy(handle);
        return 0;
    }
    return result;
}

int ScriptExecute(ScriptHandle* handle)
{
    if (!handle || handle->running || handle->compiling || !handle->code)
        return 1;
    handle->running = true;
    try {
        Vm::run(handle);
    } catch (...) {
        // The machine reports its own errors; anything else must still not escape.
    }
    handle->running = false;
    handle->inHostCall = false;
    if (handle->closePending)
        destroy(handle);
    return 1;
}

void ScriptClose(ScriptHandle* handle)
{
    if (!handle)
        return;
    if (handle->running || handle->compiling) {
        handle->closePending = true;
        return;
    }
    destroy(handle);
}

int ScriptGetArgType(ScriptHandle* handle, int index)
{
    const ScriptValue* v = argument(handle, index);
    return v && v->type == kString ? 1 : 0;
}

int ScriptGetIntArg(ScriptHandle* handle, int index)
{
    const ScriptValue* v = argument(handle, index);
    return v && v->type == kInteger ? v->i : 0;
}

const char* ScriptGetStrArg(ScriptHandle* handle, int index)
{
    const ScriptValue* v = argument(handle, index);
    return v && v->type == kString ? v->s->chars() : nullptr;
}

void ScriptReturnInt(ScriptHandle* handle, int value)
{
    if (handle)
        setInt(handle->a, value);
}

void ScriptReturnStr(ScriptHandle* handle, const char* text)
{
    if (!handle)
        return;
    if (!text)
        text = "";
    Builtins::returnString(handle, text, std::strlen(text));
}

} // extern "C"
