#pragma once
// Runs one fuzz input against the file server, as the program would drive it, inside a
// temporary drive directory that is laid out afresh for every input. Shared by the
// libFuzzer target and the unit test that replays the kept crashers.
//
// The first byte chooses how the rest is read:
//   even: a raw byte stream, fed through ServerReceive with the program's position rule
//         (start over at 0 after -1, dispatch after 0);
//   odd:  a list of requests, each [code, packing, owner, n, n bytes of payload], framed
//         with a correct header and check sum, so every operation is reached easily.
// Aborts when anything outside the drive directories changed.

#include <cstddef>
#include <cstdint>

namespace rfs_fuzz {

void runInput(const uint8_t* data, size_t size);

} // namespace rfs_fuzz
