#pragma once
/*
 * Nerrit: the remote file server library.
 *
 * A client on the far end of the serial line uses this machine's disks through it. The
 * program passes every byte of a request packet to ServerReceive; when that returns 0 the
 * request stands unpacked in the buffer, ServerDispatch carries it out and leaves the
 * reply in the same buffer, and the program sends the number of bytes it returned.
 *
 * The buffer belongs to the caller and must hold at least 1052 bytes. Nothing is
 * allocated or freed across this interface. The functions are not reentrant: call them
 * from one thread.
 *
 * Drives: the client's drive letters map to directories through the settings store key
 * software\brunmo\zelvo32\rfs (string values "A".."Z"; without any, C: is
 * ~/zelvo32-share). Every path stays inside its drive's directory.
 *
 * Attributes seen by the client: directory for a directory; archive for every regular
 * file; read-only for a file without the owner's write permission; hidden for a name that
 * begins with '.'; never system. Dates and times are local time.
 */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define NERRIT_API __attribute__((visibility("default")))

/* Passes one received byte (low 8 bits of byte) at position (0 for the first byte of a
 * packet). Returns position + 1 while the packet is incomplete, 0 when it is complete and
 * correct, -1 when it is refused (start again at position 0). */
NERRIT_API int32_t ServerReceive(unsigned char* buffer, int32_t position, int32_t byte);

/* Carries out the request received in buffer and builds the reply there. Returns the
 * number of bytes to send from the start of buffer. */
NERRIT_API int32_t ServerDispatch(unsigned char* buffer);

/* Copies the ten traffic counters into record (entry 0 is 1, entry 1 is 0; then link
 * bytes received, reply bytes before and after packing at 3 and 5, request bytes after
 * unpacking at 4, requests accepted, replies built, check-sum errors, packet errors) and
 * returns record. */
NERRIT_API uint32_t* ServerStatistic(uint32_t* record);

#ifdef __cplusplus
}
#endif
