#pragma once

#include <map>
#include <string>
#include <vector>

namespace zelvo::script {

enum class SymbolKind { Undefined, Global, Parameter, Local, ScriptFunction, ExternalFunction };

struct Symbol {
    SymbolKind kind = SymbolKind::Undefined;
    int value = 0; // slot, position, frame index, label number or host-function index
};

// A chain of scopes, innermost last; each scope is a search tree ordered by byte-wise
// name comparison. Definition goes into the innermost scope; lookup searches outwards.
class SymbolTable {
public:
    SymbolTable() { openScope(); }

    void openScope() { scopes_.emplace_back(); }
    void closeScope()
    {
        if (scopes_.size() > 1)
            scopes_.pop_back();
    }

    // False when the name is already defined in the innermost scope.
    bool define(const std::string& name, SymbolKind kind, int value)
    {
        return scopes_.back().emplace(name, Symbol{kind, value}).second;
    }

    Symbol lookup(const std::string& name) const
    {
        for (auto it = scopes_.rbegin(); it != scopes_.rend(); ++it) {
            auto found = it->find(name);
            if (found != it->end())
                return found->second;
        }
        return Symbol{};
    }

    Symbol lookupGlobal(const std::string& name) const
    {
        auto found = scopes_.front().find(name);
        return found == scopes_.front().end() ? Symbol{} : found->second;
    }

private:
    std::vector<std::map<std::string, Symbol>> scopes_;
};

} // namespace zelvo::script
