/*
 * OrvScript: the script engine library (liborvscript.so).
 *
 * A host creates an instance with ScriptInit, installs its callbacks, registers its own
 * functions, compiles a script file and runs it as often as it likes, then closes the
 * instance. All state lives in the instance; several instances work independently. The
 * engine has no threads: every callback and host function runs synchronously inside
 * ScriptCompile or ScriptExecute on the caller's thread. Nothing throws across these
 * functions.
 *
 * Behaviour chosen where the language leaves room (all of it also covered by tests):
 *  - Limits. A program holds at most 1000 instructions, 1000 bytes of string literals and
 *    1000 global variables; a longer program is rejected at compile time with
 *    "Error: Line %d - Program too large (more than 1000 instructions).",
 *    "Error: Line %d - Too much string data (more than 1000 bytes)." or
 *    "Error: Line %d - Too many global variables.". Source lines above 65535 cannot be
 *    recorded in an instruction and are rejected ("Line number too large.").
 *    More than 50 loops inside one another give "Error: Line %d - Loops nested too deeply
 *    (more than 50).". Syntax nested deeper than 256 levels (brackets, statements,
 *    unary operators) gives "Line %d: nesting too deep", an expression tree deeper than
 *    1000 nodes "Line %d: expression too complex", and a source of more than 250000
 *    syntax-tree nodes "Line %d: program too large"; the compiler never recurses beyond
 *    these bounds. A script file larger than 64 MiB is refused with
 *    "Line 1: script file too large"; reading stops at a NUL byte, which ends the input.
 *  - Messages are formatted at full length; a message longer than 1023 bytes (a huge
 *    identifier, a long host error text) is cut to 1023 bytes.
 *  - When the lexer cannot enlarge its token text it writes
 *    "lex text buffer overflow (%d)\n" to standard error, reports "Line %d: Out of memory."
 *    through the error callback and the compilation fails. The lexer reads the whole file
 *    into memory, so it needs no push-back area.
 *  - A failed ScriptCompile leaves the instance without a program: a later ScriptExecute
 *    returns 1 at once without running anything.
 *  - Each run clears the stack slots above the global variables before it starts, so a
 *    run that follows a run-time error starts its locals at 0 as any other run does.
 *  - -2147483648 / -1 is -2147483648 and -2147483648 % -1 is 0 (two's-complement wrap).
 *  - Every stack access of the machine is range-checked; a bad index stops the run with
 *    "Invalid stack address.". Strings are limited to 16 MiB ("String too long."); an
 *    allocation failure during a run stops it with "Out of memory.".
 *  - fopen handles are small positive integers that are never reused within an instance.
 *    fclose of a handle that is not open returns 0; fprint to it stops the run with
 *    "fprint: Bad file handle.". Files still open at ScriptClose are closed then.
 *  - strset with a negative count gives the empty string; itoa with a radix outside
 *    2..36 stops the run with "itoa: Radix out of range."; atoi saturates at
 *    2147483647 / -2147483648.
 *  - toupper/tolower convert only the ASCII letters, on a private copy: the argument
 *    itself never changes. Called without an argument they give the integer 0.
 *  - gets ends the line when the stdin callback reports no input (a negative value) and
 *    ignores NUL characters, which a string cannot hold.
 *  - exec runs "/bin/sh -c COMMAND" as a grandchild: posix_spawn starts an intermediate
 *    /bin/sh that puts the command in the background and exits at once; the engine reaps
 *    exactly that intermediate process by its pid, and the command itself is adopted by
 *    init, so no zombie remains and the host's own children and SIGCHLD handling are
 *    never touched. The command inherits no file descriptors beyond 0, 1 and 2.
 *  - ScriptAddFunction with a null name, signature or function registers nothing and
 *    returns null. A function added after ScriptCompile is not known to that program,
 *    and the calls the program makes still reach the functions it was compiled against.
 *  - ScriptReturnStr(null) returns the empty string. Argument indices out of range read
 *    as integer 0 / null. Calls of ScriptCompile or ScriptExecute from inside a callback
 *    are refused (0 and 1), during a run and during a compilation alike; ScriptClose
 *    from inside one stops the run and frees the instance when ScriptExecute returns
 *    (or, from the error callback during a compilation, when ScriptCompile returns 0),
 *    after which the handle must not be used.
 */
#pragma once

#if defined(ORVSCRIPT_BUILDING)
#define ORVSCRIPT_API __attribute__((visibility("default")))
#else
#define ORVSCRIPT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The engine instance; the host only ever holds a pointer to it. */
typedef struct ScriptHandle ScriptHandle;
/* One registered host function (builtins included). */
typedef struct HostFunction HostFunction;

/* Receives every compile-time and run-time message. */
typedef void (*ScriptErrorFunc)(const char* message);
/* Receives every character a builtin writes to the console. */
typedef void (*ScriptStdoutFunc)(int ch);
/* Returns the next console character; 13 ends a gets line; may block. */
typedef int (*ScriptStdinFunc)(void);
/* Called before every instruction with its source line and index; 0 stops the run. */
typedef int (*ScriptOpFunc)(int line, int pc);
/* Called when execution reaches another source line (and when a one-line loop passes its
 * first instruction again); 0 stops the run. */
typedef int (*ScriptLineFunc)(int line, int pc);
/* A host function: returns null on success, else an error text that ends the run. */
typedef const char* (*ScriptHostFunc)(ScriptHandle* handle, int argCount);

ORVSCRIPT_API ScriptHandle* ScriptInit(void);
ORVSCRIPT_API void ScriptSetErrorFunc(ScriptHandle* handle, ScriptErrorFunc func);
ORVSCRIPT_API void ScriptSetStdoutFunc(ScriptHandle* handle, ScriptStdoutFunc func);
ORVSCRIPT_API void ScriptSetStdinFunc(ScriptHandle* handle, ScriptStdinFunc func);
ORVSCRIPT_API void ScriptSetOpFunc(ScriptHandle* handle, ScriptOpFunc func);
ORVSCRIPT_API void ScriptSetLineFunc(ScriptHandle* handle, ScriptLineFunc func);
/* name and signature are stored, not copied: they must stay valid until ScriptClose. */
ORVSCRIPT_API HostFunction* ScriptAddFunction(ScriptHandle* handle, const char* name,
                                              const char* signature, ScriptHostFunc func);
ORVSCRIPT_API int ScriptCompile(ScriptHandle* handle, const char* path);
ORVSCRIPT_API int ScriptExecute(ScriptHandle* handle);
ORVSCRIPT_API void ScriptClose(ScriptHandle* handle);
ORVSCRIPT_API int ScriptGetArgType(ScriptHandle* handle, int index);
ORVSCRIPT_API int ScriptGetIntArg(ScriptHandle* handle, int index);
/* Valid only during the host call that received it. */
ORVSCRIPT_API const char* ScriptGetStrArg(ScriptHandle* handle, int index);
ORVSCRIPT_API void ScriptReturnInt(ScriptHandle* handle, int value);
ORVSCRIPT_API void ScriptReturnStr(ScriptHandle* handle, const char* text);

#ifdef __cplusplus
}
#endif
