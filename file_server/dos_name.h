#pragma once
// DOS name rules used by the file server: 8.3 names, the client's blank-padded wildcard
// patterns, FCB-style matching (a name of 8 and an extension of 3 characters where '?'
// also matches padding), destination patterns of rename, and 8.3 aliases for long names.

#include <array>
#include <string>
#include <string_view>

namespace zelvo::file_server {

// ASCII upper case; bytes above 0x7F (the code page's letters) are left alone.
char dosUpper(char c);
std::string dosUpper(std::string_view s);
bool equalsIgnoreCase(std::string_view a, std::string_view b);

// True for a character that may appear in an 8.3 name part.
bool isShortNameChar(char c);
// True when name is a valid 8.3 name when folded to upper case ("readme.txt" is).
bool isValidShortName(std::string_view name);
// True when a name given by the client may be created on disk: not empty, not "." or
// "..", without wildcards, separators, control characters or the DOS-reserved characters.
bool isValidNewName(std::string_view name);
bool hasWildcards(std::string_view s);

// Rewrites the client's blank-padded patterns in place: an 8-character name ending in
// '?' gets its trailing '?' replaced by '*' (AB?????? -> AB*), and likewise a 3-character
// extension (.TX? -> .TX*), so ????????.??? becomes *.*.
void normalisePattern(std::string& pattern);

// Whether a directory entry matches a search pattern (the pattern's last component): by
// its 8.3 name under the FCB rules, or by its long name with '*' and '?' as usual.
bool patternMatches(std::string_view pattern, std::string_view shortName, std::string_view longName);
// The FCB rule alone: pattern and name are laid out as 8 + 3 blank-padded characters, '*'
// fills the rest of its part with '?', and '?' matches any character including padding.
bool fcbMatches(std::string_view pattern, std::string_view shortName);
// Case-insensitive glob: '*' any run of characters, '?' exactly one.
bool globMatches(std::string_view pattern, std::string_view name);

// Rename's destination pattern applied to a name: '*' copies up to the name's next '.',
// '?' copies one character (not a '.'), '.' writes '.' and skips past the name's next '.',
// anything else is written and advances in the name.
std::string applyDestinationPattern(std::string_view pattern, std::string_view name);

// Parts of the 8.3 alias of a long name: the cleaned upper-case base (at least one
// character) and an extension of at most 3 characters.
void aliasParts(std::string_view longName, std::string& base, std::string& ext);
// BASE~n.EXT with the base cut so the name part stays within 8 characters.
std::string makeAlias(std::string_view base, std::string_view ext, unsigned n);

} // namespace zelvo::file_server
