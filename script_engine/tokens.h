#pragma once

namespace zelvo::script {

// Token codes shared by the lexer, the parser and the syntax tree. Every other character
// is a token by itself with its character code (0 to 255) as its code.
enum Token : int {
    tkEnd = 0,
    tkError = 256,
    tkDec = 257,
    tkHex = 258,
    tkChar = 259,
    tkString = 260,
    tkIdent = 261,
    tkBreak = 262,
    tkContinue = 263,
    tkDo = 264,
    tkElse = 265,
    tkFor = 266,
    tkIf = 267,
    tkReturn = 268,
    tkWhile = 269,
    tkVar = 270,
    tkVoid = 271,
    tkOrOr = 272,
    tkAndAnd = 273,
    tkEq = 274,
    tkNe = 275,
    tkLe = 276,
    tkGe = 277,
    tkShl = 278,
    tkShr = 279,
    tkInc = 280,
    tkDec2 = 281, // "--"
    tkAddAssign = 282,
    tkSubAssign = 283,
    tkMulAssign = 284,
    tkDivAssign = 285,
    tkModAssign = 286,
    tkShlAssign = 287,
    tkShrAssign = 288,
    tkAndAssign = 289,
    tkXorAssign = 290,
    tkOrAssign = 291,
};

} // namespace zelvo::script
