#pragma once
// The exception tree raised at the port component's boundary. Inside the communications
// code every failure is a negative result code; raiseForCode() turns one into the
// exception class that belongs to it, with the code's text from the error table.
//
//   EQarnException
//     EGeneral   - EBadArgument
//     EOpenComm  - EBadId, ECommNotOpen, EAlreadyOpen, ENoPortSelected, ENotOpenedByTapi
//     ESerialIO  - ENullApi, EPutBlockFail, EOutputBufferTooSmall, EBufferIsEmpty,
//                  EBaseAddressNotSet
//     ETrigger   - ENoMoreTriggers, ETriggerTooLong, EBadTriggerHandle
//     EModem, EProtocol, ETapi (used by the modem, protocol and telephony code)
//     EInOutError  (platform errors: minus errno, codes -1 .. -999)
//     EOutOfMemory (minus ENOMEM)

#include <stdexcept>
#include <string>

namespace zelvo::comm {

class EQarnException : public std::runtime_error {
public:
    EQarnException(int code, const std::string& message)
        : std::runtime_error(message), code_(code) {}
    // The negative result code the exception was raised for.
    int ErrorCode() const { return code_; }

private:
    int code_;
};

#define ZELVO_COMM_EXCEPTION(Name, Base)                                                   \
    class Name : public Base {                                                             \
    public:                                                                                \
        using Base::Base;                                                                  \
    };

ZELVO_COMM_EXCEPTION(EGeneral, EQarnException)
ZELVO_COMM_EXCEPTION(EOpenComm, EQarnException)
ZELVO_COMM_EXCEPTION(ESerialIO, EQarnException)
ZELVO_COMM_EXCEPTION(ETrigger, EQarnException)
ZELVO_COMM_EXCEPTION(EModem, EQarnException)
ZELVO_COMM_EXCEPTION(EProtocol, EQarnException)
ZELVO_COMM_EXCEPTION(ETapi, EQarnException)
ZELVO_COMM_EXCEPTION(EOutOfMemory, EQarnException)

ZELVO_COMM_EXCEPTION(EBadArgument, EGeneral)

ZELVO_COMM_EXCEPTION(EBadId, EOpenComm)
ZELVO_COMM_EXCEPTION(ECommNotOpen, EOpenComm)
ZELVO_COMM_EXCEPTION(EAlreadyOpen, EOpenComm)
ZELVO_COMM_EXCEPTION(ENoPortSelected, EOpenComm)
ZELVO_COMM_EXCEPTION(ENotOpenedByTapi, EOpenComm)

ZELVO_COMM_EXCEPTION(ENullApi, ESerialIO)
ZELVO_COMM_EXCEPTION(EPutBlockFail, ESerialIO)
ZELVO_COMM_EXCEPTION(EOutputBufferTooSmall, ESerialIO)
ZELVO_COMM_EXCEPTION(EBufferIsEmpty, ESerialIO)
ZELVO_COMM_EXCEPTION(EBaseAddressNotSet, ESerialIO)

ZELVO_COMM_EXCEPTION(ENoMoreTriggers, ETrigger)
ZELVO_COMM_EXCEPTION(ETriggerTooLong, ETrigger)
ZELVO_COMM_EXCEPTION(EBadTriggerHandle, ETrigger)

#undef ZELVO_COMM_EXCEPTION

// Platform file and system errors. Carries the code (negative) like every other class;
// ErrorNumber() gives the positive platform number.
class EInOutError : public EQarnException {
public:
    using EQarnException::EQarnException;
    int ErrorNumber() const { return -ErrorCode(); }
};

// Text of a result code: the error table's text for its absolute value, else, for
// platform errors (-1 .. -999, minus errno), the platform's message for that number
// with control characters made spaces, else "Qarn exception". The one place where
// codes become words.
std::string ErrorText(int code);

// Throws the exception that belongs to a negative code. Does nothing for 0 or more.
void RaiseForCode(int code);

} // namespace zelvo::comm
