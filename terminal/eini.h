#pragma once
// Errors of the key map file and its record store. The codes and texts are those of the
// program's error table; ErrorCode() gives the negative code like every exception of the
// program's tree.

#include <stdexcept>
#include <string>

namespace zelvo::terminal {

constexpr int ecKeyTooLong = -7001;
constexpr int ecDataTooLong = -7002;
constexpr int ecNoFields = -7003;
constexpr int ecIniWrite = -7004;
constexpr int ecIniRead = -7005;
constexpr int ecNoIndex = -7006;
constexpr int ecRecordExists = -7007;
constexpr int ecRecNotFound = -7008;
constexpr int ecDatabaseFull = -7010;
constexpr int ecDatabaseEmpty = -7011;
constexpr int ecIniNotPrepared = -7012;

// Text of one of the codes above ("" for any other code).
const char* iniErrorText(int code);

class EINI : public std::runtime_error {
public:
    explicit EINI(int code)
        : std::runtime_error(iniErrorText(code)), code_(code) {}
    int ErrorCode() const { return code_; }

private:
    int code_;
};

} // namespace zelvo::terminal
